#include "repository/staged_dump.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include <boost/filesystem.hpp>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "repository/import_journal.h"
#include "repository/naming.h"
#include "transport/transport.h"
#include "util/fault_points.h"
#include "util/strings.h"

namespace fs = boost::filesystem;

namespace ovrin {

namespace {

[[noreturn]] void WrongFormat(const std::string& text) {
  throw OVRIN_EXCEPTION(RepositoryException, "Dump has wrong format. " + text, 2);
}

[[noreturn]] void Conflict(const std::string& text) { throw OVRIN_EXCEPTION(RepositoryException, text, 3); }

bool IsDirMember(const std::string& member) { return EndsWith(member, "/"); }

std::string Bare(const std::string& member) {
  return IsDirMember(member) ? member.substr(0, member.size() - 1) : member;
}

void Walk(const fs::path& tree, const std::string& rel, std::vector<std::string>& members) {
  for (fs::directory_iterator it(rel.empty() ? tree : tree / rel), end; it != end; ++it) {
    const std::string entry = JoinPath(rel, it->path().filename().string());
    struct stat st;
    if (::lstat(it->path().c_str(), &st) != 0) WrongFormat("Archive member '" + entry + "' cannot be read back");
    if (S_ISDIR(st.st_mode)) {
      members.push_back(entry + "/");
      Walk(tree, entry, members);
    } else if (S_ISREG(st.st_mode)) {
      if (st.st_mode & (S_ISUID | S_ISGID)) ::chmod(it->path().c_str(), st.st_mode & 0777);
      members.push_back(entry);
    } else {
      WrongFormat("Archive member '" + entry + "' is not a regular file or directory");
    }
  }
}

// The sidecar a member lies in: `objectDir` holds ".discovered", `sidecar` is
// the directory below it, `rest` what follows. False for members outside
// every ".discovered".
bool SplitSidecarPath(const std::string& member, std::string& objectDir, std::string& sidecar, std::string& rest,
                      bool& isDiscoveredDir) {
  std::vector<std::string> parts;
  Split(Bare(member), parts, "/");
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i] != DISCOVERED) continue;
    objectDir.clear();
    for (size_t j = 0; j < i; ++j) objectDir = JoinPath(objectDir, parts[j]);
    isDiscoveredDir = i + 1 == parts.size();
    sidecar = isDiscoveredDir ? "" : parts[i + 1];
    rest.clear();
    for (size_t j = i + 2; j < parts.size(); ++j) rest = JoinPath(rest, parts[j]);
    return true;
  }
  return false;
}

bool IsKnownItem(const std::string& name, std::string& kind) {
  const size_t sep = name.find('_');
  if (sep == std::string::npos || sep + 1 == name.size()) return false;
  kind = name.substr(0, sep);
  for (const std::string& known : {D_ITEM_SIZE, D_ITEM_OWNER, D_ITEM_OWNER_TYPE, D_ITEM_GUID, D_ITEM_OBJECT_ID,
                                   D_ITEM_STATUS}) {
    if (kind == known) return true;
  }
  return false;
}

// True when the file at `localPath` holds exactly what `target` holds in the storage.
bool SameContent(tRepositoryTransport& storage, const std::string& target, const std::string& localPath) {
  std::ifstream local(localPath.c_str(), std::ios::binary);
  std::unique_ptr<irepostream> stored(storage.GetFile(target));
  if (!local || !stored || !*stored) return false;
  std::vector<char> a(1 << 16), b(1 << 16);
  for (;;) {
    local.read(a.data(), static_cast<std::streamsize>(a.size()));
    stored->read(b.data(), static_cast<std::streamsize>(b.size()));
    const std::streamsize got = local.gcount();
    if (got != stored->gcount() || !std::equal(a.begin(), a.begin() + got, b.begin())) return false;
    if (local.bad() || stored->bad()) return false;
    if (local.eof() || stored->eof()) return local.eof() && stored->eof();
  }
}

}  // namespace

std::vector<std::string> ListStagedMembers(const std::string& tree) {
  std::vector<std::string> members;
  Walk(fs::path(tree), "", members);
  std::sort(members.begin(), members.end());
  return members;
}

void DropStagedVerdicts(const std::string& tree, std::vector<std::string>& members) {
  std::vector<std::string> kept;
  for (const std::string& member : members) {
    std::string objectDir, sidecar, rest;
    bool isDiscoveredDir = false;
    if (!IsDirMember(member) && SplitSidecarPath(member, objectDir, sidecar, rest, isDiscoveredDir) &&
        rest.find('/') == std::string::npos && BeginsWith(rest, D_ITEM_STATUS + "_")) {
      LogMsg("Dropping verdict '" + member + "' of the archive");
      fs::remove(fs::path(tree) / member);
      continue;
    }
    kept.push_back(member);
  }
  members.swap(kept);
}

