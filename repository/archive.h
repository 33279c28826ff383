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
// Extracts the members at the archive's top level (with `pattern`, only those
// whose names match it as a shell wildcard).
void ExtractArchiveRoot(const std::vector<std::string>& parts, const std::string& dir,
                        std::vector<std::string>& files, const std::string& pattern = "");
// Extracts the first member named exactly `name` and stops reading there.
void ExtractArchiveMember(const std::vector<std::string>& parts, const std::string& dir, const std::string& name,
                          std::vector<std::string>& files);
void ExtractArchiveSubDir(const std::vector<std::string>& parts, const std::string& subDir, const std::string& dir,
                          std::vector<std::string>& files);
// Completes the tar call for `parts`; for several parts returns a perl command
// running a generated script whose guard is added to `guards`.
tLogExecCmd SendFilesToTar(tLogExecCmd& tar, const std::vector<std::string>& parts,
                           const std::vector<std::string>& tarArgs, std::vector<TempFileGuard>& guards);

// One member of an archive listing: its type letter as the verbose listing
// shows it ('-' regular file, 'd' directory, 'l' symbolic link, 'h' hard
// link, 'c'/'b' device, 'p' fifo, ...) and its name exactly as stored.
struct ArchiveMember {
  char type = '?';
  std::string name;
};

// Lists every member of the archive through the same part joining as the
// extractions; names are not stripped of leading '/' or '../'. A failing
// tar raises tRepository::ArchiverError "unable to extract files from ...".
void ListArchive(const std::vector<std::string>& parts, std::vector<ArchiveMember>& members);
// Refuses (RepositoryException status 2) a member that is absolute, has a ".."
// component or is anything but a regular file or a directory.
void CheckArchiveMembers(const std::vector<ArchiveMember>& members);
std::vector<std::string> MemberNames(const std::vector<ArchiveMember>& members);

bool HasGzipFormat(std::istream& in);
bool HasTarFormat(std::istream& in);
bool HasZipFormat(std::istream& in);
// True for gzip, false for plain tar; anything else raises RepositoryException
// status 2 "File has wrong format".
bool IsGzipped(const std::string& path);

// Creates `path` with its missing parents; false (after logging) on failure.
bool SafeCreateDir(const std::string& path);

// Import checks.
// Every member must belong to the dump named by `infoXml` (prefix and label);
// directory members carry no content and are checked only when they are the
// sidecar directory of a dump. Sidecar items named `statusItem` are collected.
void CheckImportedFiles(std::string infoXml, const std::vector<std::string>& files, const std::string& statusItem,
                        std::vector<std::string>& toDelete);
// The object id of the first objectid_ sidecar item; it must be one plain
// path component (RepositoryException status 2 otherwise or when none).
std::string GetObjectId(const std::vector<std::string>& files);
// True for a name that is usable as one path component: not empty, not "." or
// "..", without '/' or '\\'.
bool IsPlainComponent(const std::string& name);
void CheckObjectType(const std::string& dumpType, const std::string& requesterType);

}  // namespace ovrin
