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
  } catch (const ExTraceable& e) {
    LogMsg(e);
  } catch (const RepoLoggableException<ExTraceable>& e) {
    LogMsg(e);
  } catch (const std::exception& e) {
    LogMsg(std::string(e.what()));
  } catch (...) {
    LogMsg(std::string("unknown error"));
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
  // Files first, then directories parent before child: with the local
  // transport a parent's removal takes its children, whose own removal then
  // finds nothing and succeeds.
  std::vector<std::string> files;
  std::vector<std::string> dirs;
  files.swap(createdFiles);
  dirs.swap(createdDirs);
  state = 0;
  for (const std::string& name : files) UndoStep([&] { transport->Delete(name); });
  for (const std::string& name : dirs) UndoStep([&] { transport->DeleteDir(name); });
}

void tFilesTransaction::RequireStarted() const {
  if (state != 1) throw OVRIN_ERROR(TransactionError) % "transaction not started";
}

}  // namespace ovrin
