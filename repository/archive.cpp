#include "repository/archive.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "log/progress.h"
#include "repository/naming.h"
#include "repository/repository.h"
#include "transport/local_files.h"
#include "util/strings.h"

namespace fs = boost::filesystem;

namespace ovrin {

namespace {

// Options every extraction carries: the archive is untrusted, so its owners
// and its permission bits beyond the umask are never restored, even as root,
// and names are always printed in the same quoting so that listings and
// extraction reports agree.
const std::vector<std::string> SAFE_EXTRACT_OPTIONS = {"--no-same-owner", "--no-same-permissions",
                                                       "--quoting-style=escape"};

// A perl single-quoted literal holding `s` byte for byte.
std::string PerlLiteral(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out + "'";
}

std::string PerlList(const std::vector<std::string>& words) {
  std::string out = "(";
  for (size_t i = 0; i < words.size(); ++i) out += (i ? ", " : "") + PerlLiteral(words[i]);
  return out + ")";
}

// The joining script: streams every part, in order, into one tar started
// without a shell, so no name or argument is ever re-split or expanded. Any
// unreadable part, failed write or failing tar ends the script non-zero. A
// tar that stops reading early (it found what it was asked for, or it failed)
// closes the pipe; its exit status then tells which.
std::string JoiningScript(const std::vector<std::string>& parts, const std::vector<std::string>& tarWords) {
  // The script removes its own file first: a run killed later leaves none.
  return "use strict;\nuse warnings;\n"
         "unlink($0);\n"
         "my @parts = " + PerlList(parts) + ";\n"
         "my @tar = " + PerlList(tarWords) + ";\n"
         "$SIG{PIPE} = 'IGNORE';\n"
         "my $child = open(my $to, '|-', @tar) or die \"unable to start $tar[0]: $!\\n\";\n"
         "$SIG{TERM} = sub { kill('KILL', $child); exit(143); };\n"
         "binmode($to);\n"
         "PART: for my $part (@parts) {\n"
         "  open(my $from, '<', $part) or die \"unable to open $part: $!\\n\";\n"
         "  binmode($from);\n"
         "  while (1) {\n"
         "    my $n = sysread($from, my $block, 1048576);\n"
         "    defined($n) or die \"unable to read $part: $!\\n\";\n"
         "    last if $n == 0;\n"
         "    next if print {$to} $block;\n"
         "    last PART if $!{EPIPE};\n"
         "    die \"unable to pass $part to $tar[0]: $!\\n\";\n"
         "  }\n"
         "  close($from);\n"
         "}\n"
         "close($to) or die(($! ? \"unable to finish $tar[0]: $!\" : \"$tar[0] failed with status \" . ($? >> 8)) . \"\\n\");\n"
         "exit(0);\n";
}

// The bytes of the regular files below `dir`; what cannot be read counts nothing.
int64_t TreeBytes(const std::string& dir) {
  int64_t bytes = 0;
  boost::system::error_code error;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    boost::system::error_code statError;
    const fs::file_status status = it->symlink_status(statError);
    if (statError || !fs::is_regular_file(status)) continue;
    const uintmax_t size = fs::file_size(it->path(), statError);
    if (!statError) bytes += static_cast<int64_t>(size);
  }
  return bytes;
}

// Runs tar over `parts` with `args`; returns the command that ran. With
// `progressDir`, a watch logs how much has been written below it meanwhile.
tLogExecCmd RunTar(const std::vector<std::string>& parts, const std::vector<std::string>& args, int& rc,
                   const std::string& progressDir = "") {
  std::vector<TempFileGuard> guards;
  tLogExecCmd tar(TAR_UTIL);
  tLogExecCmd cmd = SendFilesToTar(tar, parts, args, guards);
  std::unique_ptr<tProgressWatch> watch;
  if (!progressDir.empty()) {
    watch.reset(new tProgressWatch("extraction of " + parts.front(), -1,
                                   [progressDir]() { return TreeBytes(progressDir); }));
  }
  rc = cmd.exec(std::nothrow);
  return cmd;
}

std::vector<std::string> OutputLines(const std::string& out) {
  std::vector<std::string> lines;
  Split(out, lines, "\n\r");
  return lines;
}

std::vector<std::string> ExtractArgs(const std::string& dir) {
  // tar would otherwise read backslash escapes in the directory and in the
  // selected names; --no-unquote works only before -C.
  std::vector<std::string> args = {"-x", "--no-unquote", "-C", dir};
  args.insert(args.end(), SAFE_EXTRACT_OPTIONS.begin(), SAFE_EXTRACT_OPTIONS.end());
  return args;
}

// Writes `lines` one per line into a new guarded temporary file.
std::string WriteListFile(const std::vector<std::string>& lines, std::vector<TempFileGuard>& guards) {
  guards.emplace_back(GetTempFilePath());
  const std::string& path = guards.back().Path();
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  for (const std::string& line : lines) out << line << "\n";
  out.close();
  if (!out) throw OVRIN_ERROR(tRepository::ArchiverError) % ("unable to write list file " + path);
  return path;
}

bool ReadAt(std::istream& in, std::streamoff offset, char* buffer, std::streamsize size) {
  in.clear();
  in.seekg(0);
  if (offset != 0) in.seekg(offset);
  if (!in) return false;
  in.read(buffer, size);
  return in.gcount() == size;
}

// Splits one line of `tar -tv --numeric-owner --full-time`: mode, uid/gid,
// size, date and time, then one blank and the name.
bool ParseListingLine(const std::string& line, ArchiveMember& member) {
  size_t pos = 0;
  for (int field = 0; field < 5; ++field) {
    pos = line.find_first_not_of(' ', pos);
    if (pos == std::string::npos) return false;
    pos = line.find(' ', pos);
    if (pos == std::string::npos) return false;
  }
  if (pos + 1 >= line.size()) return false;
  member.type = line[0];
  member.name = line.substr(pos + 1);
  return true;
}

// The members of a verbose listing, as `tar -tv` prints it or `tar -xvv`
// while extracting. The latter also notes directories it makes for members
// whose parents the archive lacks; such a line has no owner field, which
// tar always prints for a member, so no name can pass for one.
std::vector<ArchiveMember> ParseListing(const std::string& out) {
  std::vector<ArchiveMember> members;
  for (const std::string& line : OutputLines(out)) {
    const size_t blank = line.find(' ');
    const size_t owner = blank == std::string::npos ? blank : line.find_first_not_of(' ', blank);
    if (owner != std::string::npos && line.compare(owner, 20, "Creating directory: ") == 0) continue;
    ArchiveMember member;
    if (!ParseListingLine(line, member)) {
      throw OVRIN_EXCEPTION(RepositoryException, "Dump has wrong format. Unreadable archive listing line '" + line + "'",
                            2);
    }
    members.push_back(member);
  }
  return members;
}

[[noreturn]] void RefuseMember(const std::string& name, const std::string& why) {
  throw OVRIN_EXCEPTION(RepositoryException, "Dump has wrong format. Archive member '" + name + "' " + why, 2);
}

}  // namespace

