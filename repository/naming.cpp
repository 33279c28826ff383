#include "repository/naming.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include <boost/regex.hpp>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "repository/dump_files.h"
#include "util/strings.h"

namespace ovrin {

const std::string DISCOVERED = ".discovered";
const std::string D_ITEM_GUID = "GUID";
const std::string D_ITEM_OBJECT_ID = "objectid";
const std::string D_ITEM_OWNER = "owner";
const std::string D_ITEM_OWNER_TYPE = "ownertype";
const std::string D_ITEM_SIZE = "size";
const std::string D_ITEM_STATUS = "status";
const std::string ZERO_DATE = "0000000000";
const std::string TAR_UTIL = "tar";
const std::string INFO_MARK = "info_";

namespace {

const std::string XML_SUFFIX = ".xml";

// Rank of an object type; 0 for a word that is not an object type.
int TypeRank(const std::string& type) {
  if (type == "server") return 10;
  if (type == "reseller") return 9;
  if (type == "client") return 8;
  if (type == "domain") return 7;
  return 0;
}

[[noreturn]] void ThrowNameError(const std::string& leaf, const std::string& problem) {
  throw OVRIN_EXCEPTION(RepositoryException, "file name '" + leaf + "' " + problem, 2);
}

// Position of the first ".discovered" that starts the path or follows a '/'.
size_t FindDiscoveredComponent(const std::string& path) {
  for (size_t pos = path.find(DISCOVERED); pos != std::string::npos; pos = path.find(DISCOVERED, pos + 1)) {
    if (pos == 0 || path[pos - 1] == '/') return pos;
  }
  return std::string::npos;
}

}  // namespace

// --- Name tests --------------------------------------------------------------

bool FileMatchToPrefix(const std::string& name, const std::string& prefix) {
  return BeginsWith(name, prefix + "_");
}

bool DiscoveredMatchToLabel(const std::string& name, const std::string& label) {
  return EndsWith(name, INFO_MARK + label);
}

bool DirMatchToLabel(const std::string& name, const std::string& label) {
  return EndsWith(name, "_" + label);
}

bool InfoXmlMatchToLabel(const std::string& name, const std::string& label) {
  return EndsWith(name, INFO_MARK + label + XML_SUFFIX);
}

bool FileMatchToLabel(const std::string& name, const std::string& label) {
  const std::string pattern = "_" + label + ".";
  size_t match = name.rfind(pattern);
  size_t lastDot = name.rfind('.');
  if (match == std::string::npos || lastDot == std::string::npos) return false;
  return match + pattern.size() - 1 == lastDot;
}

bool IsFtpDumpName(const std::string& name) {
  LogMsg("Matching name '" + name + "' to ftp dumps naming rule.");
  static const boost::regex rule("^.*_[0-9]{10}\\.(tar|tgz)$", boost::regex::icase);
  return boost::regex_match(name, rule);
}

bool IsSplittedPart(const std::string& baseName, const std::string& name, unsigned& number) {
  if (!BeginsWith(name, baseName)) return false;
  const std::string rest = name.substr(baseName.size());
  if (rest.empty()) {
    number = 0;
    return true;
  }
  if (!std::all_of(rest.begin(), rest.end(), is_digit)) return false;
  // A part number too large to hold is not a part of ours.
  errno = 0;
  unsigned long value = std::strtoul(rest.c_str(), nullptr, 10);
  if (errno == ERANGE || value > std::numeric_limits<unsigned>::max()) return false;
  number = static_cast<unsigned>(value);
  return true;
}

bool HasMinorType(const std::string& type, const std::string& otherType) {
  int rank = TypeRank(type);
  int otherRank = TypeRank(otherType);
  if (rank == 0 || otherRank == 0) return false;
  return rank <= otherRank;
}

// --- Name parts --------------------------------------------------------------

std::string GetDumpPrefix(const std::string& path) {
  std::string leaf = PathLeaf(path);
  return leaf.substr(0, leaf.find('_'));
}

std::string GetDumpLabel(const std::string& path) {
  const std::string leaf = PathLeaf(path);
  const std::string stem = leaf.substr(0, leaf.rfind('.'));
  size_t sep = stem.rfind('_');
  if (sep == std::string::npos) ThrowNameError(leaf, "not contains '_'");
  return stem.substr(sep + 1);
}

std::string GetInfoXmlsLabel(const std::string& path) {
  const std::string leaf = PathLeaf(path);
  if (!EndsWith(leaf, XML_SUFFIX)) ThrowNameError(leaf, "not ends with '.xml'");
  size_t mark = leaf.rfind(INFO_MARK);
  if (mark == std::string::npos) ThrowNameError(leaf, "not contains 'info_'");
  size_t labelBegin = mark + INFO_MARK.size();
  size_t labelEnd = leaf.size() - XML_SUFFIX.size();
  if (labelBegin > labelEnd) ThrowNameError(leaf, "has wrong format");
  return leaf.substr(labelBegin, labelEnd - labelBegin);
}

std::string GetInfoXmlDir(const std::string& path) {
  if (!EndsWith(path, XML_SUFFIX)) return path;
  return path.substr(0, path.size() - XML_SUFFIX.size());
}

std::string GetDiscoveredDir(const std::string& infoXmlPath) {
  const std::string stem = GetInfoXmlDir(infoXmlPath);
  return JoinPath(JoinPath(PathBranch(stem), DISCOVERED), PathLeaf(stem));
}

std::string GetObjectTypeGroupDir(const std::string& type) {
  if (type == "server") return "";
  if (type == "reseller") return "resellers";
  if (type == "client") return "clients";
  if (type == "domain") return "domains";
  throw OVRIN_EXCEPTION(RepositoryException, "unexpected object type '" + type + "'", 0);
}

std::vector<std::string> GetObjectTypeSearchDirs(const std::string& type) {
  if (type == "server") return {};
  if (type == "reseller") return {"resellers", "clients"};
  if (type == "client") return {"clients"};
  if (type == "domain") return {"domains"};
  throw OVRIN_EXCEPTION(RepositoryException, "unexpected object type '" + type + "'", 0);
}

std::string GetRepositorySubDir() { return ""; }

std::string PrepareMaskStr(const std::string& mask) { return mask.empty() ? ".*" : mask; }

// --- Sidecar paths -------------------------------------------------------------

bool IsDiscoveredPath(const std::string& path, const std::string& item, std::string& head, std::string& value) {
  size_t start = FindDiscoveredComponent(path);
  if (start == std::string::npos) return false;
  const std::string key = item + "_";
  size_t match = path.find(key, start);
  if (match == std::string::npos) return false;
  head = path.substr(0, match);
  value = path.substr(match + key.size());
  return true;
}

bool IsAnyDiscoveredPath(const std::string& path, std::string& dumpName, std::string& item, std::string& value) {
  size_t start = FindDiscoveredComponent(path);
  if (start == std::string::npos) return false;
  // Skip ".discovered" and the separator after it.
  size_t nameBegin = start + DISCOVERED.size() + 1;
  if (nameBegin >= path.size()) return false;
  size_t slash = path.find('/', nameBegin);
  if (slash == std::string::npos) return false;
  size_t sep = path.find('_', slash + 1);
  if (sep == std::string::npos) return false;
  dumpName = path.substr(nameBegin, slash - nameBegin);
  item = path.substr(slash + 1, sep - slash - 1);
  value = path.substr(sep + 1);
  return true;
}

// --- Path helpers ----------------------------------------------------------------

bool PathBeginsWith(const std::string& base, const std::string& path) {
  if (path == base) return true;
  return path.size() > base.size() && BeginsWith(path, base) && path[base.size()] == '/';
}

std::vector<std::string> SortPaths(std::vector<std::string> paths) {
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> kept;
  for (const std::string& path : paths) {
    if (!kept.empty() && PathBeginsWith(kept.back(), path)) continue;
    kept.push_back(path);
  }
  return kept;
}

bool HasParentReference(const std::string& path) {
  std::vector<std::string> parts;
  Split(path, parts, "/\\");
  return std::find(parts.begin(), parts.end(), "..") != parts.end();
}

void RejectParentReference(const std::string& path) {
  if (HasParentReference(path)) {
    throw OVRIN_EXCEPTION(RepositoryException, "file name '" + path + "' has wrong format", 2);
  }
}

// --- Directory searches -------------------------------------------------------------

void SearchObjectDirs(tRepositoryTransport& transport, const std::string& type,
                      const std::vector<std::string>& objectIds, std::vector<std::string>& found,
                      const std::string& dir, int depth) {
  LogVerboseMsg("Search object dirs");
  if (!transport.IsDirExist(dir)) return;
  const bool isServer = type == "server";
  if (isServer) {
    found.push_back(dir);
    if (depth >= 0) return;
  }
  std::vector<std::string> entries;
  transport.ListDir(dir, entries);
  // The type is looked up when the walk meets an entry: a type outside the
  // table finds nothing in an empty tree rather than failing there.
  std::vector<std::string> searchDirs;
  bool typeLookedUp = isServer;
  for (const std::string& entry : entries) {
    if (entry == DISCOVERED) continue;
    if (!typeLookedUp) {
      searchDirs = GetObjectTypeSearchDirs(type);
      typeLookedUp = true;
    }
    const std::string child = JoinPath(dir, entry);
    bool isSearchDir = std::find(searchDirs.begin(), searchDirs.end(), entry) != searchDirs.end();
    if (isServer || !isSearchDir) {
      if (transport.IsDirExist(child)) {
        ++depth;
        SearchObjectDirs(transport, type, objectIds, found, child, depth);
      }
      continue;
    }
    for (const std::string& id : objectIds) {
      const std::string objectDir = JoinPath(child, id);
      if (transport.IsDirExist(objectDir)) found.push_back(objectDir);
    }
  }
}

std::vector<std::string> GetDiscoveredNames(tRepositoryTransport& transport, const std::string& guid) {
  LogVerboseMsg("Get discovered names");
  std::vector<std::string> names;
  // An empty GUID would be a prefix of every index item and hand out the
  // directories of every object in the repository.
  if (guid.empty()) {
    LogMsg("index item for guid '' not found");
    return names;
  }
  if (!transport.IsDirExist(DISCOVERED)) {
    LogMsg("directory '.discovered' at top level not found");
    return names;
  }
  std::vector<std::string> entries;
  transport.ListDir(DISCOVERED, entries);
  for (const std::string& entry : entries) {
    if (entry.compare(0, guid.size(), guid) != 0) continue;
    // Another GUID that begins with this one.
    if (entry.size() > guid.size() && entry[guid.size()] != '_') continue;
    if (entry.size() > guid.size() + 1) {
      names.push_back(entry.substr(guid.size() + 1));
    } else {
      LogMsg("index item '" + entry + "' for guid '" + guid + "' is malformed");
    }
  }
  if (names.empty()) LogMsg("index item for guid '" + guid + "' not found");
  return names;
}

bool GetBackupParamsFromListing(tRepositoryTransport& transport, const std::string& sidecarDir,
                                std::string& owner, std::string& ownerType, std::string& guid,
                                std::string& objectId, std::string& size, std::vector<std::string>* statuses) {
  LogVerboseMsg("Get backup params from listing of " + sidecarDir);
  const std::pair<std::string, std::string*> items[] = {
      {D_ITEM_OWNER + "_", &owner},  {D_ITEM_OWNER_TYPE + "_", &ownerType}, {D_ITEM_OBJECT_ID + "_", &objectId},
      {D_ITEM_GUID + "_", &guid},    {D_ITEM_SIZE + "_", &size},
  };
  // Listing first and asking only when that fails spares a look at the
  // directory for every dump.
  std::vector<std::string> entries;
  try {
    transport.ListDir(sidecarDir, entries);
  } catch (const TransportException&) {
    if (!transport.IsDirExist(sidecarDir)) return false;
    throw;
  }
  for (const std::string& entry : entries) {
    for (const auto& item : items) {
      if (BeginsWith(entry, item.first)) *item.second = entry.substr(item.first.size());
    }
    if (statuses && BeginsWith(entry, D_ITEM_STATUS + "_")) statuses->push_back(entry.substr(D_ITEM_STATUS.size() + 1));
  }
  return true;
}

bool HasInfoXml(tRepositoryTransport& transport, const std::string& dir, const std::string& prefix,
                const std::string& label) {
  LogMsg("Check info xml by label " + label + " in dir " + dir);
  std::vector<std::string> entries;
  transport.ListDir(dir, entries);
  for (const std::string& entry : entries) {
    if (entry == DISCOVERED) continue;
    if (InfoXmlMatchToLabel(entry, label) && FileMatchToPrefix(entry, prefix) &&
        transport.IsExist(JoinPath(dir, entry)))
      return true;
  }
  return false;
}

void FindInfoXmlAndDiscovered(tRepositoryTransport& transport, const std::string& dir,
                              const std::string& prefix, const std::string& label, const std::string& base,
                              bool searchDiscovered, std::vector<std::string>& found, bool skipArchives,
                              bool recurse, bool collectFiles, bool skipXml) {
  DumpFilesByLabel files;
  FindDumpFiles(transport, dir, prefix, {label}, base, searchDiscovered, files, skipArchives, recurse, collectFiles,
                skipXml);
  const std::vector<std::string>& mine = files[label];
  found.insert(found.end(), mine.begin(), mine.end());
}

}  // namespace ovrin
