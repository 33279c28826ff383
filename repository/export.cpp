// Export of dumps out of a repository: the dump export that prepares an
// archive for the destination, and the join of an exported file's split parts
// into one file at another storage.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "errors/loggable_exceptions.h"
#include "errors/system_error.h"
#include "infoxml/info_xml_reader.h"
#include "log/debug_log.h"
#include "log/progress.h"
#include "repository/naming.h"
#include "repository/packed_files.h"
#include "repository/repository.h"
#include "transport/local_files.h"
#include "transport/storage_lock.h"
#include "util/strings.h"
#include "util/temp_files.h"

namespace fs = boost::filesystem;

namespace ovrin {

namespace {


RepositoryException ExistsError(const std::string& destinationPath) {
  return OVRIN_EXCEPTION(RepositoryException, "file " + destinationPath + " exists", 3);
}

// The file being joined. It is written under a hidden temporary name beside
// its final place and only renamed into place once complete, so a failed join
// never leaves a partial file under the name the user asked for. Whatever has
// not been committed (the temporary file, a directory made for it) is removed
// on destruction.
class tJoinTarget {
 public:
  explicit tJoinTarget(const std::string& target) : target(target) {
    const std::string dir = PathBranch(target);
    // Only the last directory is made: its parent must already exist.
    if (!dir.empty() && !fs::is_directory(dir)) {
      fs::create_directory(dir);
      createdDir = dir;
    }
    RemoveAbandoned(dir.empty() ? "." : dir, PathLeaf(target));
    tempPath = TAV_getTempFileName(dir.empty() ? "." : dir, TempPrefix(PathLeaf(target)));
    // Not O_APPEND: the kernel copy refuses such files, and nobody else writes here.
    fd = ::open(tempPath.c_str(), O_WRONLY | O_CLOEXEC);
    // Locked while the join runs: an unlocked temporary file is a killed join's.
    if (fd < 0 || !FlockExclusive(fd, false)) throw OutputStreamException();
    // The temporary file is private; the joined file gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0) throw OutputStreamException();
  }

  ~tJoinTarget() {
    if (fd >= 0) ::close(fd);
    if (committed) return;
    if (!tempPath.empty() && ::unlink(tempPath.c_str()) != 0 && errno != ENOENT)
      LogError("Error: unable to remove " + tempPath);
    if (!createdDir.empty()) {
      boost::system::error_code ignored;
      fs::remove(createdDir, ignored);  // removes only an empty directory
    }
  }

  tJoinTarget(const tJoinTarget&) = delete;
  tJoinTarget& operator=(const tJoinTarget&) = delete;

  int Fd() const { return fd; }

  // Closes the file and gives it its final name; a file that appeared under
  // that name meanwhile is never replaced.
  void Commit(const std::string& destinationPath) {
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0) throw OutputStreamException();
    if (::renameat2(AT_FDCWD, tempPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
      if (errno != EINVAL) {
        if (errno == EEXIST) throw ExistsError(destinationPath);
        throwSystemError("unable to rename " + tempPath, errno);
      }
      // Some file systems cannot refuse to replace: check, then rename plainly.
      if (fs::exists(fs::symlink_status(target))) throw ExistsError(destinationPath);
      if (::rename(tempPath.c_str(), target.c_str()) != 0) throwSystemError("unable to rename " + tempPath, errno);
    }
    committed = true;
  }

 private:
  static std::string TempPrefix(const std::string& leaf) { return "." + leaf + ".join"; }

  // Removes the temporary files of killed joins to the same name in `dir`:
  // those that nobody holds locked. Failures are logged.
  static void RemoveAbandoned(const std::string& dir, const std::string& leaf) {
    const std::string prefix = TempPrefix(leaf);
    boost::system::error_code ec;
    std::vector<fs::path> candidates;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      // mkstemp adds six characters to the prefix.
      if (BeginsWith(name, prefix) && name.size() == prefix.size() + 6) candidates.push_back(it->path());
    }
    for (const fs::path& candidate : candidates) {
      const int held = ::open(candidate.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (held < 0) continue;
      struct stat st;
      if (::fstat(held, &st) == 0 && S_ISREG(st.st_mode) && FlockExclusive(held, false)) {
        LogMsg("Removing " + candidate.string() + " left by an interrupted join");
        if (::unlink(candidate.c_str()) != 0) LogError("Unable to remove " + candidate.string());
      }
      ::close(held);
    }
  }

