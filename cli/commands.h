// The commands of the utility: building the repositories a command needs and
// running it. Each returns the command's exit code; failures are raised.
#pragma once

#include <memory>
#include <string>

#include <boost/program_options.hpp>

#include "repository/repository.h"

namespace ovrin {

// Exit code of --check-repository when it lists a problem.
const int REPOSITORY_PROBLEMS_EXIT_CODE = 160;

// Exit code for a transport or repository status (0 and unknown give 1).
int TransportExitCode(int status);
int RepositoryExitCode(int status);

// The repository of `url` with the password from the environment variable
// `passwordVariable` (empty when unset).
std::unique_ptr<tRepository> GetRepositoryFromUrl(const std::string& url, bool passive, bool useSubDir,
                                                  const std::string& passwordVariable);
// The --dump-storage repository (required) with DUMP_STORAGE_PASSWD.
std::unique_ptr<tRepository> GetRepository(const boost::program_options::variables_map& vm, bool useSubDir);
// The --dump-storage repository when given, else the host's local storage.
std::unique_ptr<tRepository> GetMaybeLocalRepository(const boost::program_options::variables_map& vm,
                                                     bool useSubDir);

int DumpImport(tRepository& source, const std::string& fileName, tRepository& target, const std::string& type,
               const std::string& guid);
void DumpExport(tRepository& source, const std::string& dumpSpecification, tRepository& target,
                const std::string& fileName);
void FileExport(tRepository& source, const std::string& fileName, const std::string& destination);
void DumpRotate(tRepository& repository, const std::string& guid, const std::string& dumpSpecification,
                int rotation, bool structured);
void DomainDiscUsage(tRepository& repository, const std::string& domainGuid, const std::string& ownerGuid);

// Runs the first command present in dispatch order. Returns -1 when no
// command option is present.
int RunCommand(const boost::program_options::variables_map& vm);

}  // namespace ovrin
