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

// The checked listing of the archive: member names as stored.
std::vector<std::string> ListAndCheck(const std::vector<std::string>& localParts) {
  std::vector<ArchiveMember> members;
  ListArchive(localParts, members);
  CheckArchiveMembers(members);
  return MemberNames(members);
}

// The dump's type as its descriptor `infoXml` in the local directory `dir` tells it.
std::string ReadDumpType(const std::string& dir, const std::string& infoXml) {
  std::unique_ptr<tRepositoryTransport> local(tRepositoryTransport::Get(dir));
  local->Init("", "", false, 0);
  tInfoXmlReader reader(local.get(), infoXml);
  reader.ReadObject();
  return reader.ObjectType();
}

// The one descriptor at the archive's top level. Only it is extracted, into
// `dir`: the usual dump has it near the front and tar stops right after it.
std::string ExtractDescriptor(const std::vector<std::string>& localParts, const std::vector<std::string>& listed,
                              const std::string& fileSpec, const std::string& dir) {
  std::map<std::string, int> rootXmls;
  for (const std::string& name : listed) {
    if (name.find('/') == std::string::npos && EndsWith(name, ".xml")) ++rootXmls[name];
  }
  // A name that needed escaping in the listing, or that is stored twice,
  // takes a pass over the whole top level. tar fails when a pattern matches
  // nothing, so an archive without a candidate is not asked.
  std::vector<std::string> rootFiles;
  const auto only = rootXmls.begin();
  if (rootXmls.size() == 1 && only->second == 1 && only->first.find('\\') == std::string::npos) {
    ExtractArchiveMember(localParts, dir, only->first, rootFiles);
  } else if (!rootXmls.empty()) {
    ExtractArchiveRoot(localParts, dir, rootFiles, "*.xml");
  }
  std::vector<std::string> candidates;
  for (const std::string& file : rootFiles) {
    if (!EndsWith(file, ".xml")) continue;
    if (GetInfoXmlsLabel(file).empty()) throw OVRIN_EXCEPTION(RepositoryException, "bad name of info file", 2);
    candidates.push_back(file);
  }
  if (candidates.empty()) {
    throw OVRIN_EXCEPTION(RepositoryException, "root of arhive " + fileSpec + " does no contains xml files", 2);
  }
  if (candidates.size() > 1) {
    throw OVRIN_EXCEPTION(RepositoryException, "root of arhive " + fileSpec + " contains more than 1 xml file", 2);
  }
  return candidates.front();
}

// A member stored twice would land as its last copy while the checks saw the
// first: an exported dump never holds one.
void RefuseDuplicates(const std::vector<std::string>& listed) {
  std::set<std::string> seen;
  for (const std::string& name : listed) {
    std::string bare = name;
    while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
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

// Extracts the archive into `tree` and returns the members that landed there,
// status items dropped.
std::vector<std::string> ExtractStaged(const std::vector<std::string>& localParts, const std::string& tree,
                                       std::vector<std::string>& tarNames, const std::vector<std::string>& includes,
                                       const std::vector<std::string>& excludes) {
  fs::create_directory(tree);
  ExtractArchive(localParts, tree, tarNames, includes, excludes);
  std::vector<std::string> members = ListStagedMembers(tree);
  DropStagedVerdicts(tree, members);
  return members;
}

}  // namespace

void tRepository::AddDirsToTransaction(const std::vector<std::string>& dirs) {
  for (const std::string& dir : dirs) transaction->AddCreatedDir(dir);
}

DumpImportResult tRepository::ImportFromRepo(tRepository& source, const std::string& fileSpec,
                                             const std::string& objectType, const std::string&) {
  LogStep(logPrefix + "Import from " + source.Transport().GetUrl() + "/" + fileSpec);

  // 1. The archive's parts, readable on this host, and its listing, checked
  //    before any member is written anywhere.
  std::vector<std::string> parts;
  GetFileParts(source.Transport(), fileSpec, parts);
  const std::vector<std::string> localParts = LocalParts(source.Transport(), parts);
  const std::vector<std::string> listed = ListAndCheck(localParts);
  if (std::none_of(listed.begin(), listed.end(),
                   [](const std::string& name) { return BeginsWith(name, DISCOVERED + "/"); })) {
    throw OVRIN_ERROR(ArchiverError) % ("unable to extract files from " + Concat(localParts, ", "));
  }

  // 2. The descriptor tells the dump's type, which the requester must be
  //    allowed to import. Whatever is extracted goes into the staging
  //    directory, which a later run clears should this one be killed.
  tImportStaging staging(*transport);
  const std::string descriptorDir = JoinPath(staging.Path(), "descriptor");
  fs::create_directory(descriptorDir);
  const std::string infoXml = ExtractDescriptor(localParts, listed, fileSpec, descriptorDir);
  RefuseDuplicates(listed);
  const std::string dumpType = ReadDumpType(descriptorDir, infoXml);
  if (!objectType.empty()) {
    LogMsg(logPrefix + "Checking dump type match to " + objectType);
    CheckObjectType(dumpType, objectType);
  }

  // 3. A dump that is there already is not imported again.
  const std::string targetDir = TargetDir(dumpType, listed, infoXml);
  const std::string targetInfo = JoinPath(targetDir, infoXml);
  if (transport->IsExist(targetInfo)) return DumpImportResult{targetInfo, 1};

  // 4. Every name must belong to the dump.
  std::vector<std::string> ignored;
  CheckImportedFiles(infoXml, listed, D_ITEM_STATUS, ignored);

  // 5. The archive goes into the staging directory, where what actually
  //    landed is checked again: kinds, names, sidecars, and the type and
  //    object id the decisions above were made on.
  const std::string tree = JoinPath(staging.Path(), "dump");
  std::vector<std::string> tarNames;
  const std::vector<std::string> members = ExtractStaged(localParts, tree, tarNames, {}, {});
  LogMsg(Concat(tarNames, ", "));
  FaultPoint("import-extracted");
  CheckStagedSidecars(tree, members, infoXml);
  CheckImportedFiles(infoXml, members, D_ITEM_STATUS, ignored);
  if (ReadDumpType(tree, infoXml) != dumpType || TargetDir(dumpType, members, infoXml) != targetDir) {
    throw OVRIN_EXCEPTION(RepositoryException,
                          "Dump has wrong format. Archive " + fileSpec + " changed while it was read", 2);
  }

  // 6. The plan: what is new, what is there already with the same bytes, and
  //    whatever conflicts with what the repository holds refuses the import.
  PlacementPlan plan = PlanPlacement(*transport, tree, members, targetDir);
  const std::vector<std::string> missing = MissingDirs(*transport, targetDir);
  plan.dirs.insert(plan.dirs.begin(), missing.begin(), missing.end());
  const std::string indexDir = JoinPath(staging.Path(), "index");
  fs::create_directory(indexDir);
  PlanIndexItems(*transport, IndexItems(members), indexDir, plan);
  if (!plan.kept.empty()) LogMsg(logPrefix + "Already present with the same content: " + Concat(plan.kept, ", "));

  // 7. The journal first, then the members, the descriptors last; the journal
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
  const std::vector<std::string> localParts = LocalParts(*transport, parts);
  ListAndCheck(localParts);
  if (HasParentReference(dir)) throw OVRIN_EXCEPTION(TransportException, " unable to create directory " + dir, 0);

  tImportStaging staging(target.Transport());
  const std::string tree = JoinPath(staging.Path(), "dump");
  std::vector<std::string> files;
  const std::vector<std::string> members = ExtractStaged(localParts, tree, files, includes, excludes);
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
