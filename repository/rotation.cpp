// Rotation keeps the newest backups of one series and deletes the older ones.
// The age of a backup is its ten-character YYMMDDHHMM stamp, so sorting the
// stamps as text sorts the series from oldest to newest.
#include <algorithm>
#include <list>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "repository/catalogue.h"
#include "repository/naming.h"
#include "repository/repository.h"
#include "util/strings.h"

namespace ovrin {

namespace {

const size_t STAMP_LENGTH = 10;

// One backup file found by a rotation. `stem` groups the split parts of one
// file backup; structured backups leave it empty and never group.
struct PrefixFileList {
  std::string label;
  std::string file;
  std::string stem;
};

typedef std::list<PrefixFileList> BackupList;

void SortByLabel(BackupList& list) {
  // std::list::sort is stable: equal labels keep their listing order.
  list.sort([](const PrefixFileList& a, const PrefixFileList& b) { return a.label < b.label; });
}

size_t CountGroups(const BackupList& list) {
  size_t groups = 0;
  const std::string* previous = nullptr;
  for (const PrefixFileList& entry : list) {
    if (!previous || entry.stem.empty() || entry.stem != *previous) ++groups;
    previous = &entry.stem;
  }
  return groups;
}

// Deletes one rotated backup at `path` through `remove`; the log lines
// begin with `logPrefix` and then `tag` (the two kinds of series have their
// own). A failure is logged and passed on.
template <class Remove>
void RemoveRotated(const std::string& logPrefix, const std::string& tag, const std::string& path, Remove&& remove) {
  LogVerboseMsg(logPrefix + "Rotation: Remove backup:" + path);
  try {
    remove();
  } catch (const ExTraceable& e) {
    LogMsg(e);
    LogMsg(logPrefix + tag + "Cannot delete backup '" + path + "'due to errors above");
    throw;
  } catch (...) {
    LogError(logPrefix + tag + "Cannot delete backup '" + path + "'due to unknown error");
    throw;
  }
  LogMsg(logPrefix + tag + "The backup '" + path + "'have been remove");
}

}  // namespace

void tRepository::RotateFileBackup(const std::string& /*ownerGuid*/, const std::string& fileSpec, int count) {
  LogStep(logPrefix + "Rotate file backups is started");
  RejectParentReference(fileSpec);
  const std::string dir = PathBranch(fileSpec);
  std::string name = PathLeaf(fileSpec);
  const std::string ext = ExtractExtension(name, '.', true);
  name.erase(name.size() - ext.size());
  const std::string base = name.substr(0, name.size() - ExtractExtension(name, '_', false).size());

  LogMsg(logPrefix + "Find list of backups by mask '" + base + "_YYMMDDHHMM" + ext + "*'");
  LogMsg(logPrefix + "List files from " + dir);
  std::vector<std::string> entries;
  transport->ListDir(dir, entries);

  BackupList backups;
  for (const std::string& entry : entries) {
    const std::string entryExt = ExtractExtension(entry, '.', true);
    // Split parts extend the extension with their number, so they match too.
    // The base must end before the extension begins.
    if (!BeginsWith(entry, base) || !BeginsWith(entryExt, ext) || entry.size() - entryExt.size() < base.size()) {
      LogMsg(logPrefix + "Rotation: the file '" + entry + "' does not satisfy mask");
      continue;
    }
    const std::string stem = entry.substr(0, entry.size() - entryExt.size());
    const std::string stamp = stem.substr(base.size());
    if (stamp.size() != STAMP_LENGTH) {
      LogMsg(logPrefix + "Rotation: the file '" + entry + "' has invalid rotation prefix '" + stamp + "'");
      continue;
    }
    backups.push_back({stamp, entry, stem});
    LogMsg(logPrefix + "Found backup: '" + stamp + "', file '" + entry + "'");
  }
  SortByLabel(backups);

  const size_t keep = count > 0 ? static_cast<size_t>(count) : 0;
  size_t groups = CountGroups(backups);
  bool sameGroupFollows = false;
  for (;;) {
    if (!sameGroupFollows && groups <= keep) {
      LogVerboseMsg(logPrefix + "Rotate file backups is finished");
      return;
    }
    const PrefixFileList oldest = backups.front();
    backups.pop_front();
    sameGroupFollows = !backups.empty() && !oldest.stem.empty() && backups.front().stem == oldest.stem;
    if (!sameGroupFollows) --groups;
    const std::string path = JoinPath(dir, oldest.file);
    RemoveRotated(logPrefix, "Rotation: ", path, [&]() { transport->Delete(path); });
  }
}

void tRepository::RotateStructuredBackup(const std::string& ownerGuid, const std::string& infoPath, int count) {
  LogStep(logPrefix + "Rotate structured backups is started for owner " + ownerGuid);
  RejectParentReference(infoPath);
  const std::string dir = PathBranch(infoPath);
  const std::string name = PathLeaf(infoPath);
  const std::string ok = GetBackupStatusStr(BACKUP_STATUS_OK);
  const std::string xml = ".xml";

  if (!EndsWith(name, xml))
    throw OVRIN_EXCEPTION(RepositoryException, "file name '" + infoPath + "' not ends with '.xml'", 0);
  const std::string stem = name.substr(0, name.size() - xml.size());
  const std::string stamp = ExtractExtension(stem, '_', false);
  if (stamp.size() != STAMP_LENGTH)
    throw OVRIN_EXCEPTION(RepositoryException,
                          "file name '" + infoPath + "' has invalid date prefix '" + stamp + "'", 0);
  const std::string base = stem.substr(0, stem.size() - stamp.size());

  LogMsg(logPrefix + "Find list of backups by mask '" + base + "_YYMMDDHHMM" + xml + "' in the directory '" + dir +
         "'");
  std::vector<std::string> entries;
  transport->ListDir(dir, entries);

  BackupList backups;
  for (const std::string& entry : entries) {
    if (entry == DISCOVERED || !EndsWith(entry, xml)) continue;
    if (!BeginsWith(entry, base)) {
      LogMsg(logPrefix + "Rotation: the file '" + entry + "' does not satisfy mask");
      continue;
    }
    try {
      const std::string entryStem = entry.substr(0, entry.size() - xml.size());
      const std::string ownerItem =
          JoinPath(JoinPath(JoinPath(dir, DISCOVERED), entryStem), D_ITEM_OWNER + "_" + ownerGuid);
      if (!transport->IsExist(ownerItem)) {
        LogMsg(logPrefix + "File '" + entry + "' is not backup of owner " + ownerGuid);
        continue;
      }
      const std::vector<std::string> statuses = GetDiscoveredItems(dir, entryStem, D_ITEM_STATUS);
      if (!statuses.empty() && std::find(statuses.begin(), statuses.end(), ok) == statuses.end()) {
        LogMsg(logPrefix + "The backup : " + entry + " is not valid!");
        continue;
      }
      const std::string label = GetInfoXmlsLabel(entry);
      backups.push_back({label, entry, ""});
      LogMsg(logPrefix + "Found backup: " + label + ", file " + entry);
    } catch (const ExTraceable& e) {
      LogMsg(e);
      LogMsg(logPrefix + "The file '" + entry + "' is not valid backup file name!");
    } catch (const RepositoryException& e) {
      // A name error of one entry (a descriptor without "info_") leaves the
      // rest of the series to rotate.
      LogMsg(e);
      LogMsg(logPrefix + "The file '" + entry + "' is not valid backup file name!");
    }
  }
  SortByLabel(backups);

  const size_t keep = count > 0 ? static_cast<size_t>(count) : 0;
  if (backups.empty()) {
    LogVerboseMsg(logPrefix + "The backup list is empty. Nothing to rotate.");
    return;
  }
  if (backups.size() <= keep) {
    LogVerboseMsg(logPrefix + "The backups count is less then rotation count. Nothing to rotate.");
    return;
  }
  std::vector<std::string> doomed;
  while (backups.size() > keep) {
    doomed.push_back(JoinPath(dir, backups.front().file));
    backups.pop_front();
  }
  // Dumps of one directory, prefix and label match the same descriptors and
  // sidecars, and each deletion takes the first sidecar that is left. So they
  // are planned in rounds that hold at most one of them, each round after the
  // one before has been deleted: the rotation then removes exactly what
  // deleting the dumps one after another removes.
  for (size_t begin = 0; begin < doomed.size();) {
    std::set<std::pair<std::string, std::string>> keys;
    size_t end = begin;
    while (end < doomed.size() && keys.insert({GetDumpPrefix(doomed[end]), GetInfoXmlsLabel(doomed[end])}).second) {
      ++end;
    }
    const std::vector<PlannedDeletion> plans =
        PlanBackupDeletions(std::vector<std::string>(doomed.begin() + begin, doomed.begin() + end));
    begin = end;
    for (const PlannedDeletion& plan : plans) {
      RemoveRotated(logPrefix, "Rotation:", plan.infoPath, [&]() { DeletePlannedBackup(plan); });
    }
  }
  LogStep(logPrefix + "Rotate structured backups is finished for owner " + ownerGuid);
}

}  // namespace ovrin
