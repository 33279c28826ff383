// Archive work through the external `tar` (and `perl` for split archives).
// Every extraction returns the member names tar reports, relative to the
// extraction directory, in tar's order.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "exec/exec_cmd.h"
#include "util/temp_files.h"

namespace ovrin {

void ExtractArchive(const std::vector<std::string>& parts, const std::string& dir, std::vector<std::string>& files,
                    const std::vector<std::string>& includes, const std::vector<std::string>& excludes);
void ExtractArchiveRoot(const std::vector<std::string>& parts, const std::string& dir,
                        std::vector<std::string>& files);
void ExtractArchiveSubDir(const std::vector<std::string>& parts, const std::string& subDir, const std::string& dir,
                          std::vector<std::string>& files);
// Completes the tar call for `parts`; for several parts returns a perl command
// running a generated script whose guard is added to `guards`.
tLogExecCmd SendFilesToTar(tLogExecCmd& tar, const std::vector<std::string>& parts,
                           const std::vector<std::string>& tarArgs, std::vector<TempFileGuard>& guards);

bool HasGzipFormat(std::istream& in);
bool HasTarFormat(std::istream& in);
bool HasZipFormat(std::istream& in);
// True for gzip, false for plain tar; anything else raises RepositoryException
// status 2 "File has wrong format".
bool IsGzipped(const std::string& path);

// Creates `path` with its missing parents; false (after logging) on failure.
bool SafeCreateDir(const std::string& path);

// Import checks.
void CheckImportedFiles(std::string infoXml, const std::vector<std::string>& files, const std::string& statusItem,
                        std::vector<std::string>& toDelete);
std::string GetObjectId(const std::vector<std::string>& files);
void CheckObjectType(const std::string& dumpType, const std::string& requesterType);

}  // namespace ovrin
