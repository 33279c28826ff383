// Exclusive advisory locks (flock) that order the processes of this host.
// The kernel drops a lock with the last descriptor of its holder, so a
// process that dies never leaves a lock behind: a lock that can be taken
// tells that its former holder is gone.
#pragma once

#include <memory>
#include <string>

namespace ovrin {

// Takes an exclusive flock on `fd`, retrying when a signal interrupts the
// wait. With `wait` false it returns at once; false when the lock is held
// elsewhere or cannot be taken.
bool FlockExclusive(int fd, bool wait);

// A held exclusive lock; releasing it closes the descriptor.
class tStorageLock {
 public:
  // Takes over `fd`, on which the lock is already held.
  explicit tStorageLock(int fd) : fd_(fd) {}
  ~tStorageLock();
  tStorageLock(const tStorageLock&) = delete;
  tStorageLock& operator=(const tStorageLock&) = delete;

  // Waits for the lock on the directory `path` (never through a link).
  // Raises TransportException (status 0) naming the path when the directory
  // cannot be opened or locked.
  static std::unique_ptr<tStorageLock> OnDirectory(const std::string& path);
  // Waits for the lock on the file `path`, created (mode 0600) when missing
  // and removed again when the lock is released. Raises as OnDirectory.
  static std::unique_ptr<tStorageLock> OnFile(const std::string& path);

 private:
  int fd_;
  std::string path_;  // the lock file to remove on release; empty for a directory
};

}  // namespace ovrin
