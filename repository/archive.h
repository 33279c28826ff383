// Archive work through the external `tar` (and `perl` for split archives).
// Names are relative to the extraction directory, in tar's order.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "exec/exec_cmd.h"
#include "util/temp_files.h"

namespace ovrin {

// One member of an archive listing: its type letter as the verbose listing
// shows it ('-' regular file, 'd' directory, 'l' symbolic link, 'h' hard
// link, 'c'/'b' device, 'p' fifo, ...) and its name exactly as stored.
struct ArchiveMember {
  char type = '?';
  std::string name;
};

// Extracts the archive into `dir` in one pass over it and returns the members
// as stored, in tar's order (with `includes`, only the members matching one of
// them as a shell wildcard; with `excludes`, without those and their trees).
// The members are checked as CheckArchiveMembers does; when tar fails, the
// archive is listed once more so that a refused member is named, otherwise
// tRepository::ArchiverError carries tar's error output. Whatever is refused
// may have landed in `dir`, which must therefore be a directory of its own
// that the caller removes.
void ExtractArchive(const std::vector<std::string>& parts, const std::string& dir,
                    std::vector<ArchiveMember>& members, const std::vector<std::string>& includes,
                    const std::vector<std::string>& excludes);
// Extracts into `dir` the first member at the archive's top level whose name
// matches the shell wildcard `pattern`, and stops reading right after it. An
// archive without one is read to its end and leaves `dir` as it was; that and
// any other failure of tar is for the caller to tell from `dir`.
void ExtractFirstAtTop(const std::vector<std::string>& parts, const std::string& dir, const std::string& pattern);
// Completes the tar call for `parts`; for several parts returns a perl command
// running a generated script whose guard is added to `guards`.
tLogExecCmd SendFilesToTar(tLogExecCmd& tar, const std::vector<std::string>& parts,
                           const std::vector<std::string>& tarArgs, std::vector<TempFileGuard>& guards);

// Lists every member of the archive through the same part joining as the
// extractions; names are not stripped of leading '/' or '../'. A failing
// tar raises tRepository::ArchiverError "unable to extract files from ...".
void ListArchive(const std::vector<std::string>& parts, std::vector<ArchiveMember>& members);
// Refuses (RepositoryException status 2) a member that is absolute, has a ".."
// component or is anything but a regular file or a directory.
void CheckArchiveMembers(const std::vector<ArchiveMember>& members);
// ListArchive, then CheckArchiveMembers: the members' names as stored.
std::vector<std::string> ListCheckedNames(const std::vector<std::string>& parts);
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
