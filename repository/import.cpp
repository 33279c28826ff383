#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>

#include <boost/filesystem.hpp>
#include <boost/lexical_cast.hpp>

#include "errors/loggable_exceptions.h"
#include "infoxml/info_xml_reader.h"
#include "log/debug_log.h"
#include "repository/archive.h"
#include "repository/naming.h"
#include "repository/packed_files.h"
#include "repository/repository.h"
#include "transport/files_transaction.h"
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

void ListAndCheck(const std::vector<std::string>& localParts, std::vector<std::string>& names) {
  std::vector<ArchiveMember> members;
  ListArchive(localParts, members);
  CheckArchiveMembers(members);
  names = MemberNames(members);
}

// True when anything, even a dangling link, sits at the local path.
bool LocalEntryExists(const fs::path& path) {
  boost::system::error_code ec;
  fs::file_status st = fs::symlink_status(path, ec);
  return !ec && fs::exists(st);
}

// What an unpacking adds to the target: the entries to move out of the
// staging directory (top-most new ones only) and every file and directory
// that did not exist before, all relative to the destination.
struct UnpackPlan {
  std::vector<std::string> moves;
  std::vector<std::string> files;
  std::vector<std::string> dirs;  // parents before children
};

class Planner {
 public:
  Planner(tRepositoryTransport& target, const std::string& dir, const fs::path& staging,
          const fs::path& destination)
      : target(target), dir(dir), staging(staging), destination(destination) {}

  // Walks the staged tree; refuses entries that are neither regular files nor
  // directories and files that already exist in the target, so nothing that
  // was there before is ever replaced.
  void Walk(const std::string& rel, bool underNew, UnpackPlan& plan) {
    std::vector<std::string> names;
    for (fs::directory_iterator it(rel.empty() ? staging : staging / rel), end; it != end; ++it) {
      names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string entry = JoinPath(rel, name);
      const fs::path staged = staging / entry;
      const fs::file_status st = fs::symlink_status(staged);
      ClearIdBits(staged, st);
      if (fs::is_directory(st)) {
        bool exists = !underNew && ExistingDir(entry);
        if (!exists) {
          plan.dirs.push_back(entry);
          if (!underNew) plan.moves.push_back(entry);
        }
        Walk(entry, underNew || !exists, plan);
      } else if (fs::is_regular_file(st)) {
        if (!underNew && Exists(entry)) {
          throw OVRIN_EXCEPTION(RepositoryException, "file '" + JoinPath(dir, entry) + "' exists", 3);
        }
        plan.files.push_back(entry);
        if (!underNew) plan.moves.push_back(entry);
      } else {
        throw OVRIN_EXCEPTION(RepositoryException,
                              "Dump has wrong format. Archive member '" + entry +
                                  "' is not a regular file or directory",
                              2);
      }
    }
  }

 private:
  bool Exists(const std::string& entry) {
    const std::string path = JoinPath(dir, entry);
    return target.IsExist(path) || target.IsDirExist(path) || LocalEntryExists(destination / entry);
  }

  // A directory of the target may be merged into; any other entry of that
  // name may not be replaced.
  bool ExistingDir(const std::string& entry) {
    const std::string path = JoinPath(dir, entry);
    if (target.IsDirExist(path)) return true;
    if (target.IsExist(path) || LocalEntryExists(destination / entry)) {
      throw OVRIN_EXCEPTION(RepositoryException, "file '" + path + "' exists", 3);
    }
    return false;
  }

  static void ClearIdBits(const fs::path& path, const fs::file_status& st) {
    if (fs::is_symlink(st)) return;
    struct stat raw;
    if (::lstat(path.c_str(), &raw) != 0) return;
    if (raw.st_mode & (S_ISUID | S_ISGID)) ::chmod(path.c_str(), raw.st_mode & 0777 & ~(S_ISUID | S_ISGID));
  }

  tRepositoryTransport& target;
  const std::string& dir;
  fs::path staging;
  fs::path destination;
};

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

std::vector<std::string> Reversed(std::vector<std::string> items) {
  std::reverse(items.begin(), items.end());
  return items;
}

