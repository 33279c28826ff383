#include "cli/options.h"

#include <iostream>

#include "errors/error_kinds.h"

namespace ovrin {

CommandLineOptions::CommandLineOptions()
    : commands("Allowed commands", 80), options("Allowed options", 80), hidden("Hidden commands", 80) {
  commands.add_options()
      ("get-dump-list", "Get local repository files list. Available options --type, --guid, --id.")
      ("get-ftp-dump-list", "Get ftp repository files list. Avaiilable option --mask.")
      ("get-dump-info",
       "Get local backup info. Available options --dump-file-specification, --dump-storage, --check-sign.")
      ("get-ftp-dump-info", "Get ftp backup info. Available option --dump-storage, --dump-file-specification.")
      ("import-file-as-dump", "Import dump to file. Available options --dump-file-specification, --dump-storage.")
      ("delete-dump", "Delete dump. Available options --dump-specification, --dump-storage.")
      ("delete-exported-dump",
       "Delete exported dump. Available options --dump-file-specification, --dump-storage.")
      ("get-dumps-storage-credentials",
       "Get dump storage credentials. Use --storage-type to specify storage type.")
      ("rotate-dump",
       "Rotate dump. Available options --dump-specification, --dump-rotation, --guid, --storage-structured, "
       "--dump-storage.")
      ("get-domain-dumps-disc-usage",
       "Get domain dumps disk usage. Available options --domain-guid, --owner-guid.")
      ("export-file-as-file",
       "Export already exported dump (even splitted) to one file. Available options --dump-specification, "
       "--dump-file-specification.")
      ("check-repository",
       "Check the repository read-only and list its problems. Available option --dump-storage.")
      ("help", "Display this help page.");

  options.add_options()
      ("type", po::value<std::string>(), "Ovrin Object Type. Used with --get-dump-list")
      ("guid", po::value<std::string>(),
       "Guid of object who wants to see list of backups. Used with --get-dump-list")
      ("id", po::value<int>()->default_value(-1), "Database ID of object. Used with --get-dump-list")
      ("name", po::value<std::string>()->default_value("")->value_name("arg (=)"),
       "Name of object.  Used in case when there are no top .discovered directory. For admin: not required, "
       "for reseller and client: login, for domain: ASCII-name. Used with --get-dump-list")
      ("dump-storage", po::value<std::string>(),
       "Dump Storage Credentials in format: [<type>://][<login>@][<server>/]<dumpstoragepath>, where <type> is "
       "'ftp' or 'local'. Used with --delete-dump, --get-dump-info, --get-ftp-dump-info, --get-ftp-dump-list, "
       "--import-file-as-dump, --export-file-as-file")
      ("mask", po::value<std::string>()->default_value("")->value_name("arg (=)"),
       "Regex to search backup files. Used with --get-ftp-dump-list")
      ("dump-file-specification", po::value<std::string>(),
       "Path to the dump file. Used with --import-file-as-dump, --delete-dump, --get-dump-info. For commands "
       "--get-dump-info - relative to dump storage path.")
      ("dump-specification", po::value<std::string>(),
       "Path to an <info>.xml file. Used with --export-dump-as-file, --delete-dump. Relative to dump storage "
       "path")
      ("storage-type", po::value<std::string>()->default_value("local"),
       "Dump storage type. Used with --get-dumps-storage-credentials")
      ("session-path", po::value<std::string>()->default_value("."), "Session path.")
      ("dump-rotation", po::value<int>(), "Maximum counts of backup in the storage. Used with rotate-dump")
      ("storage-structured", "Used with centralized storage")
      ("domain-guid", po::value<std::string>(), "Guid of domain. Used with --get-domain-dumps-disc-usage")
      ("owner-guid", po::value<std::string>(), "Guid of object's owner. Used with --get-domain-dumps-disc-usage")
      ("file-from", po::value<std::string>(), "Path to source file.")
      ("file-to", po::value<std::string>(), "Path to destination file.")
      ("check-sign", "Check sign of dump")
      ("dry-run",
       "Print each path the command would delete, one per line, in the order of deletion, and delete nothing. "
       "Used with --delete-dump, --delete-exported-dump, --rotate-dump")
      ("use-ftp-passive-mode", "Use passive mode with ftp operations")
      ("verbose", "Log verbose.")
      ("debug", "Log debug.");

  hidden.add_options()("export-dump-as-file", "Export dump to file");

  all.add(commands).add(options).add(hidden);
  visible.add(commands).add(options);
}

po::variables_map ParseCommandLine(const CommandLineOptions& descriptions, int argc, char** argv) {
  po::variables_map vm;
  // No positional options are declared, so the parser refuses every bare word
  // (a command without its dashes, a stray token after a flag) instead of
  // skipping it and letting the run look successful.
  const po::positional_options_description noPositional;
  po::store(po::command_line_parser(argc, argv).options(descriptions.all).positional(noPositional).run(), vm);
  po::notify(vm);
  return vm;
}

void CheckOption(const po::variables_map& vm, const std::string& name) {
  if (!vm.count(name)) throw OVRIN_ERROR(MissingOptionError) % name;
}

namespace {

std::string Entry(const po::option_description& option) {
  std::string entry = option.format_name();
  const std::string parameter = option.format_parameter();
  if (!parameter.empty()) entry += "=" + parameter;
  return entry;
}

}  // namespace

void PrintHelp(const po::options_description& visible) {
  size_t longest = 0;
  for (const auto& option : visible.options()) longest = std::max(longest, Entry(*option).size());
  for (const auto& option : visible.options()) {
    const std::string entry = Entry(*option);
    std::cout << entry << std::string(longest - entry.size(), ' ') << "  " << option->description() << "\n\n";
  }
  std::cout.flush();
}

}  // namespace ovrin
