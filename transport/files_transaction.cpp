#include "transport/files_transaction.h"

#include "log/debug_log.h"

namespace ovrin {

namespace {

// Runs one undo step; whatever it raises is logged and swallowed so that the
// remaining steps still run.
template <class Step>
void UndoStep(Step&& step) {
  try {
    step();
  } catch (...) {
    LogCurrentFailure();
  }
}

}  // namespace

const char* tFilesTransaction::TransactionError(bool codeName) {
  return codeName ? "tFilesTransaction::TransactionError" : "Transaction error: %1%";
}

tFilesTransaction::tFilesTransaction(tRepositoryTransport* transport) : transport(transport), state(0) {}

void tFilesTransaction::Begin() {
  if (state != 0) throw OVRIN_ERROR(TransactionError) % "transaction already started";
  state = 1;
}

void tFilesTransaction::AddCreatedFile(const std::string& name) {
  if (IsStarted()) createdFiles.push_back(name);
}

void tFilesTransaction::AddCreatedDir(const std::string& name) {
  if (IsStarted()) createdDirs.push_back(name);
}

void tFilesTransaction::Commit() {
  RequireStarted();
  createdFiles.clear();
  createdDirs.clear();
  state = 0;
}

void tFilesTransaction::Rollback() {
  RequireStarted();
  // Files first, then directories children first, each removed only when
  // it is empty: whatever another writer put into a directory this change
  // created stays, and so does the directory.
  std::vector<std::string> files;
  std::vector<std::string> dirs;
  files.swap(createdFiles);
  dirs.swap(createdDirs);
  state = 0;
  for (const std::string& name : files) UndoStep([&] { transport->Delete(name); });
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) UndoStep([&] { transport->DeleteEmptyDir(*it); });
}

void tFilesTransaction::RequireStarted() const {
  if (state != 1) throw OVRIN_ERROR(TransactionError) % "transaction not started";
}

}  // namespace ovrin
