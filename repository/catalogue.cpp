// The backup catalogue: which dumps an object may see, what one dump is, how
// much space an object's dumps take, and the same for exported single-file
// dumps. Everything comes from names, sidecar items and the descriptor.
#include "repository/catalogue.h"

#include <algorithm>
#include <map>

#include <boost/lexical_cast.hpp>
#include <boost/regex.hpp>

#include "log/debug_log.h"
#include "repository/import_staging.h"
#include "repository/naming.h"
#include "repository/repository.h"
#include "util/strings.h"

namespace ovrin {

namespace {

bool IsListedDir(tRepositoryTransport& transport, const FileInfo& entry) {
  if (entry.kind != EntryKind::Unknown) return entry.kind == EntryKind::Dir;
  return transport.IsDirExist(entry.path);
}

}  // namespace

void SetBackupNameFromPath(const std::string& path, BackupInfo& info) {
  info.name = PathLeaf(path);
  info.fullname = path;
}

void SetDateFromPath(BackupInfo& info, const std::string& path) {
  std::string stamp;
  try {
    stamp = GetDumpLabel(path);
  } catch (const RepositoryException& e) {
    LogMsg(e);
    stamp = ZERO_DATE;
  }
  info.SetDateTimeStr(stamp);
}

BackupInfoUtil tRepository::GetInitialBackupInfo(const std::string& sidecarDir, std::vector<std::string>* statuses) {
  LogVerboseMsg(logPrefix + "Get initial backup info from dir " + sidecarDir);
  BackupInfoUtil info;
  std::string owner, ownerType, guid, objectId, size;
  if (!GetBackupParamsFromListing(*transport, sidecarDir, owner, ownerType, guid, objectId, size, statuses)) {
    throw OVRIN_EXCEPTION(RepositoryException, "Discovered dir '" + sidecarDir + "' not found", 1);
  }
  info.ownerGuid = owner;
  info.ownerType = ownerType;
  info.objectId = objectId;
  try {
    info.size = boost::lexical_cast<int64_t>(size);
  } catch (const boost::bad_lexical_cast& e) {
    LogError(logPrefix + "Unable to parse size of dump: " + e.what());
    info.size = 0;
  }
  return info;
}

void tRepository::BackupsList(const std::string& type, const std::string& guid, const std::string& objectName,
                              BackupInfoList& list, bool brief) {
  LogStep(logPrefix + "List backups of type " + type + " for guid " + guid);

  // A broken index only narrows the search to objectName; it never fails the listing.
  std::vector<std::string> objectIds;
  try {
    objectIds = GetDiscoveredNames(*rootTransport, guid);
  } catch (...) {
    LogCurrentFailure(logPrefix + "Unable to retreave object ids from central repository: ");
  }
  if (!objectName.empty() && !Contains(objectIds, objectName)) objectIds.push_back(objectName);

  std::vector<std::string> dirs;
  SearchObjectDirs(*transport, type, objectIds, dirs, "", 0);

  for (const std::string& objectDir : dirs) {
    const std::string sidecars = JoinPath(objectDir, DISCOVERED);
    // One listing of each directory tells most entries' kinds: a sidecar is
    // a directory, a descriptor a file. Only entries whose kind the listing
    // leaves open (links, say) are looked at one by one.
    std::vector<DirEntry> sidecarEntries, objectEntries;
    try {
      transport->ListDirKinds(sidecars, sidecarEntries);
    } catch (const TransportException&) {
      if (transport->IsDirExist(sidecars)) throw;
      LogVerboseMsg(logPrefix + "'" + DISCOVERED + "' directory for '" + type + "' '" + guid + "' not found");
      continue;
    }
    // A directory that can be entered but not listed still has its
    // descriptors looked at one by one.
    bool listed = true;
    try {
      transport->ListDirKinds(objectDir, objectEntries);
    } catch (const TransportException& e) {
      LogMsg(e);
      listed = false;
    }
    std::map<std::string, EntryKind> objectKinds;
    for (const DirEntry& entry : objectEntries) objectKinds[entry.name] = entry.kind;

    for (const DirEntry& entry : sidecarEntries) {
      const std::string& name = entry.name;
      const std::string sidecar = JoinPath(sidecars, name);
      try {
        if (entry.kind == EntryKind::File) continue;
        // The staging area of imports sits among the server's sidecars.
        if (JoinPath(sidecars, name) == STAGING_AREA) continue;
        if (entry.kind == EntryKind::Unknown && !transport->IsDirExist(sidecar)) continue;
        std::vector<std::string> statuses;
        BackupInfoUtil info = GetInitialBackupInfo(sidecar, &statuses);
        // Object directories of one id may hold dumps of other objects that
        // happen to share the directory name; only the object's own are listed.
        if (type != "server" && !Contains(objectIds, info.objectId)) continue;
        const std::string xml = JoinPath(objectDir, name + ".xml");
        const auto descriptor = objectKinds.find(name + ".xml");
        const bool hasXml = !listed ? transport->IsExist(xml)
                                    : descriptor != objectKinds.end() && descriptor->second != EntryKind::Dir &&
                                          (descriptor->second == EntryKind::File || transport->IsExist(xml));
        if (!hasXml) {
          LogVerboseMsg(logPrefix + "Discovered dir " + sidecar + " exists but file " + xml +
                        " not exists. Skipping.");
          continue;
        }
        SetBackupNameFromPath(xml, info);
        if (!brief) {
          ReadPropsFromXml(*transport, xml, info.description);
          info.validationResults = ValidateBackup(xml, true, &statuses);
        }
        SetDateFromPath(info, xml);
        list.push_back(info);
      } catch (const RepositoryException& e) {
        LogMsg(e);
      } catch (const std::exception& e) {
        LogError(logPrefix + "Error: unable to retreave backup info from " + sidecar + ": " + e.what());
      }
    }
  }
}

int64_t tRepository::GetDiskUsage(const std::string& type, const std::string& guid, const std::string& ownerGuid) {
  BackupInfoList records;
  BackupsList(type, guid, "", records, true);
  int64_t total = 0;
  for (const BackupInfo& record : records) {
    if (ownerGuid.empty() || record.ownerGuid == ownerGuid) total += record.size;
  }
  return total;
}

BackupInfo tRepository::GetBackupInfo(const std::string& infoXmlPath, bool skipSignCheck) {
  LogStep(logPrefix + "Get backup info from " + infoXmlPath);
  // Validation records its verdict beside the dump: nothing may be read or
  // written outside the repository.
  RejectParentReference(infoXmlPath);
  BackupInfoUtil info = GetInitialBackupInfo(GetDiscoveredDir(infoXmlPath));
  SetBackupNameFromPath(infoXmlPath, info);
  ReadPropsFromXml(*transport, infoXmlPath, info.description);
  info.validationResults = ValidateBackup(infoXmlPath, skipSignCheck);
  SetDateFromPath(info, infoXmlPath);
  return info;
}

BackupInfo tRepository::GetBackupInfoFromFile(const FileInfo& file, bool validate,
                                              const std::vector<FileInfo>& listing,
                                              const std::map<std::string, int64_t>* partSizes) {
  LogVerboseMsg(logPrefix + "Get backup info from file");
  BackupInfoUtil info;
  if (partSizes) {
    auto found = partSizes->find(file.name);
    info.size = found == partSizes->end() ? 0 : found->second;
  } else if (listing.empty()) {
    info.size = file.size;
  } else {
    for (const FileInfo& entry : listing) {
      unsigned number = 0;
      if (IsSplittedPart(file.name, entry.name, number)) info.size += entry.size;
    }
  }
  SetBackupNameFromPath(file.path, info);
  SetDateFromPath(info, file.path);
  if (validate) {
    ValidationResults results;
    int64_t size = 0;
    GetPackedBackupProps(*transport, file.path, results, size);
    info.validationResults = results;
    info.size = size;
  }
  return info;
}

void tRepository::PackedBackupsList(const std::string& dir, const std::string& mask, BackupInfoList& list) {
  LogStep(logPrefix + "List packed backups at " + dir);
  std::vector<FileInfo> entries;
  transport->ListDirEx(dir, entries);
  const boost::regex pattern(PrepareMaskStr(mask), boost::regex::basic);
  // Every entry that is some name followed by a part number (or by nothing)
  // adds its size to that name, in one pass: the names listed below end in
  // "tar" or "tgz", so their parts are exactly the entries that give them
  // back once their trailing digits are cut off.
  std::map<std::string, int64_t> partSizes;
  for (const FileInfo& entry : entries) {
    const size_t digits = entry.name.find_last_not_of("0123456789") + 1;
    unsigned number = 0;
    const std::string base = entry.name.substr(0, digits);
    if (IsSplittedPart(base, entry.name, number)) partSizes[base] += entry.size;
  }
  for (const FileInfo& entry : entries) {
    if (!mask.empty() && !boost::regex_match(entry.name, pattern)) continue;
    if (entry.name == "." || entry.name == "..") continue;
    if (!IsFtpDumpName(entry.name)) continue;
    // The listing usually tells directories apart; asking the storage costs
    // a round trip per entry on FTP.
    if (IsListedDir(*transport, entry)) continue;
    list.push_back(GetBackupInfoFromFile(entry, false, entries, &partSizes));
  }
}

BackupInfo tRepository::GetPackedBackupInfo(const std::string& path) {
  LogStep(logPrefix + "Get packed backup info from file " + path);
  RejectParentReference(path);
  std::vector<FileInfo> entries;
  transport->ListDirEx(PathBranch(path), entries);
  const std::string leaf = PathLeaf(path);
  for (const FileInfo& entry : entries) {
    if (entry.name == leaf && !IsListedDir(*transport, entry)) {
      return GetBackupInfoFromFile(entry, true, entries);
    }
  }
  throw OVRIN_EXCEPTION(RepositoryException, "File '" + path + "' not found", 1);
}

}  // namespace ovrin