// --- Extraction ----------------------------------------------------------------

void ExtractArchive(const std::vector<std::string>& parts, const std::string& dir,
                    std::vector<ArchiveMember>& members, const std::vector<std::string>& includes,
                    const std::vector<std::string>& excludes) {
  // Twice verbose, tar lists each member as it extracts it, in the form of a
  // listing: the one pass both writes and tells what was written.
  std::vector<std::string> args = ExtractArgs(dir);
  args.insert(args.end(), {"-vv", "--numeric-owner", "--full-time"});
  std::vector<TempFileGuard> lists;
  if (!includes.empty()) {
    args.push_back("--wildcards");
    args.push_back("--files-from=" + WriteListFile(SortPaths(includes), lists));
  }
  if (!excludes.empty()) {
    std::vector<std::string> lines;
    for (const std::string& entry : SortPaths(excludes)) {
      lines.push_back(entry);
      lines.push_back(entry + "/*");
    }
    args.push_back("--wildcards");
    args.push_back("--exclude-from=" + WriteListFile(lines, lists));
  }
  int rc = 0;
  tLogExecCmd cmd = RunTar(parts, args, rc, dir);
  if (rc != 0) {
    // tar leaves out, with an error, what it will not extract (a name
    // leading out of the directory, say): the listing names the culprit.
    ListCheckedNames(parts);
    throw OVRIN_ERROR(tRepository::ArchiverError) % ("from " + Concat(parts, " ") + " to " + dir + ":\n" + cmd.err());
  }
  members = ParseListing(cmd.out());
  CheckArchiveMembers(members);
}

void ExtractFirstAtTop(const std::vector<std::string>& parts, const std::string& dir, const std::string& pattern) {
  std::vector<std::string> args = ExtractArgs(dir);
  args.insert(args.end(), {"--occurrence=1", "--wildcards", "--no-wildcards-match-slash", "--exclude=*/*", "--",
                           pattern});
  int rc = 0;
  RunTar(parts, args, rc);
}

