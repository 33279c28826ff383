#include "cli/commands.h"

#include <cstdlib>
#include <iostream>

#include "cli/documents.h"
#include "cli/options.h"
#include "errors/error_kinds.h"
#include "log/debug_log.h"
#include "repository/write_turn.h"
#include "util/strings.h"

namespace ovrin {

int TransportExitCode(int status) {
  if (status == 1) return 127;
  if (status >= 2 && status <= 7) return 119 + status;
  return 1;
}

int RepositoryExitCode(int status) { return status >= 1 && status <= 3 ? 150 + status : 1; }

namespace {

std::string Env(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? value : "";
}

std::string Value(const po::variables_map& vm, const std::string& name) { return vm[name].as<std::string>(); }

std::string ValueOr(const po::variables_map& vm, const std::string& name) {
  return vm.count(name) ? Value(vm, name) : "";
}

// With --dry-run the repository prints, one a line, each path it would
// delete and deletes nothing. A dry run changes nothing at all, so it takes
// no writer's turn (which would undo killed imports first).
std::unique_ptr<tWriteTurn> BeginDeletingCommand(const po::variables_map& vm, tRepository& repository) {
  if (vm.count("dry-run")) {
    LogMsg("Dry run: nothing is deleted");
    repository.BeginDryRun([](const std::string& path) { std::cout << path << "\n" << std::flush; });
    return nullptr;
  }
  return std::unique_ptr<tWriteTurn>(new tWriteTurn(repository));
}

}  // namespace

std::unique_ptr<tRepository> GetRepositoryFromUrl(const std::string& url, bool passive, bool useSubDir,
                                                  const std::string& passwordVariable) {
  return std::unique_ptr<tRepository>(ovrin::GetRepository(url, Env(passwordVariable), passive, useSubDir));
}

std::unique_ptr<tRepository> GetRepository(const po::variables_map& vm, bool useSubDir) {
  CheckOption(vm, "dump-storage");
  return GetRepositoryFromUrl(Value(vm, "dump-storage"), vm.count("use-ftp-passive-mode") > 0, useSubDir,
                              "DUMP_STORAGE_PASSWD");
}

std::unique_ptr<tRepository> GetMaybeLocalRepository(const po::variables_map& vm, bool useSubDir) {
  if (vm.count("dump-storage")) return GetRepository(vm, useSubDir);
  return std::unique_ptr<tRepository>(GetLocalRepository(useSubDir));
}

int DumpImport(tRepository& source, const std::string& fileName, tRepository& target, const std::string& type,
               const std::string& guid) {
  try {
    DumpImportResult result = target.ImportFromRepo(source, fileName, type, guid);
    if (result.status == 0 || result.status == 1) {
      std::cout << result.text << "\n";
      return result.status == 0 ? 0 : 111;
    }
    return 1;
  } catch (const ImportException& e) {
    LogMsg(e);
    std::cout << e.what() << "\n";
    return e.status == 2 ? 112 : 1;
  }
}

void DumpExport(tRepository& source, const std::string& dumpSpecification, tRepository& target,
                const std::string& fileName) {
  std::vector<std::string> files;
  source.ExportToRepo(dumpSpecification, target, "", fileName, "", COMPRESSION_FAST, -1, &files, nullptr);
  for (const std::string& file : files) std::cout << file << "\n";
}

void FileExport(tRepository& source, const std::string& fileName, const std::string& destination) {
  source.PackedExport(fileName, destination, Env("DUMP_STORAGE_PASSWD_DST"), false);
}

void DumpRotate(tRepository& repository, const std::string& guid, const std::string& dumpSpecification,
                int rotation, bool structured) {
  LogMsg("DumpRotate begin");
  if (structured) {
    repository.RotateStructuredBackup(guid, dumpSpecification, rotation);
  } else {
    repository.RotateFileBackup(guid, dumpSpecification, rotation);
  }
  LogMsg("DumpRotate end");
}

void DomainDiscUsage(tRepository& repository, const std::string& domainGuid, const std::string& ownerGuid) {
  std::cout << repository.GetDiskUsage("domain", domainGuid, ownerGuid) << "\n";
}

namespace {

int ImportCommand(const po::variables_map& vm) {
  CheckOption(vm, "dump-file-specification");
  std::string directoryUrl, fileName;
  DecomposeUrl(Value(vm, "dump-file-specification"), directoryUrl, fileName);
  auto source = GetRepositoryFromUrl(directoryUrl, vm.count("use-ftp-passive-mode") > 0, false,
                                     "DUMP_STORAGE_PASSWD");
  auto target = GetMaybeLocalRepository(vm, false);
  // Held until the transaction has ended either way.
  tWriteTurn turn(*target);
  try {
    target->BeginTransaction();
    int code = DumpImport(*source, fileName, *target, ValueOr(vm, "type"), ValueOr(vm, "guid"));
    // A failed import (other than an exception) must not leave its files behind either.
    if (code == 0 || code == 111) {
      target->CommitTransaction();
    } else {
      target->RollbackTransaction();
    }
    return code;
  } catch (...) {
    if (target->IsTransactionStarted()) target->RollbackTransaction();
    throw;
  }
}

int ExportDumpCommand(const po::variables_map& vm) {
  CheckOption(vm, "dump-specification");
  CheckOption(vm, "dump-file-specification");
  auto source = GetMaybeLocalRepository(vm, false);
  const std::string fileSpec = Value(vm, "dump-file-specification");
  std::string directoryUrl, fileName;
  if (EndsWith(fileSpec, "/")) {
    directoryUrl = fileSpec;
  } else {
    DecomposeUrl(fileSpec, directoryUrl, fileName);
  }
  auto target = GetRepositoryFromUrl(directoryUrl, vm.count("use-ftp-passive-mode") > 0, false,
                                     "DUMP_STORAGE_PASSWD");
  DumpExport(*source, Value(vm, "dump-specification"), *target, fileName);
  return 0;
}

int RotateCommand(const po::variables_map& vm) {
  CheckOption(vm, "dump-specification");
  CheckOption(vm, "dump-rotation");
  CheckOption(vm, "guid");
  const bool structured = vm.count("storage-structured") > 0;
  auto repository = GetMaybeLocalRepository(vm, false);
  const int rotation = vm["dump-rotation"].as<int>();
  if (rotation <= 0) throw OVRIN_ERROR(UnexpectedValueError) % "dump-rotation" % rotation;
  const auto turn = BeginDeletingCommand(vm, *repository);
  DumpRotate(*repository, Value(vm, "guid"), Value(vm, "dump-specification"), rotation, structured);
  return 0;
}

int FileExportCommand(const po::variables_map& vm) {
  CheckOption(vm, "file-from");
  CheckOption(vm, "file-to");
  std::string directoryUrl, fileName;
  DecomposeUrl(Value(vm, "file-from"), directoryUrl, fileName);
  auto source = GetRepositoryFromUrl(directoryUrl, false, false, "DUMP_STORAGE_PASSWD_SRC");
  FileExport(*source, fileName, Value(vm, "file-to"));
  return 0;
}

}  // namespace

int RunCommand(const po::variables_map& vm) {
  const bool passive = vm.count("use-ftp-passive-mode") > 0;
  if (vm.count("get-dump-list")) {
    CheckOption(vm, "type");
    CheckOption(vm, "guid");
    std::unique_ptr<tRepository> repository(GetLocalRepository(false));
    GetDumpList(*repository, Value(vm, "type"), Value(vm, "guid"), vm["id"].as<int>(), Value(vm, "name"));
    return 0;
  }
  if (vm.count("get-ftp-dump-list")) {
    auto repository = GetRepository(vm, false);
    GetFtpDumpList(*repository, Value(vm, "mask"));
    return 0;
  }
  if (vm.count("get-dump-info")) {
    CheckOption(vm, "dump-file-specification");
    auto repository = GetMaybeLocalRepository(vm, false);
    DumpInfo(*repository, Value(vm, "dump-file-specification"), vm.count("check-sign") == 0);
    return 0;
  }
  if (vm.count("get-ftp-dump-info")) {
    CheckOption(vm, "dump-file-specification");
    CheckOption(vm, "dump-storage");
    auto repository = GetRepositoryFromUrl(Value(vm, "dump-storage"), passive, false, "DUMP_STORAGE_PASSWD");
    FtpDumpInfo(*repository, Value(vm, "dump-file-specification"));
    return 0;
  }
  if (vm.count("export-dump-as-file")) return ExportDumpCommand(vm);
  if (vm.count("import-file-as-dump")) return ImportCommand(vm);
  if (vm.count("delete-dump")) {
    CheckOption(vm, "dump-specification");
    auto repository = GetMaybeLocalRepository(vm, false);
    const auto turn = BeginDeletingCommand(vm, *repository);
    repository->DeleteBackup(Value(vm, "dump-specification"));
    return 0;
  }
  if (vm.count("delete-exported-dump")) {
    CheckOption(vm, "dump-file-specification");
    auto repository = GetRepository(vm, false);
    const auto turn = BeginDeletingCommand(vm, *repository);
    repository->DeletePackedBackup(Value(vm, "dump-file-specification"));
    return 0;
  }
  if (vm.count("rotate-dump")) return RotateCommand(vm);
  if (vm.count("get-dumps-storage-credentials")) {
    DumpsStorageCredentials(Value(vm, "storage-type"));
    return 0;
  }
  if (vm.count("get-domain-dumps-disc-usage")) {
    CheckOption(vm, "domain-guid");
    std::unique_ptr<tRepository> repository(GetLocalRepository(false));
    DomainDiscUsage(*repository, Value(vm, "domain-guid"), ValueOr(vm, "owner-guid"));
    return 0;
  }
  if (vm.count("export-file-as-file")) return FileExportCommand(vm);
  if (vm.count("check-repository")) {
    auto repository = GetMaybeLocalRepository(vm, false);
    return CheckRepositoryDocument(*repository) == 0 ? 0 : REPOSITORY_PROBLEMS_EXIT_CODE;
  }
  return -1;
}

}  // namespace ovrin
