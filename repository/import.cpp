// Import: an exported dump archive becomes an ordinary dump of the repository.
// The archive is untrusted; nothing of it reaches the repository before it has
// been checked in a staging directory, and nothing it brings replaces or joins
// anything of another dump. The machinery lives in its own units: the staging
// area (import_staging), the checks and placement of staged members
// (staged_dump) and the journal that undoes a failed or killed import
// (import_journal).
#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include <boost/filesystem.hpp>
#include <boost/lexical_cast.hpp>

#include "errors/loggable_exceptions.h"
#include "infoxml/info_xml_reader.h"
#include "log/debug_log.h"
#include "repository/archive.h"
#include "repository/import_journal.h"
#include "repository/import_staging.h"
#include "repository/naming.h"
#include "repository/packed_files.h"
#include "repository/repository.h"
#include "repository/staged_dump.h"
#include "transport/files_transaction.h"
#include "util/fault_points.h"
#include "util/strings.h"
#include "util/temp_files.h"

namespace fs = boost::filesystem;

namespace ovrin {

namespace {

std::vector<std::string> LocalParts(tRepositoryTransport& transport, const std::vector<std::string>& parts) {
  std::vector<std::string> local;
  for (const std::string& part : parts) local.push_back(transport.GetLocalFile(part));
  return local;
}

// An exported dump always brings sidecars; tar reports nothing wrong with
// an archive of something else, so this is the first sign of one.
void RequireSidecars(const std::vector<std::string>& names, const std::vector<std::string>& localParts) {
  if (std::none_of(names.begin(), names.end(),
                   [](const std::string& name) { return BeginsWith(name, DISCOVERED + "/"); })) {
    throw OVRIN_ERROR(tRepository::ArchiverError) % ("unable to extract files from " + Concat(localParts, ", "));
  }
}

// The one descriptor at the archive's top level among the member `names`.
std::string RootDescriptor(const std::vector<std::string>& names, const std::string& fileSpec) {
  std::vector<std::string> candidates;
  for (const std::string& name : names) {
    if (name.find('/') != std::string::npos || !EndsWith(name, ".xml")) continue;
    if (GetInfoXmlsLabel(name).empty()) throw OVRIN_EXCEPTION(RepositoryException, "bad name of info file", 2);
    candidates.push_back(name);
  }
  if (candidates.empty()) {
    throw OVRIN_EXCEPTION(RepositoryException, "root of arhive " + fileSpec + " does no contains xml files", 2);
  }
  if (candidates.size() > 1) {
    throw OVRIN_EXCEPTION(RepositoryException, "root of arhive " + fileSpec + " contains more than 1 xml file", 2);
  }
  return candidates.front();
}

// What the descriptor `infoXml` in the local directory `dir` says of the dump.
struct DumpIdentity {
  std::string type;
  std::string guid;
};
DumpIdentity ReadDumpIdentity(const std::string& dir, const std::string& infoXml) {
  std::unique_ptr<tRepositoryTransport> local(tRepositoryTransport::Get(dir));
  local->Init("", "", false, 0);
  tInfoXmlReader reader(local.get(), infoXml);
  reader.ReadObject();
  return DumpIdentity{reader.ObjectType(), reader.ObjectGuid()};
}

// The descriptor at the front of the archive, extracted alone into `dir`:
// tar stops reading right after it. Empty when the first top-level "*.xml"
// is no regular file with a descriptor's name, or when there is none.
std::string PeekDescriptor(const std::vector<std::string>& localParts, const std::string& dir) {
  fs::create_directory(dir);
  ExtractFirstAtTop(localParts, dir, "*.xml");
  boost::system::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (fs::is_regular_file(it->symlink_status()) && !GetInfoXmlsLabel(name).empty()) return name;
  }
  return "";
}

// The answer for a dump the repository holds already, known before the
// archive is extracted: the repository index names the directories of the
// object with the descriptor's GUID, and one of them has this descriptor.
std::string KnownDescriptor(tRepositoryTransport& storage, const std::string& dumpType, const std::string& guid,
                            const std::string& infoXml) {
  if (dumpType == "server") return storage.IsExist(infoXml) ? infoXml : "";
  for (const std::string& id : GetDiscoveredNames(storage, guid)) {
    if (!IsPlainComponent(id)) continue;
    const std::string path = JoinPath(JoinPath(GetObjectTypeGroupDir(dumpType), id), infoXml);
    if (storage.IsExist(path)) return path;
  }
  return "";
}

// A member stored twice would land as its last copy while the checks saw the
// first: an exported dump never holds one.
void RefuseDuplicates(const std::vector<std::string>& listed) {
  std::set<std::string> seen;
  for (const std::string& name : listed) {
    const std::string bare = TrimTrailingSlashes(name);
    if (!seen.insert(bare).second) {
      throw OVRIN_EXCEPTION(RepositoryException,
                            "Dump has wrong format. Archive member '" + bare + "' occurs more than once", 2);
    }
  }
}

// The items of the dump's own sidecar directory among `names`.
std::vector<std::string> TopSidecarItems(const std::vector<std::string>& names, const std::string& infoXml) {
  const std::string sidecar = JoinPath(DISCOVERED, GetInfoXmlDir(infoXml)) + "/";
  std::vector<std::string> items;
  for (const std::string& name : names) {
    if (BeginsWith(name, sidecar) && name.size() > sidecar.size()) items.push_back(name);
  }
  return items;
}

// The object directory of the dump in the repository.
std::string TargetDir(const std::string& dumpType, const std::vector<std::string>& names, const std::string& infoXml) {
  if (dumpType == "server") return "";
  return JoinPath(GetObjectTypeGroupDir(dumpType), GetObjectId(TopSidecarItems(names, infoXml)));
}

// The components of `dir` (top-most first) that the target lacks.
std::vector<std::string> MissingDirs(tRepositoryTransport& target, const std::string& dir) {
  std::vector<std::string> components, missing;
  Split(dir, components, "/");
  std::string path;
  for (const std::string& component : components) {
    path = JoinPath(path, component);
    if (!missing.empty() || !target.IsDirExist(path)) missing.push_back(path);
  }
  return missing;
}

// The repository index wants one plain name per GUID and object id.
bool UsableIndexValue(const std::string& value) { return IsPlainComponent(value); }

// The index items (GUID "_" object id) that the sidecars among `files` call for.
std::vector<std::string> IndexItems(const std::vector<std::string>& files) {
  std::map<std::string, std::pair<std::string, std::string>> heads;  // head -> (guid, object id)
  for (const std::string& file : files) {
    std::string head, value;
    if (IsDiscoveredPath(file, D_ITEM_GUID, head, value)) {
      heads[head].first = value;
    } else if (IsDiscoveredPath(file, D_ITEM_OBJECT_ID, head, value)) {
      heads[head].second = value;
    }
  }
  std::vector<std::string> items;
  for (const auto& entry : heads) {
    const std::string& guid = entry.second.first;
    const std::string& objectId = entry.second.second;
    if (guid.empty()) continue;
    if (objectId.empty()) {
      LogMsg("Object id for object guid '" + guid + "' not found. Skipping.");
    } else if (!UsableIndexValue(guid) || !UsableIndexValue(objectId)) {
      LogMsg("Index item '" + guid + "_" + objectId + "' is not a plain name. Skipping.");
    } else {
      items.push_back(guid + "_" + objectId);
    }
  }
  return items;
}

// Adds the missing index items to `plan` as empty files staged in `dir`;
// they land before the descriptors, so a dump is found once it is listed.
void PlanIndexItems(tRepositoryTransport& storage, const std::vector<std::string>& items, const std::string& dir,
                    PlacementPlan& plan) {
  bool indexDir = storage.IsDirExist(DISCOVERED) ||
                  std::find(plan.dirs.begin(), plan.dirs.end(), DISCOVERED) != plan.dirs.end();
  for (const std::string& item : items) {
    const std::string target = JoinPath(DISCOVERED, item);
    if (indexDir && storage.IsExist(target)) continue;
    if (!indexDir) {
      plan.dirs.insert(plan.dirs.begin(), DISCOVERED);
      indexDir = true;
    }
    const std::string staged = JoinPath(dir, item);
    std::ofstream(staged.c_str(), std::ios::binary | std::ios::trunc).close();
    if (!fs::is_regular_file(staged)) {
      throw OVRIN_EXCEPTION(TransportException, " unable to stage index item " + staged, 0);
    }
    plan.files.push_back(StagedFile{staged, target});
  }
}

// Extracts the archive into `tree` in one pass. Returns the members as
// stored, checked; `staged` gets what actually landed, status items dropped.
std::vector<std::string> ExtractStaged(const std::vector<std::string>& localParts, const std::string& tree,
                                       std::vector<std::string>& staged, const std::vector<std::string>& includes,
                                       const std::vector<std::string>& excludes) {
  fs::create_directory(tree);
  std::vector<ArchiveMember> members;
  ExtractArchive(localParts, tree, members, includes, excludes);
  staged = ListStagedMembers(tree);
  DropStagedVerdicts(tree, staged);
  return MemberNames(members);
}

}  // namespace

