#include "transport/local_transport.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include "log/debug_log.h"
#include "errors/system_error.h"
#include "transport/failure_wrap.h"
#include "transport/local_files.h"
#include "transport/local_streams.h"
#include "util/strings.h"

namespace fs = boost::filesystem;

namespace ovrin {

tRepositoryLocal::tRepositoryLocal(const std::string& url) : tRepositoryTransport(NormalizeRepoUrl(url)) {}

void tRepositoryLocal::Init(const std::string& login, const std::string&, bool, unsigned long) {
  LogMsg("Transport: Init credentials for user '" + login + "'");
}

irepostream* tRepositoryLocal::GetFile(const std::string& name) {
  LogMsg("Transport: Get file " + name);
  return WrapFailures("unable to read file " + name + ": ", [&]() -> irepostream* {
    std::unique_ptr<tLocalInStream> stream(new tLocalInStream(GetFullPath(name)));
    stream->open();
    return stream.release();
  });
}

orepostream* tRepositoryLocal::PutFile(const std::string& name) {
  LogMsg("Transport: Put file " + name);
  const std::string prefix = "unable to write file " + name + ": ";
  try {
    CreateParentDirs(name);
  } catch (...) {
    TransportException parents = OVRIN_EXCEPTION(
        TransportException, "Unable to create parent dirs for '" + name + "': " + LogCurrentFailure(), 0);
    LogMsg(parents);
    throw OVRIN_EXCEPTION(TransportException, prefix + parents.what(), 0);
  }
  return WrapFailures(prefix, [&]() -> orepostream* {
    std::unique_ptr<tLocalOutStream> stream(new tLocalOutStream(GetFullPath(name)));
    stream->open();
    return stream.release();
  });
}

void tRepositoryLocal::Delete(const std::string& name) {
  LogMsg("Transport: Delete file " + name);
  // remove() looks at the entry itself: a link goes, its target stays.
  WrapFailures("Unable to delete file " + name + ": ", [&] { fs::remove(GetFullPath(name)); });
}

void tRepositoryLocal::CreateDir(const std::string& name) {
  LogMsg("Transport: Create dir " + name);
  WrapFailures("Unable to create dir " + name + ": ", [&] { fs::create_directory(GetFullPath(name)); });
}

void tRepositoryLocal::DeleteDir(const std::string& name) {
  LogMsg("Transport: Delete dir " + name);
  WrapFailures("Unable to delete dir " + name + ": ", [&] {
    const fs::path full(GetFullPath(name));
    // symlink_status: a link (even a dangling one) is removed as an entry of
    // its own; remove_all never descends through links.
    fs::file_status st = fs::symlink_status(full);
    if (fs::exists(st) || fs::is_symlink(st)) fs::remove_all(full);
  });
}

namespace {

// Opens a listing of `full`. A missing directory (or a dangling link to one)
// raises status 1; every other failure is wrapped with status 0. Opening
// first and looking at the error afterwards spares a stat per listing.
fs::directory_iterator OpenListing(const std::string& dir, const fs::path& full) {
  boost::system::error_code ec;
  fs::directory_iterator it(full, ec);
  if (ec == boost::system::errc::no_such_file_or_directory)
    throw OVRIN_EXCEPTION(TransportException, "Dir is not exists " + dir, 1);
  if (ec) {
    WrapFailures("Unable to list dir " + dir + ": ",
                 [&] { throw fs::filesystem_error("boost::filesystem::directory_iterator::construct", full, ec); });
  }
  return it;
}

}  // namespace

void tRepositoryLocal::ListDir(const std::string& dir, std::vector<std::string>& names) {
  LogMsg("Transport: List dir " + dir);
  const fs::path full(GetFullPath(dir));
  fs::directory_iterator it = OpenListing(dir, full);
  std::vector<std::string> found;
  WrapFailures("Unable to list dir " + dir + ": ", [&] {
    for (fs::directory_iterator end; it != end; ++it) found.push_back(it->path().filename().string());
  });
  names.insert(names.end(), found.begin(), found.end());
}

void tRepositoryLocal::ListDirKinds(const std::string& dir, std::vector<DirEntry>& entries) {
  LogMsg("Transport: List dir " + dir);
  const std::string full = GetFullPath(dir);
  DIR* handle = ::opendir(full.c_str());
  if (!handle) {
    // The same failure again through the common path, for the same message
    // and status as ListDir; should that attempt succeed, the first failure
    // is reported as it was.
    const int error = errno;
    OpenListing(dir, fs::path(full));
    throw OVRIN_EXCEPTION(TransportException, "Unable to list dir " + dir + ": " + std::strerror(error), 0);
  }
  std::vector<DirEntry> found;
  for (;;) {
    errno = 0;
    const struct dirent* entry = ::readdir(handle);
    if (!entry) break;
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const EntryKind kind =
        entry->d_type == DT_DIR ? EntryKind::Dir : entry->d_type == DT_REG ? EntryKind::File : EntryKind::Unknown;
    found.push_back(DirEntry{name, kind});
  }
  const int error = errno;
  ::closedir(handle);
  if (error != 0) {
    throw OVRIN_EXCEPTION(TransportException, "Unable to list dir " + dir + ": " + std::strerror(error), 0);
  }
  entries.insert(entries.end(), found.begin(), found.end());
}

void tRepositoryLocal::ListDirEx(const std::string& dir, std::vector<FileInfo>& infos) {
  LogMsg("Transport: List extended dir " + dir);
  const fs::path full(GetFullPath(dir));
  fs::directory_iterator it = OpenListing(dir, full);
  std::vector<FileInfo> found;
  WrapFailures("Unable to list dir " + dir + ": ", [&] {
    for (fs::directory_iterator end; it != end; ++it) {
      // One stat gives the date, the kind and the size; an entry that cannot
      // be looked at (a dangling link, a vanished file) is left out.
      struct stat st;
      if (::stat(it->path().c_str(), &st) != 0) {
        LogError("Unable to get size of file: " + it->path().string() + ": " + std::strerror(errno));
        continue;
      }
      if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
        LogMsg("Transport: Skip " + it->path().string() + ": neither a file nor a directory");
        continue;
      }
      FileInfo info;
      info.SetDateTime(st.st_mtime);
      info.size = S_ISDIR(st.st_mode) ? 0 : static_cast<tavrepo_int64_t>(st.st_size);
      info.kind = S_ISDIR(st.st_mode) ? EntryKind::Dir : EntryKind::File;
      info.name = it->path().filename().string();
      info.path = JoinPath(dir, info.name);
      found.push_back(info);
    }
  });
  infos.insert(infos.end(), found.begin(), found.end());
}