// UnpackToRepo for an archive whose listing has already been checked.
void UnpackChecked(tRepository& source, const std::vector<std::string>& parts, tRepository& target,
                   const std::string& dir, std::vector<std::string>* outFiles,
                   const std::vector<std::string>& includes, const std::vector<std::string>& excludes) {
  LogVerboseMsg(source.LogPrefix() + "Unpack from " + Concat(parts, ", ") + " to " + target.Transport().GetUrl() +
                "/" + dir);
  const std::vector<std::string> localParts = LocalParts(source.Transport(), parts);
  if (HasParentReference(dir)) {
    throw OVRIN_EXCEPTION(TransportException, " unable to create directory " + dir, 0);
  }
  const std::string destination = JoinPath(target.Transport().GetReceivingDir(), dir);
  const std::vector<std::string> missing = MissingDirs(target.Transport(), dir);
  if (!SafeCreateDir(destination)) {
    throw OVRIN_EXCEPTION(TransportException, " unable to create directory " + destination, 0);
  }

  std::vector<std::string> files;
  {
    // The archive goes into a fresh directory beside its destination first:
    // its entries are checked there and moved into place only when they are
    // new, so a failure never touches what the target already held.
    std::unique_ptr<TempDirGuard> staging;
    UnpackPlan plan;
    try {
      staging.reset(new TempDirGuard(TAV_makeTempFileDirectory(destination, ".unpack_")));
      ExtractArchive(localParts, staging->Path(), files, includes, excludes);
      Planner(target.Transport(), dir, staging->Path(), destination).Walk("", false, plan);
    } catch (...) {
      target.AddDirsToTransaction(Reversed(missing));
      throw;
    }
    // Recorded before anything moves: a name not yet moved does not exist in
    // the target, so its removal on rollback is harmless. Directories go
    // children first, so that even a storage that removes only empty
    // directories is left clean.
    std::vector<std::string> created;
    for (const std::string& file : plan.files) created.push_back(JoinPath(dir, file));
    target.AddFilesToTransaction("", created);
    std::vector<std::string> createdDirs;
    for (const std::string& d : Reversed(plan.dirs)) createdDirs.push_back(JoinPath(dir, d));
    for (const std::string& d : Reversed(missing)) createdDirs.push_back(d);
    target.AddDirsToTransaction(createdDirs);

    for (const std::string& entry : plan.moves) {
      boost::system::error_code ec;
      // An entry merged into an existing directory of a remote storage has
      // no local parent in the receiving directory yet.
      fs::create_directories((fs::path(destination) / entry).parent_path(), ec);
      fs::rename(fs::path(staging->Path()) / entry, fs::path(destination) / entry, ec);
      if (ec) {
        throw OVRIN_EXCEPTION(TransportException,
                              "unable to move " + entry + " into " + destination + ": " + ec.message(), 0);
      }
    }
  }
  target.ReceiveDir(dir);
  if (outFiles) *outFiles = files;
}

// The repository index wants one plain name per GUID and object id.
bool UsableIndexValue(const std::string& value) { return IsPlainComponent(value); }

}  // namespace

void tRepository::AddDirsToTransaction(const std::vector<std::string>& dirs) {
  for (const std::string& dir : dirs) transaction->AddCreatedDir(dir);
}

