#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

const std::string STAGING_PREFIX = ".unpack_";

// A staging directory beside the destination, locked (flock) for as long as
// the object lives. The lock is what tells a live staging directory from
// one left by a killed process: the kernel drops it with its holder.
class StagingDir {
 public:
  explicit StagingDir(const std::string& destination) {
    // A cleaner in another process may take a directory between its making
    // and its locking for a stale one and remove it; then another is made.
    for (int attempt = 0; attempt < 8; ++attempt) {
      const std::string path = TAV_makeTempFileDirectory(destination, STAGING_PREFIX);
      const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) continue;
      struct stat held, named;
      if (LockExclusive(fd, false) && ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        fd_ = fd;
        guard_.reset(new TempDirGuard(path));
        return;
      }
      ::close(fd);
    }
    throw OVRIN_EXCEPTION(TransportException, " unable to create a staging directory in " + destination, 0);
  }
  ~StagingDir() {
    guard_.reset();  // the tree goes while the lock is still held
    if (fd_ >= 0) ::close(fd_);
  }
  StagingDir(const StagingDir&) = delete;
  StagingDir& operator=(const StagingDir&) = delete;

  const std::string& Path() const { return guard_->Path(); }

  // Removes the staging directories in `destination` that no process holds
  // any more: those of imports that were killed half way.
  static void RemoveStale(const std::string& destination) {
    boost::system::error_code ec;
    std::vector<fs::path> candidates;
    for (fs::directory_iterator it(destination, ec), end; !ec && it != end; it.increment(ec)) {
      if (BeginsWith(it->path().filename().string(), STAGING_PREFIX)) candidates.push_back(it->path());
    }
    for (const fs::path& candidate : candidates) {
      // Only a real directory of that name is touched, never what a link
      // leads to.
      const int fd = ::open(candidate.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) continue;
      if (LockExclusive(fd, true)) {
        LogMsg("Removing staging directory " + candidate.string() + " left by an interrupted import");
        fs::remove_all(candidate, ec);
        if (ec) LogMsg("Unable to remove " + candidate.string() + ": " + ec.message());
      }
      ::close(fd);
    }
  }

 private:
  static bool LockExclusive(int fd, bool tryOnly) {
    int rc;
    do {
      rc = ::flock(fd, LOCK_EX | (tryOnly ? LOCK_NB : 0));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
  }

  int fd_ = -1;
  std::unique_ptr<TempDirGuard> guard_;
};

// Moves `entries` (relative paths) from `from` to the same places below `to`;
// a rename where it can, a copy across file systems.
void MoveEntries(const std::string& from, const std::string& to, const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) {
    const fs::path source = fs::path(from) / entry, target = fs::path(to) / entry;
    boost::system::error_code ec;
    // An entry merged into an existing directory of a remote storage has no
    // local parent in the receiving directory yet.
    fs::create_directories(target.parent_path(), ec);
    fs::rename(source, target, ec);
    if (ec == boost::system::errc::cross_device_link && fs::is_regular_file(fs::symlink_status(source))) {
      fs::copy_file(source, target, ec);
      if (!ec) fs::remove(source, ec);
    }
    if (ec) {
      throw OVRIN_EXCEPTION(TransportException, "unable to move " + entry + " into " + to + ": " + ec.message(), 0);
    }
  }
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

  std::vector<std::string> files, descriptors;
  std::unique_ptr<TempDirGuard> held;
  {
    // The archive goes into a fresh directory beside its destination first:
    // its entries are checked there and moved into place only when they are
    // new, so a failure never touches what the target already held.
    std::unique_ptr<StagingDir> staging;
    UnpackPlan plan;
    try {
      StagingDir::RemoveStale(destination);
      staging.reset(new StagingDir(destination));
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

    // The descriptors at the top go last, once everything else has reached
    // the storage: a run that dies or loses its server half way leaves no
    // descriptor, so nothing takes the remains for a complete dump. They wait
    // outside the receiving directory, which the storage takes in whole.
    std::vector<std::string> rest;
    for (const std::string& entry : plan.moves) {
      const bool descriptor = entry.find('/') == std::string::npos && EndsWith(entry, ".xml") &&
                              fs::is_regular_file(fs::symlink_status(fs::path(staging->Path()) / entry));
      (descriptor ? descriptors : rest).push_back(entry);
    }
    MoveEntries(staging->Path(), destination, rest);
    held.reset(new TempDirGuard(GetTempDirPath()));
    MoveEntries(staging->Path(), held->Path(), descriptors);
  }
  target.ReceiveDir(dir);
  if (!descriptors.empty()) {
    MoveEntries(held->Path(), destination, descriptors);
    target.ReceiveDir(dir);
  }
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