void tRepository::AddDirsToTransaction(const std::vector<std::string>& dirs) {
  for (const std::string& dir : dirs) transaction->AddCreatedDir(dir);
}

DumpImportResult tRepository::ImportFromRepo(tRepository& source, const std::string& fileSpec,
                                             const std::string& objectType, const std::string&) {
  LogStep(logPrefix + "Import from " + source.Transport().GetUrl() + "/" + fileSpec);

  // 1. The archive's parts, readable on this host. Whatever is extracted goes
  //    into the staging directory, which a later run clears should this one
  //    be killed.
  std::vector<std::string> parts;
  GetFileParts(source.Transport(), fileSpec, parts);
  const std::vector<std::string> localParts = LocalParts(source.Transport(), parts);
  tImportStaging staging(*transport);

  // 2. Before the bulk of the archive is read: the descriptor at its front
  //    tells the dump's type, which the requester must be allowed to import,
  //    and a dump the repository holds already is not imported again. An
  //    archive without one is refused on its listing, before anything of it
  //    is written.
  const std::string peekDir = JoinPath(staging.Path(), "descriptor");
  const std::string peeked = PeekDescriptor(localParts, peekDir);
  DumpIdentity early;
  if (!peeked.empty()) {
    early = ReadDumpIdentity(peekDir, peeked);
    if (!objectType.empty()) {
      LogMsg(logPrefix + "Checking dump type match to " + objectType);
      CheckObjectType(early.type, objectType);
    }
    const std::string known = KnownDescriptor(*transport, early.type, early.guid, peeked);
    if (!known.empty()) return DumpImportResult{known, 1};
  } else {
    const std::vector<std::string> names = ListCheckedNames(localParts);
    RequireSidecars(names, localParts);
    RootDescriptor(names, fileSpec);
  }

  // 3. One pass over the archive into the staging directory, listing every
  //    member as stored; what the listing and what actually landed say is
  //    checked before anything moves: kinds, names, the one descriptor,
  //    sidecars, and the type and object id the decisions are made on.
  const std::string tree = JoinPath(staging.Path(), "dump");
  std::vector<std::string> members;
  const std::vector<std::string> listed = ExtractStaged(localParts, tree, members, {}, {});
  LogMsg(Concat(listed, ", "));
  FaultPoint("import-extracted");
  RequireSidecars(listed, localParts);
  const std::string infoXml = RootDescriptor(listed, fileSpec);
  RefuseDuplicates(listed);
  const std::string dumpType = ReadDumpIdentity(tree, infoXml).type;
  if (!peeked.empty() && (infoXml != peeked || dumpType != early.type)) {
    throw OVRIN_EXCEPTION(RepositoryException,
                          "Dump has wrong format. Archive " + fileSpec + " changed while it was read", 2);
  }
  if (peeked.empty() && !objectType.empty()) {
    LogMsg(logPrefix + "Checking dump type match to " + objectType);
    CheckObjectType(dumpType, objectType);
  }
  const std::string targetDir = TargetDir(dumpType, listed, infoXml);
  const std::string targetInfo = JoinPath(targetDir, infoXml);
  if (transport->IsExist(targetInfo)) return DumpImportResult{targetInfo, 1};
  std::vector<std::string> ignored;
  CheckImportedFiles(infoXml, listed, D_ITEM_STATUS, ignored);
  CheckStagedSidecars(tree, members, infoXml);
  CheckImportedFiles(infoXml, members, D_ITEM_STATUS, ignored);
  if (TargetDir(dumpType, members, infoXml) != targetDir) {
    throw OVRIN_EXCEPTION(RepositoryException,
                          "Dump has wrong format. Archive " + fileSpec + " changed while it was read", 2);
  }

  // 4. The plan: what is new, what is there already with the same bytes, and
  //    whatever conflicts with what the repository holds refuses the import.
  PlacementPlan plan = PlanPlacement(*transport, tree, members, targetDir);
  const std::vector<std::string> missing = MissingDirs(*transport, targetDir);
  plan.dirs.insert(plan.dirs.begin(), missing.begin(), missing.end());
  const std::string indexDir = JoinPath(staging.Path(), "index");
  fs::create_directory(indexDir);
  PlanIndexItems(*transport, IndexItems(members), indexDir, plan);
  if (!plan.kept.empty()) LogMsg(logPrefix + "Already present with the same content: " + Concat(plan.kept, ", "));

  // 5. The journal first, then the members, the descriptors last; the journal
  //    is removed when the top descriptor has landed. Until then a failure,
  //    here or in a later run after a kill, undoes exactly what was placed.
  tImportJournal journal(*transport, staging.RunName());
  PlaceStaged(*transport, plan, &journal);
  journal.Commit();
  return DumpImportResult{targetInfo, 0};
}

