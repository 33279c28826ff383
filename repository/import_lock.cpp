#include "repository/import_lock.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "log/debug_log.h"
#include "transport/local_transport.h"

namespace ovrin {

tImportLock::tImportLock(tRepositoryTransport& transport) {
  if (!dynamic_cast<tRepositoryLocal*>(&transport)) return;
  const std::string root = transport.GetUrl();
  const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    LogMsg("Import lock: unable to open " + root + ": " + std::strerror(errno));
    return;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    LogMsg("Import lock: unable to lock " + root + ": " + std::strerror(errno));
    ::close(fd);
    return;
  }
  fd_ = fd;
}

tImportLock::~tImportLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the only descriptor releases the lock
}

}  // namespace ovrin