void CheckStagedSidecars(const std::string& tree, const std::vector<std::string>& members,
                         const std::string& descriptor) {
  const std::set<std::string> present(members.begin(), members.end());
  const std::string topSidecar = GetInfoXmlDir(descriptor);
  std::map<std::string, std::set<std::string>> kindsSeen;  // sidecar path -> item kinds
  for (const std::string& member : members) {
    std::string objectDir, sidecar, rest;
    bool isDiscoveredDir = false;
    if (!SplitSidecarPath(member, objectDir, sidecar, rest, isDiscoveredDir)) continue;
    if (isDiscoveredDir) {
      if (!IsDirMember(member)) WrongFormat("Archive member '" + member + "' is not a directory");
      continue;
    }
    const std::string sidecarPath = JoinPath(JoinPath(objectDir, DISCOVERED), sidecar);
    if (objectDir.empty() ? sidecar != topSidecar
                          : present.count(JoinPath(objectDir, sidecar + ".xml")) == 0) {
      WrongFormat("Discovered dir '" + sidecarPath + "' belongs to no descriptor of the archive" +
                  (objectDir.empty() ? " (expected '" + JoinPath(DISCOVERED, topSidecar) + "')" : ""));
    }
    if (rest.empty()) {
      if (!IsDirMember(member)) WrongFormat("Discovered dir '" + sidecarPath + "' is not a directory");
      continue;
    }
    std::string kind;
    if (IsDirMember(member) || rest.find('/') != std::string::npos || !IsKnownItem(rest, kind)) {
      WrongFormat("Discovered item '" + Bare(member) + "' is not a dump property");
    }
    boost::system::error_code ec;
    if (fs::file_size(fs::path(tree) / member, ec) != 0 || ec) {
      WrongFormat("Discovered item '" + member + "' is not empty");
    }
    if (!kindsSeen[sidecarPath].insert(kind).second) {
      WrongFormat("Discovered dir '" + sidecarPath + "' holds more than one '" + kind + "' item");
    }
  }
}

PlacementPlan PlanPlacement(tRepositoryTransport& storage, const std::string& tree,
                            const std::vector<std::string>& members, const std::string& targetDir) {
  PlacementPlan plan;
  std::set<std::string> newDirs, existingSidecars;
  const std::set<std::string> present(members.begin(), members.end());
  for (const std::string& member : members) {
    const std::string rel = Bare(member);
    const std::string parent = PathBranch(rel);
    const std::string target = JoinPath(targetDir, rel);
    const bool underNew = newDirs.count(parent) > 0;
    if (IsDirMember(member)) {
      if (!underNew && storage.IsDirExist(target)) {
        if (PathLeaf(parent) == DISCOVERED) existingSidecars.insert(rel);
        continue;
      }
      if (!underNew && storage.IsExist(target)) Conflict("file '" + target + "' exists");
      newDirs.insert(rel);
      plan.dirs.push_back(target);
      continue;
    }
    const std::string staged = (fs::path(tree) / rel).string();
    if (!underNew) {
      if (storage.IsExist(target)) {
        if (!SameContent(storage, target, staged)) Conflict("file '" + target + "' exists with other content");
        plan.kept.push_back(target);
        continue;
      }
      if (storage.IsDirExist(target)) Conflict("file '" + target + "' exists");
      if (existingSidecars.count(parent)) {
        Conflict("file '" + target + "' would be added to the existing discovered dir '" +
                 JoinPath(targetDir, parent) + "'");
      }
    }
    // A descriptor is a file whose sidecar directory lies beside it.
    const bool descriptor = EndsWith(rel, ".xml") &&
                            present.count(JoinPath(JoinPath(parent, DISCOVERED), GetInfoXmlDir(PathLeaf(rel))) + "/");
    (descriptor ? plan.descriptors : plan.files).push_back(StagedFile{staged, target});
  }
  // Deepest first, so that an enclosing dump's descriptor, and the top one
  // last of all, lands only once everything it covers has.
  std::stable_sort(plan.descriptors.begin(), plan.descriptors.end(), [](const StagedFile& a, const StagedFile& b) {
    return std::count(a.target.begin(), a.target.end(), '/') > std::count(b.target.begin(), b.target.end(), '/');
  });
  return plan;
}

void PlaceStaged(tRepositoryTransport& storage, const PlacementPlan& plan, tImportJournal* journal) {
  if (journal) {
    for (const std::string& dir : plan.dirs) journal->AddDir(dir);
    for (const auto* group : {&plan.files, &plan.descriptors}) {
      for (const StagedFile& file : *group) {
        std::string local;
        // A rename keeps the file's identity, so it is known before the move.
        const bool sameHost = storage.GetLocalPath(file.target, local);
        journal->AddFile(file.target, sameHost ? tImportJournal::LocalIdentity(file.staged) : "");
      }
    }
    journal->Write();
    FaultPoint("import-journal-written");
  }
  for (const std::string& dir : plan.dirs) storage.CreateDir(dir);
  for (const auto* group : {&plan.files, &plan.descriptors}) {
    for (const StagedFile& file : *group) {
      if (!storage.PlaceFile(file.staged, file.target)) Conflict("file '" + file.target + "' exists");
      FaultPoint(group == &plan.files ? "import-file-placed" : "import-descriptor-placed");
    }
  }
}

}  // namespace ovrin
