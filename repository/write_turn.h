// Every command that changes a repository (import, deletion, rotation) takes
// its turn: it waits for the storage's writers' lock and holds it until the
// command ends, so no writer ever acts on another's half-done work. With the
// lock held it first undoes whatever imports of this host were killed half
// way, so each writer starts from a repository without their remains.
#pragma once

#include <memory>

#include "transport/storage_lock.h"

namespace ovrin {

class tRepository;

class tWriteTurn {
 public:
  // Waits for the lock. A storage that cannot be locked (its root cannot be
  // opened, say) is logged and worked on without the lock: the command then
  // fails on its own. Recovery failures are logged and never raised.
  explicit tWriteTurn(tRepository& repository);
  ~tWriteTurn() = default;
  tWriteTurn(const tWriteTurn&) = delete;
  tWriteTurn& operator=(const tWriteTurn&) = delete;

  bool held() const { return lock_ != nullptr; }

 private:
  std::unique_ptr<tStorageLock> lock_;
};

}  // namespace ovrin
