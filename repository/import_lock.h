// Imports into one local repository take turns: each holds an exclusive lock
// on the repository's root directory from its first look at the repository
// until its transaction is committed or rolled back. Without it, two imports
// of the same dump could both find the object directory missing, and the
// loser's rollback would remove the directory with the winner's dump in it.
#pragma once

#include <string>

namespace ovrin {

class tRepositoryTransport;

class tImportLock {
 public:
  // Waits for the lock when `transport` is a local directory; holds nothing
  // for other storages, or when the directory cannot be opened (the import
  // then fails on its own). Nothing is written to the repository.
  explicit tImportLock(tRepositoryTransport& transport);
  // Releases the lock. The kernel releases it as well when the process dies.
  ~tImportLock();
  tImportLock(const tImportLock&) = delete;
  tImportLock& operator=(const tImportLock&) = delete;

  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace ovrin
