// The repository check: one read-only walk of the tree that reports what a
// sound repository never holds. Each directory is listed once (with the kinds
// the listing tells), so the walk grows with the size of the tree.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "repository/import_staging.h"
#include "repository/naming.h"
#include "repository/repository.h"
#include "util/strings.h"

namespace ovrin {

namespace {

const std::string XML = ".xml";
const std::set<std::string> GROUP_DIRS = {"resellers", "clients", "domains"};

bool IsDescriptorName(const std::string& name) {
  if (!EndsWith(name, XML)) return false;
  const size_t mark = name.rfind("info_");
  return mark != std::string::npos && mark + 5 <= name.size() - XML.size();
}

// A join writes ".<name>.join" followed by six random characters.
bool IsJoinTemporary(const std::string& name) {
  const size_t mark = name.rfind(".join");
  return name.size() > 1 && name[0] == '.' && mark != std::string::npos && mark > 1 &&
         name.size() == mark + 5 + 6;
}

struct Listing {
  std::vector<std::string> files;
  std::vector<std::string> dirs;
};

// The entries of `dir` split by kind; an entry the listing leaves open is
// looked at. A directory that cannot be listed lists nothing.
Listing List(tRepositoryTransport& transport, const std::string& dir) {
  Listing listing;
  std::vector<DirEntry> entries;
  try {
    transport.ListDirKinds(dir, entries);
  } catch (const TransportException& e) {
    LogMsg(e);
    return listing;
  }
  for (const DirEntry& entry : entries) {
    if (entry.name.empty() || entry.name == "." || entry.name == "..") continue;
    bool isDir = entry.kind == EntryKind::Dir;
    if (entry.kind == EntryKind::Unknown) isDir = transport.IsDirExist(JoinPath(dir, entry.name));
    (isDir ? listing.dirs : listing.files).push_back(entry.name);
  }
  return listing;
}

}  // namespace

std::vector<RepositoryProblem> tRepository::CheckRepository() {
  LogStep(logPrefix + "Check repository");
  std::vector<RepositoryProblem> problems;
  auto report = [&](const std::string& path, const std::string& kind) { problems.push_back({path, kind, {}}); };

  // Validation records no verdict while the check runs, whatever happens.
  struct Restore {
    bool& flag;
    ~Restore() { flag = true; }
  } restore{recordVerdicts};
  recordVerdicts = false;

  std::set<std::string> objectIds;  // every object directory's id
  std::set<std::string> rootGuids;  // the objects whose dumps lie in the root
  std::vector<std::pair<std::string, std::string>> dumpDirs;  // object directories holding dumps, with their id

  std::vector<std::string> pending = {""};
  while (!pending.empty()) {
    const std::string dir = pending.back();
    pending.pop_back();
    const Listing listing = List(*transport, dir);
    const std::string sidecarRoot = JoinPath(dir, DISCOVERED);
    Listing sidecars;
    std::set<std::string> dirs(listing.dirs.begin(), listing.dirs.end());
    if (dirs.count(DISCOVERED)) sidecars = List(*transport, sidecarRoot);
    const std::set<std::string> sidecarNames(sidecars.dirs.begin(), sidecars.dirs.end());

    bool holdsDumps = false;
    std::set<std::string> stems;
    for (const std::string& name : listing.files) {
      const std::string path = JoinPath(dir, name);
      if (IsJoinTemporary(name)) {
        report(path, "join-leftover");
        continue;
      }
      if (!IsDescriptorName(name)) continue;
      holdsDumps = true;
      const std::string stem = name.substr(0, name.size() - XML.size());
      stems.insert(stem);
      if (!sidecarNames.count(stem)) report(path, "descriptor-without-sidecar");
      const std::vector<std::string> noVerdict;
      try {
        for (const ValidationResult& result : ValidateBackup(path, true, &noVerdict)) {
          if (result.status == BACKUP_STATUS_WRONG_FORMAT) report(path, "descriptor-invalid");
          if (result.status == BACKUP_STATUS_CONTENT_ERROR) problems.push_back({path, "content-missing", result.contentFiles});
        }
      } catch (const TransportException&) {
        throw;
      } catch (const std::exception& e) {
        LogMsg(logPrefix + "Check: " + path + ": " + e.what());
        report(path, "descriptor-unreadable");
      } catch (...) {
        report(path, "descriptor-unreadable");
      }
    }
    for (const std::string& name : sidecars.dirs) {
      if (dir.empty() && JoinPath(DISCOVERED, name) == STAGING_AREA) continue;
      if (!stems.count(name)) report(JoinPath(sidecarRoot, name), "sidecar-without-descriptor");
      // The server's directory is the root, which no index item names by
      // its id: the server's item is known by the GUID its dumps record.
      if (dir.empty()) {
        for (const std::string& item : List(*transport, JoinPath(sidecarRoot, name)).files) {
          if (BeginsWith(item, D_ITEM_GUID + "_")) rootGuids.insert(item.substr(D_ITEM_GUID.size() + 1));
        }
      }
    }

    const std::string parent = PathLeaf(PathBranch(dir));
    if (!dir.empty() && GROUP_DIRS.count(parent)) {
      objectIds.insert(PathLeaf(dir));
      if (holdsDumps) dumpDirs.push_back({dir, PathLeaf(dir)});
    }
    // Sub-directories are walked in listing order.
    for (auto it = listing.dirs.rbegin(); it != listing.dirs.rend(); ++it) {
      if (*it != DISCOVERED) pending.push_back(JoinPath(dir, *it));
    }
  }

  // The index: one empty file "<guid>_<objectId>" per dumped object.
  std::set<std::string> indexedIds;
  const Listing index = List(*transport, DISCOVERED);
  for (const std::string& name : index.files) {
    const size_t sep = name.find('_');
    if (sep == std::string::npos) continue;
    const std::string id = name.substr(sep + 1);
    indexedIds.insert(id);
    if (!objectIds.count(id) && !rootGuids.count(name.substr(0, sep))) report(JoinPath(DISCOVERED, name), "index-entry-without-directory");
  }
  for (const auto& dumpDir : dumpDirs) {
    if (!indexedIds.count(dumpDir.second)) report(dumpDir.first, "dump-directory-not-indexed");
  }

  // What killed imports left: every entry of the staging area.
  if (transport->IsDirExist(STAGING_AREA)) {
    const Listing area = List(*transport, STAGING_AREA);
    for (const std::string& name : area.files) report(JoinPath(STAGING_AREA, name), "import-leftover");
    for (const std::string& name : area.dirs) report(JoinPath(STAGING_AREA, name), "import-leftover");
  }
  LogStep(logPrefix + "Check found " + std::to_string(problems.size()) + " problem(s)");
  return problems;
}

}  // namespace ovrin