tLogExecCmd SendFilesToTar(tLogExecCmd& tar, const std::vector<std::string>& parts,
                           const std::vector<std::string>& tarArgs, std::vector<TempFileGuard>& guards) {
  if (parts.empty()) throw OVRIN_ERROR(tRepository::ArchiverError) % "no files to extract";
  // A part that is there but no regular file (a FIFO, say) would block the
  // reader; a missing one is the joining script's to report.
  for (size_t i = 1; i < parts.size(); ++i) {
    struct stat st;
    if (::stat(parts[i].c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      throw OVRIN_EXCEPTION(RepositoryException, "File has wrong format", 2);
    }
  }
  std::vector<std::string> tarWords = {TAR_UTIL};
  if (IsGzipped(parts[0])) {
    tar << "-z";
    tarWords.push_back("-z");
  }
  if (parts.size() == 1) {
    tar << "-f" << parts[0];
    for (const std::string& arg : tarArgs) tar << arg;
    return tar;
  }
  tar << "-f" << "-";
  tarWords.push_back("-f");
  tarWords.push_back("-");
  tarWords.insert(tarWords.end(), tarArgs.begin(), tarArgs.end());

  guards.emplace_back(GetTempFilePath());
  const std::string& script = guards.back().Path();
  std::ofstream out(script.c_str(), std::ios::binary | std::ios::trunc);
  out << JoiningScript(parts, tarWords);
  out.close();
  if (!out) throw OVRIN_ERROR(tRepository::ArchiverError) % ("unable to write script " + script);
  tLogExecCmd perl("perl");
  perl << script;
  return perl;
}

// --- Listing --------------------------------------------------------------------

void ListArchive(const std::vector<std::string>& parts, std::vector<ArchiveMember>& members) {
  // -P keeps leading '/' and '../' in the names, so that the checks see the
  // names as stored rather than as tar would rewrite them.
  int rc = 0;
  tLogExecCmd cmd =
      RunTar(parts, {"-tv", "--numeric-owner", "--full-time", "-P", "--quoting-style=escape"}, rc);
  if (rc != 0) throw OVRIN_ERROR(tRepository::ArchiverError) % ("unable to extract files from " + Concat(parts, ", "));
  members = ParseListing(cmd.out());
}

void CheckArchiveMembers(const std::vector<ArchiveMember>& members) {
  for (const ArchiveMember& member : members) {
    if (member.type != '-' && member.type != 'd') RefuseMember(member.name, "is not a regular file or directory");
    if (BeginsWith(member.name, "/")) RefuseMember(member.name, "has an absolute name");
    if (HasParentReference(member.name)) RefuseMember(member.name, "leads out of the dump directory");
  }
}

std::vector<std::string> ListCheckedNames(const std::vector<std::string>& parts) {
  std::vector<ArchiveMember> members;
  ListArchive(parts, members);
  CheckArchiveMembers(members);
  return MemberNames(members);
}

std::vector<std::string> MemberNames(const std::vector<ArchiveMember>& members) {
  std::vector<std::string> names;
  for (const ArchiveMember& member : members) names.push_back(member.name);
  return names;
}

// --- Format probes ------------------------------------------------------------------

bool HasGzipFormat(std::istream& in) {
  char magic[2];
  return ReadAt(in, 0, magic, 2) && static_cast<unsigned char>(magic[0]) == 0x1F &&
         static_cast<unsigned char>(magic[1]) == 0x8B;
}

bool HasTarFormat(std::istream& in) {
  char magic[5];
  return ReadAt(in, 257, magic, 5) && std::string(magic, 5) == "ustar";
}

bool HasZipFormat(std::istream& in) {
  char magic[2];
  return ReadAt(in, 0, magic, 2) && magic[0] == 'P' && magic[1] == 'K';
}

bool IsGzipped(const std::string& path) {
  LogVerboseMsg("Check file " + path + " is gzipped");
  // Only a regular file is opened: a FIFO would block the open itself.
  const int fd = OpenRegularFile(path);
  std::ifstream in;
  if (fd >= 0) {
    ::close(fd);
    in.open(path.c_str(), std::ios::binary);
  }
  if (in.is_open()) {
    if (HasGzipFormat(in)) {
      LogVerboseMsg("File is gzipped");
      return true;
    }
    if (HasTarFormat(in)) {
      LogVerboseMsg("File is not gzipped");
      return false;
    }
  }
  throw OVRIN_EXCEPTION(RepositoryException, "File has wrong format", 2);
}

bool SafeCreateDir(const std::string& path) {
  try {
    fs::create_directories(path);
    return fs::is_directory(path);
  } catch (const std::exception& e) {
    LogError(std::string("Error: ") + e.what());
    return false;
  }
}

}  // namespace ovrin
