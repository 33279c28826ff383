#include "repository/write_turn.h"

#include "log/debug_log.h"
#include "repository/import_journal.h"
#include "repository/repository.h"
#include "transport/failure_wrap.h"

namespace ovrin {

tWriteTurn::tWriteTurn(tRepository& repository) {
  try {
    lock_ = repository.RootTransport().LockWriters();
  } catch (...) {
    LogMsg(repository.LogPrefix() + "Working without the writers' lock: " + LogCurrentFailure());
    return;
  }
  tImportJournal::RecoverAll(repository.RootTransport());
}

}  // namespace ovrin