void tRepository::UnpackToRepo(const std::vector<std::string>& parts, tRepository& target, const std::string& dir,
                               std::vector<std::string>* outFiles, const std::vector<std::string>& includes,
                               const std::vector<std::string>& excludes) {
  LogVerboseMsg(logPrefix + "Unpack from " + Concat(parts, ", ") + " to " + target.Transport().GetUrl() + "/" + dir);
  if (HasParentReference(dir)) throw OVRIN_EXCEPTION(TransportException, " unable to create directory " + dir, 0);
  const std::vector<std::string> localParts = LocalParts(*transport, parts);

  tImportStaging staging(target.Transport());
  const std::string tree = JoinPath(staging.Path(), "dump");
  std::vector<std::string> members;
  const std::vector<std::string> files = ExtractStaged(localParts, tree, members, includes, excludes);
  PlacementPlan plan = PlanPlacement(target.Transport(), tree, members, dir);
  const std::vector<std::string> missing = MissingDirs(target.Transport(), dir);
  plan.dirs.insert(plan.dirs.begin(), missing.begin(), missing.end());

  // Recorded before anything lands: a name not placed yet does not exist, so
  // its removal on rollback is harmless.
  std::vector<std::string> created;
  for (const auto* group : {&plan.files, &plan.descriptors}) {
    for (const StagedFile& file : *group) created.push_back(file.target);
  }
  target.AddFilesToTransaction("", created);
  target.AddDirsToTransaction(plan.dirs);
  PlaceStaged(target.Transport(), plan, nullptr);
  if (outFiles) *outFiles = files;
}

void tRepository::UnpackToRepo(const std::string& fileSpec, tRepository& target, const std::string& dir,
                               std::vector<std::string>* outFiles) {
  UnpackToRepo(std::vector<std::string>{fileSpec}, target, dir, outFiles, {}, {});
}

void tRepository::Unpack(const std::string& fileSpec, const std::string& destination,
                         std::vector<std::string>* outFiles) {
  tRepository local(destination, "", "", "", false);
  UnpackToRepo(fileSpec, local, "", outFiles);
}

void tRepository::CreateRepositoryIndexFromImported(const std::vector<std::string>& files) {
  LogVerboseMsg(logPrefix + "Create repository index from " + boost::lexical_cast<std::string>(files.size()) +
                " imported files");
  for (const std::string& item : IndexItems(files)) CreateRepositoryIndex(item);
}

}  // namespace ovrin
