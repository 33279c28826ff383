#include "transport/storage_lock.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"

namespace ovrin {

namespace {

std::unique_ptr<tStorageLock> LockOpened(int fd, const std::string& path) {
  if (fd < 0) {
    throw OVRIN_EXCEPTION(TransportException, "Unable to open " + path + " for locking: " + std::strerror(errno), 0);
  }
  if (!FlockExclusive(fd, true)) {
    const int error = errno;
    ::close(fd);
    throw OVRIN_EXCEPTION(TransportException, "Unable to lock " + path + ": " + std::strerror(error), 0);
  }
  LogMsg("Transport: Locked " + path + " for writing");
  return std::unique_ptr<tStorageLock>(new tStorageLock(fd));
}

}  // namespace

bool FlockExclusive(int fd, bool wait) {
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

tStorageLock::~tStorageLock() {
  if (!path_.empty()) ::unlink(path_.c_str());  // still held: nobody else holds this file
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<tStorageLock> tStorageLock::OnDirectory(const std::string& path) {
  return LockOpened(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), path);
}

std::unique_ptr<tStorageLock> tStorageLock::OnFile(const std::string& path) {
  // The holder removes the file when it lets go, so that no lock file
  // outlives its use; a waiter that then wakes holding a lock on a removed
  // file starts over with the file of that name.
  for (;;) {
    std::unique_ptr<tStorageLock> lock =
        LockOpened(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600), path);
    struct stat held, named;
    if (::fstat(lock->fd_, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      lock->path_ = path;
      return lock;
    }
  }
}

}  // namespace ovrin
