// Records the files and directories a multi-file change creates, so that a
// failed change can be undone through the transport.
#pragma once

#include <string>
#include <vector>

#include "transport/transport.h"

namespace ovrin {

class tFilesTransaction {
 public:
  static const char* TransactionError(bool codeName);  // "Transaction error: %1%"

  // `transport` is not owned and must outlive the transaction.
  explicit tFilesTransaction(tRepositoryTransport* transport);
  // Neither commits nor rolls back.
  ~tFilesTransaction() = default;
  tFilesTransaction(const tFilesTransaction&) = delete;
  tFilesTransaction& operator=(const tFilesTransaction&) = delete;

  bool IsStarted() const { return state == 1; }
  // TransactionError "transaction already started" when open; nothing changes then.
  void Begin();
  // Ignored while no transaction is open; duplicates are kept.
  void AddCreatedFile(const std::string& name);
  void AddCreatedDir(const std::string& name);
  // Forgets what was recorded, touching nothing; "transaction not started" when idle.
  void Commit();
  // Deletes the recorded files in recording order, then removes the recorded
  // directories that are empty, last recorded first; never recursively.
  // A failed deletion is logged and skipped; always ends idle with empty lists.
  // "transaction not started" when idle.
  void Rollback();

 private:
  void RequireStarted() const;

  tRepositoryTransport* transport;
  std::vector<std::string> createdFiles;
  std::vector<std::string> createdDirs;
  int state;  // 0 idle, 1 open
};

}  // namespace ovrin