  std::string target;
  std::string tempPath;
  std::string createdDir;
  int fd = -1;
  bool committed = false;
};

// Closes a descriptor when leaving scope.
class tFdGuard {
 public:
  explicit tFdGuard(int fd) : fd(fd) {}
  ~tFdGuard() {
    if (fd >= 0) ::close(fd);
  }
  tFdGuard(const tFdGuard&) = delete;
  tFdGuard& operator=(const tFdGuard&) = delete;
  int Get() const { return fd; }

 private:
  int fd;
};

// Appends a local file to the target.
void CopyLocalPart(const std::string& path, tJoinTarget& target) {
  // Never a blocking open: a FIFO in place of a part is refused at once.
  tFdGuard in(OpenRegularFile(path));
  if (in.Get() < 0) throw InputStreamException();
  bool writing = false;
  if (CopyRest(in.Get(), target.Fd(), writing) == 0) return;
  if (writing) throw OutputStreamException();
  throw InputStreamException();
}

// A part of a local storage is already a file of this host and is copied
// directly, which keeps the join as fast as a plain concatenation; the parts
// of other storages are streamed (asking them for a local file would first
// download a copy).
void CopyPart(tRepositoryTransport& transport, const std::string& part, tJoinTarget& target) {
  std::string path;
  if (transport.GetLocalPath(part, path)) {
    try {
      path = transport.GetLocalFile(part);
    } catch (const TransportException&) {
      throw InputStreamException();  // listed as a part, but no file (a directory, or gone)
    }
    CopyLocalPart(path, target);
  } else if (!transport.DownloadInto(part, target.Fd())) {
    // A remote part goes straight into the target: a local copy first would
    // write every byte twice.
    throw OutputStreamException();
  }
}

}  // namespace

void tRepository::ExportToRepo(const std::string& infoPath, tRepository& destination, const std::string& dir,
                               const std::string& fileName, const std::string& extension, CompressionLevel level,
                               long long splitSize, std::vector<std::string>* outFiles,
                               std::vector<long long>* outSizes) {
  LogStep(logPrefix + "Export from " + infoPath + " to " + destination.transport->GetUrl() + "/" +
          (dir.empty() ? "" : dir + "/") + fileName + (extension.empty() ? "" : "." + extension));
  RejectParentReference(infoPath);
  TempFileGuard workFile(GetTempFilePath());
  tInfoXmlReader reader(transport, infoPath);

  const std::string dumpDir = PathBranch(infoPath);
  const std::string infoName = PathLeaf(infoPath);
  const std::string label = GetInfoXmlsLabel(infoName);
  const std::string prefix = GetDumpPrefix(infoName);

  std::vector<std::string> files;
  FindInfoXmlAndDiscovered(*transport, dumpDir, prefix, label, "", true, files, false, true, true, true);

  // Local path -> name inside the archive. The archive carries a signed
  // descriptor; the reader owns (and removes) the signed copy.
  std::map<std::string, std::string> additionalFiles;
  additionalFiles[reader.Sign()] = infoName;

  std::string archiveName = fileName;
  if (archiveName.empty()) archiveName = prefix + "_" + label + (extension.empty() ? ".tgz" : "");

  destination.PackFromRepo(*this, workFile.Path(), &files, additionalFiles, dir, archiveName, extension, level,
                           splitSize, outFiles, outSizes);
}

void tRepository::PackFromRepo(tRepository& source, const std::string& workPath,
                               const std::vector<std::string>* files,
                               const std::map<std::string, std::string>& additionalFiles, const std::string& dir,
                               const std::string& fileName, const std::string& extension, CompressionLevel,
                               long long splitSize, std::vector<std::string>*, std::vector<long long>*) {
  LogVerboseMsg(logPrefix + "Pack" + (files ? " " + Concat(*files, ", ") : "") + " from " +
                source.transport->GetUrl() + "/" + workPath + " to directory " + dir + " using: filename " +
                fileName + (extension.empty() ? "" : ", extension " + extension) +
                ". Addditional files count: " + std::to_string(additionalFiles.size()) +
                ". Split size: " + std::to_string(splitSize));
  const std::string targetDir = JoinPath(transport->GetReceivingDir(), dir);
  LogMsg(logPrefix + "Pack target directory " + targetDir);

  // A work file made by the caller on this host is already local; only a path
  // naming an entry of the source storage has to be fetched.
  boost::system::error_code ignored;
  const bool hostWorkFile = BeginsWith(workPath, "/") && fs::is_regular_file(workPath, ignored);
  if (!hostWorkFile) source.transport->GetLocalDirFiles(workPath, files);

  throw OVRIN_ERROR(tRepository::ArchiverError) % "Multivolume packing not implemented";
}

void tRepository::PackedExport(const std::string& fileSpec, const std::string& destinationUrl,
                               const std::string& password, bool passive) {
  std::string storageUrl;
  std::string filePath;
  DecomposeUrl(destinationUrl, storageUrl, filePath);
  std::unique_ptr<tRepository> destination;
  try {
    destination.reset(GetRepository(storageUrl, password, passive, false));
  } catch (const std::exception& e) {
    LogError(std::string("Error: ") + e.what());
    throw OVRIN_EXCEPTION(TransportException, "unable to connect to repository " + storageUrl + " " + e.what(), 0);
  }
  PackedExportToRepo(fileSpec, *destination, filePath);
}

void tRepository::PackedExportToRepo(const std::string& fileSpec, tRepository& destination,
                                     const std::string& destinationPath) {
  LogStep(logPrefix + "Export file from " + fileSpec + " to " + destination.transport->GetUrl() + "/" +
          destinationPath);
  try {
    if (fileSpec.empty()) throw OVRIN_EXCEPTION(RepositoryException, "path to exporting file is empty", 0);
    if (destinationPath.empty()) throw OVRIN_EXCEPTION(RepositoryException, "destination path path is empty", 0);
    // Before anything is read: an existing file is never touched.
    if (destination.transport->IsExist(destinationPath)) throw ExistsError(destinationPath);

    std::vector<std::string> parts;
    GetFileParts(*transport, fileSpec, parts);
    LogVerboseMsg(logPrefix + "Joining " + std::to_string(parts.size()) + " part(s): " + Concat(parts, ", "));

    // One local file bound for an FTP storage is uploaded as it is: joining
    // it into the receiving directory first would write every byte twice.
    std::string sourcePath, destinationLocal;
    const bool remoteDestination = !destination.transport->GetLocalPath(destinationPath, destinationLocal);
    if (remoteDestination && parts.size() == 1 && transport->GetLocalPath(parts.front(), sourcePath) &&
        destinationPath.find('/') == std::string::npos) {
      std::string path;
      try {
        path = transport->GetLocalFile(parts.front());
      } catch (const TransportException&) {
        throw InputStreamException();
      }
      const int regular = OpenRegularFile(path);
      if (regular < 0) throw InputStreamException();
      ::close(regular);
      destination.transport->PutLocalFile(path, destinationPath);
      return;
    }

    tJoinTarget target(JoinPath(destination.transport->GetReceivingDir(), destinationPath));
    {
      // The parts may each be copied by one blocking call, so a watch of the
      // target's size tells the progress.
      int64_t total = 0;
      for (const std::string& part : parts) {
        int64_t size = -1;
        try {
          size = transport->GetFileSize(part);
        } catch (...) {
          // Only the progress lines miss the total; the copy reports a part it cannot read.
        }
        if (size < 0) {
          total = -1;
          break;
        }
        total += size;
      }
      const int fd = target.Fd();
      tProgressWatch watch("join of " + fileSpec, total, [fd]() -> int64_t {
        struct stat st;
        return ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
      });
      for (const std::string& part : parts) CopyPart(*transport, part, target);
    }
    target.Commit(destinationPath);
    destination.transport->ReceiveDir("");
  } catch (const TransportException&) {
    throw;
  } catch (const RepositoryException&) {
    throw;
  } catch (const std::exception&) {
    throw OVRIN_EXCEPTION(RepositoryException, "unable to export file: " + LogCurrentFailure("Error: "), 0);
  }
}

}  // namespace ovrin