DumpImportResult tRepository::ImportFromRepo(tRepository& source, const std::string& fileSpec,
                                             const std::string& objectType, const std::string&) {
  LogStep(logPrefix + "Import from " + source.Transport().GetUrl() + "/" + fileSpec);
  std::vector<std::string> parts;
  GetFileParts(source.Transport(), fileSpec, parts);
  const std::vector<std::string> localParts = LocalParts(source.Transport(), parts);

  // The archive is untrusted: its listing is checked before any member is
  // written anywhere.
  std::vector<std::string> listed;
  ListAndCheck(localParts, listed);

  // The sidecar items are empty files: their names, which the listing
  // already holds, are all there is to them.
  std::vector<std::string> sidecarFiles;
  std::map<std::string, int> rootXmls;
  for (const std::string& name : listed) {
    if (BeginsWith(name, DISCOVERED + "/")) sidecarFiles.push_back(name);
    if (name.find('/') == std::string::npos && EndsWith(name, ".xml")) ++rootXmls[name];
  }
  // Only the descriptors are read at this point, so only they are extracted:
  // the dump's content is written once, into the repository. The usual dump
  // has one descriptor near the front: tar stops right after it. A name that
  // needed escaping in the listing, or that occurs twice (the last copy is
  // the one the import keeps), takes a pass over the whole archive. tar fails
  // when a pattern matches nothing, so an archive without one is not asked.
  TempDirGuard rootDir(GetTempDirPath());
  std::vector<std::string> rootFiles;
  if (rootXmls.size() == 1 && rootXmls.begin()->second == 1 &&
      rootXmls.begin()->first.find('\\') == std::string::npos) {
    ExtractArchiveMember(localParts, rootDir.Path(), rootXmls.begin()->first, rootFiles);
  } else if (!rootXmls.empty()) {
    ExtractArchiveRoot(localParts, rootDir.Path(), rootFiles, "*.xml");
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
  const std::string infoXml = candidates.front();

  std::string dumpType;
  {
    std::unique_ptr<tRepositoryTransport> local(tRepositoryTransport::Get(rootDir.Path()));
    local->Init("", "", false, 0);
    tInfoXmlReader reader(local.get(), infoXml);
    reader.ReadObject();
    dumpType = reader.ObjectType();
  }
  if (!objectType.empty()) {
    LogMsg(logPrefix + "Checking dump type match to " + objectType);
    CheckObjectType(dumpType, objectType);
  }

  const std::string targetDir =
      dumpType == "server" ? "" : JoinPath(GetObjectTypeGroupDir(dumpType), GetObjectId(sidecarFiles));
  const std::string targetInfo = JoinPath(targetDir, infoXml);
  if (transport->IsExist(targetInfo)) return DumpImportResult{targetInfo, 1};

  // Names are checked on the listing too, so a foreign member is refused
  // before anything reaches the repository.
  std::vector<std::string> ignored;
  CheckImportedFiles(infoXml, listed, D_ITEM_STATUS, ignored);

  std::vector<std::string> unpacked;
  UnpackChecked(source, parts, *this, targetDir, &unpacked, {}, {});
  LogMsg(Concat(unpacked, ", "));

  std::vector<std::string> toDelete;
  CheckImportedFiles(infoXml, unpacked, D_ITEM_STATUS, toDelete);
  LogMsg("Found files to delete: " + Concat(toDelete, ", "));
  for (const std::string& name : toDelete) {
    try {
      transport->Delete(JoinPath(targetDir, name));
    } catch (const TransportException& e) {
      LogMsg(e);
    }
  }
  CreateRepositoryIndexFromImported(unpacked);
  return DumpImportResult{targetInfo, 0};
}

void tRepository::UnpackToRepo(const std::vector<std::string>& parts, tRepository& target, const std::string& dir,
                               std::vector<std::string>* outFiles, const std::vector<std::string>& includes,
                               const std::vector<std::string>& excludes) {
  std::vector<std::string> listed;
  ListAndCheck(LocalParts(*transport, parts), listed);
  UnpackChecked(*this, parts, target, dir, outFiles, includes, excludes);
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
  std::map<std::string, std::pair<std::string, std::string>> heads;  // head -> (guid, object id)
  for (const std::string& file : files) {
    std::string head, value;
    if (IsDiscoveredPath(file, D_ITEM_GUID, head, value)) {
      heads[head].first = value;
    } else if (IsDiscoveredPath(file, D_ITEM_OBJECT_ID, head, value)) {
      heads[head].second = value;
    }
  }
  for (const auto& entry : heads) {
    const std::string& guid = entry.second.first;
    const std::string& objectId = entry.second.second;
    if (guid.empty()) continue;
    if (objectId.empty()) {
      LogMsg("Object id for object guid '" + guid + "' not found. Skipping.");
    } else if (!UsableIndexValue(guid) || !UsableIndexValue(objectId)) {
      LogMsg("Index item '" + guid + "_" + objectId + "' is not a plain name. Skipping.");
    } else {
      CreateRepositoryIndex(guid + "_" + objectId);
    }
  }
}

}  // namespace ovrin