bool tRepositoryLocal::IsExist(const std::string& name) {
  LogMsg("Transport: Check exist file " + name);
  return WrapFailures("Unable to check file " + name + ": ", [&] {
    return fs::is_regular_file(fs::status(GetFullPath(name)));
  });
}

bool tRepositoryLocal::IsDirExist(const std::string& name) {
  LogMsg("Transport: Check exist dir " + name);
  return WrapFailures("Unable to check dir " + name + ": ",
                      [&] { return fs::is_directory(fs::status(GetFullPath(name))); });
}

const std::string& tRepositoryLocal::GetReceivingDir() { return url; }

void tRepositoryLocal::ReceiveDir(const std::string&) {}

time_t tRepositoryLocal::GetCreationDate(const std::string& name) {
  return WrapFailures("Unable to get creation date of " + name + ": ",
                      [&] { return fs::last_write_time(GetFullPath(name)); });
}

std::string tRepositoryLocal::GetLocalFile(const std::string& name) {
  LogMsg("Transport: get local file '" + name + "'");
  if (!IsExist(name)) throw OVRIN_EXCEPTION(TransportException, "File '" + name + "' not found", 1);
  return GetFullPath(name);
}

std::string tRepositoryLocal::GetLocalDirFiles(const std::string& name, const std::vector<std::string>*) {
  if (!IsExist(name) && !IsDirExist(name)) {
    throw OVRIN_EXCEPTION(TransportException, "File or dir " + name + " not exists", 1);
  }
  return GetFullPath(name);
}

tavrepo_int64_t tRepositoryLocal::GetFileSize(const std::string& name) {
  LogMsg("Transport: get file size of '" + name + "'");
  try {
    return static_cast<tavrepo_int64_t>(fs::file_size(GetFullPath(name)));
  } catch (const std::exception& e) {
    LogError(std::string("Error: ") + e.what());
    return 0;
  }
}

bool tRepositoryLocal::GetLocalPath(const std::string& name, std::string& path) {
  path = GetFullPath(name);
  return true;
}

namespace {

// Copies the regular file `from` into `to`, which must not exist yet; false
// when it does. A failed copy removes what it wrote.
bool CopyIntoNewFile(const std::string& from, const std::string& to) {
  const int in = OpenRegularFile(from);
  if (in < 0) throwSystemError("unable to open " + from, errno);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    if (error == EEXIST) return false;
    throwSystemError("unable to create " + to, error);
  }
  bool writing = false;
  int error = CopyRest(in, out, writing);
  ::close(in);
  if (::close(out) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(to.c_str());
    throwSystemError("unable to copy " + from + " to " + to, error);
  }
  return true;
}

}  // namespace

bool tRepositoryLocal::PlaceFile(const std::string& localPath, const std::string& name) {
  LogMsg("Transport: Place file " + name);
  return WrapFailures("Unable to place file " + name + ": ", [&] {
    const std::string target = GetFullPath(name);
    const int rc = RenameNoReplace(localPath, target);
    if (rc == 0) return true;
    if (rc == EEXIST) return false;
    if (rc != EXDEV) throwSystemError("unable to rename " + localPath, rc);
    if (!CopyIntoNewFile(localPath, target)) return false;
    ::unlink(localPath.c_str());
    return true;
  });
}

void tRepositoryLocal::DeleteEmptyDir(const std::string& name) {
  LogMsg("Transport: Delete empty dir " + name);
  WrapFailures("Unable to delete dir " + name + ": ", [&] {
    const std::string full = GetFullPath(name);
    if (::rmdir(full.c_str()) != 0 && errno != ENOENT) throwSystemError("unable to remove " + full, errno);
  });
}

std::unique_ptr<tStorageLock> tRepositoryLocal::LockWriters() { return tStorageLock::OnDirectory(url); }

}  // namespace ovrin
