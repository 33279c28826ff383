// The repository tree and its naming rules: object directories, descriptors
// (<prefix>_info_<label>.xml), sidecar directories (.discovered/<stem>/<item>_<value>),
// the repository index (.discovered/<guid>_<objectId> at the root), exported
// dumps (<anything>_<10 digits>.tar|.tgz plus numbered parts).
// Functions that take a transport only list directories and test existence.
#pragma once

#include <string>
#include <vector>

#include "transport/transport.h"

namespace ovrin {

extern const std::string DISCOVERED;        // ".discovered"
extern const std::string D_ITEM_GUID;       // "GUID"
extern const std::string D_ITEM_OBJECT_ID;  // "objectid"
extern const std::string D_ITEM_OWNER;      // "owner"
extern const std::string D_ITEM_OWNER_TYPE; // "ownertype"
extern const std::string D_ITEM_SIZE;       // "size"
extern const std::string D_ITEM_STATUS;     // "status"
extern const std::string ZERO_DATE;         // "0000000000"
extern const std::string TAR_UTIL;          // "tar"
extern const std::string INFO_MARK;         // "info_", before the label in a descriptor's name

// Name tests.
bool FileMatchToPrefix(const std::string& name, const std::string& prefix);
bool DiscoveredMatchToLabel(const std::string& name, const std::string& label);
bool DirMatchToLabel(const std::string& name, const std::string& label);
bool InfoXmlMatchToLabel(const std::string& name, const std::string& label);
bool FileMatchToLabel(const std::string& name, const std::string& label);
bool IsFtpDumpName(const std::string& name);
bool IsSplittedPart(const std::string& baseName, const std::string& name, unsigned& number);
bool HasMinorType(const std::string& type, const std::string& otherType);

// Name parts. Label errors raise RepositoryException status 2.
std::string GetDumpPrefix(const std::string& path);
std::string GetDumpLabel(const std::string& path);
std::string GetInfoXmlsLabel(const std::string& path);
std::string GetInfoXmlDir(const std::string& path);
std::string GetDiscoveredDir(const std::string& infoXmlPath);
// Unknown types raise RepositoryException status 0 "unexpected object type 'T'".
std::string GetObjectTypeGroupDir(const std::string& type);
std::vector<std::string> GetObjectTypeSearchDirs(const std::string& type);
std::string GetRepositorySubDir();
std::string PrepareMaskStr(const std::string& mask);

// Sidecar paths.
bool IsDiscoveredPath(const std::string& path, const std::string& item, std::string& head, std::string& value);
bool IsAnyDiscoveredPath(const std::string& path, std::string& dumpName, std::string& item, std::string& value);

// Path helpers.
bool PathBeginsWith(const std::string& base, const std::string& path);
std::vector<std::string> SortPaths(std::vector<std::string> paths);
// True when a '/'-separated component of `path` is "..": such a path could
// leave the repository root.
bool HasParentReference(const std::string& path);
// Raises RepositoryException status 2 "file name 'P' has wrong format" when a
// component of `path` is "..": such a path could lead out of the repository.
void RejectParentReference(const std::string& path);

// Directory searches.
void SearchObjectDirs(tRepositoryTransport& transport, const std::string& type,
                      const std::vector<std::string>& objectIds, std::vector<std::string>& found,
                      const std::string& dir, int depth);
std::vector<std::string> GetDiscoveredNames(tRepositoryTransport& transport, const std::string& guid);
// Reads the sidecar items of one dump from a listing of its sidecar
// directory; false when there is no such directory. `statuses`, when given,
// receives the values of its status items.
bool GetBackupParamsFromListing(tRepositoryTransport& transport, const std::string& sidecarDir,
                                std::string& owner, std::string& ownerType, std::string& guid,
                                std::string& objectId, std::string& size,
                                std::vector<std::string>* statuses = nullptr);
bool HasInfoXml(tRepositoryTransport& transport, const std::string& dir, const std::string& prefix,
                const std::string& label);
// The files of one dump: FindDumpFiles for the one label.
void FindInfoXmlAndDiscovered(tRepositoryTransport& transport, const std::string& dir,
                              const std::string& prefix, const std::string& label, const std::string& base,
                              bool searchDiscovered, std::vector<std::string>& found, bool skipArchives,
                              bool recurse, bool collectFiles, bool skipXml);

}  // namespace ovrin
