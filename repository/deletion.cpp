// Removal of structured dumps and of exported dump files. Nothing here is
// recorded in the files transaction: a deletion cannot be undone.
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "repository/dump_files.h"
#include "repository/naming.h"
#include "repository/packed_files.h"
#include "repository/repository.h"
#include "util/strings.h"

namespace ovrin {

namespace {

// A dump made while an enclosing object was backed up carries the enclosing
// dump's prefix and label. Object directories alternate with group
// directories, so only every second ancestor can hold that dump's
// descriptor; the root is examined when the walk arrives there.
bool IsPartOfAnotherBackup(tRepositoryTransport& transport, const std::string& dumpDir, const std::string& prefix,
                           const std::string& label) {
  std::string dir = dumpDir;
  for (;;) {
    if (dir.empty()) return false;
    dir = PathBranch(dir);
    if (dir.empty()) return false;
    dir = PathBranch(dir);
    if (HasInfoXml(transport, dir, prefix, label)) return true;
  }
}

}  // namespace

std::vector<tRepository::PlannedDeletion> tRepository::PlanBackupDeletions(const std::vector<std::string>& infoPaths) {
  std::vector<PlannedDeletion> plans;
  // Dumps of one directory and prefix that are parts (or not) of another
  // backup are searched for together: one walk of the tree for all of them.
  typedef std::tuple<std::string, std::string, bool> Group;
  std::map<Group, std::set<std::string>> groups;
  for (const std::string& infoPath : infoPaths) {
    RejectParentReference(infoPath);
    PlannedDeletion plan;
    plan.infoPath = infoPath;
    plan.label = GetInfoXmlsLabel(infoPath);
    plan.prefix = GetDumpPrefix(infoPath);
    plan.dumpDir = PathBranch(infoPath);
    plan.partOfAnother = IsPartOfAnotherBackup(*transport, plan.dumpDir, plan.prefix, plan.label);
    groups[Group(plan.dumpDir, plan.prefix, plan.partOfAnother)].insert(plan.label);
    plans.push_back(plan);
  }
  std::map<Group, DumpFilesByLabel> files;
  for (const auto& group : groups) {
    const bool partOfAnother = std::get<2>(group.first);
    // The enclosing dump owns the archives and everything below this
    // directory, so a part removes only its own files.
    FindDumpFiles(*transport, std::get<0>(group.first), std::get<1>(group.first), group.second, "", true,
                  files[group.first], partOfAnother, !partOfAnother, true, false);
  }
  for (PlannedDeletion& plan : plans) {
    DumpFilesByLabel& found = files[Group(plan.dumpDir, plan.prefix, plan.partOfAnother)];
    plan.entries = found[plan.label];
  }
  return plans;
}

namespace {

// Removes a dump's directory (its sidecar) with what is in it. The local
// transport removes whole trees; an FTP server removes empty directories
// only, so when the removal is refused the listed entries go first and the
// removal is tried once more.
void DeleteDirTree(tRepositoryTransport& transport, const std::string& dir) {
  try {
    transport.DeleteDir(dir);
    return;
  } catch (const TransportException&) {
    if (!transport.IsDirExist(dir)) throw;
  }
  std::vector<std::string> listed;
  transport.ListDir(dir, listed);
  for (std::string entry : listed) {
    // Some servers name the entries of a name listing with the listed directory in front.
    const size_t slash = entry.rfind('/');
    if (slash != std::string::npos && slash + 1 < entry.size()) entry = entry.substr(slash + 1);
    if (entry.empty() || entry == "." || entry == ".." || entry.find('/') != std::string::npos) continue;
    const std::string path = JoinPath(dir, entry);
    if (transport.IsDirExist(path)) {
      DeleteDirTree(transport, path);
    } else {
      transport.Delete(path);
    }
  }
  transport.DeleteDir(dir);
}

}  // namespace

void tRepository::DeletePlannedBackup(const PlannedDeletion& plan) {
  LogStep(logPrefix + "Delete backup " + plan.infoPath);
  if (plan.partOfAnother) LogMsg("backup '" + plan.infoPath + "' is part of another backup");
  LogVerboseMsg(logPrefix + "Found " + std::to_string(plan.entries.size()) + " files for deleting");
  for (const std::string& entry : plan.entries) {
    const std::string path = JoinPath(plan.dumpDir, entry);
    if (transport->IsDirExist(path)) {
      DeleteDirTree(*transport, path);
    } else {
      transport->Delete(path);
    }
  }
}

void tRepository::DeleteBackup(const std::string& infoPath) {
  DeletePlannedBackup(PlanBackupDeletions({infoPath}).front());
}

void tRepository::DeletePackedBackup(const std::string& fileSpec) {
  LogStep(logPrefix + "Delete packed backup " + fileSpec);
  try {
    if (fileSpec.empty()) throw OVRIN_EXCEPTION(RepositoryException, "path to deleting file is empty", 0);
    RejectParentReference(fileSpec);
    if (!transport->IsExist(fileSpec))
      throw OVRIN_EXCEPTION(RepositoryException, "file " + fileSpec + " not exists", 1);
    LogMsg(logPrefix + "Retreaving dump parts...");
    std::vector<std::string> parts;
    GetFileParts(*transport, fileSpec, parts);
    for (const std::string& part : parts) {
      transport->Delete(part);
      LogMsg(logPrefix + "File '" + part + "' deleted");
    }
    LogMsg(logPrefix + "Deleted");
  } catch (const TransportException&) {
    throw;
  } catch (const RepositoryException&) {
    throw;
  } catch (const std::exception&) {
    throw OVRIN_EXCEPTION(RepositoryException, "unable to delete packed dump: " + LogCurrentFailure("Error: "), 0);
  }
}

}  // namespace ovrin
