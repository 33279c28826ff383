#include "transport/files_transaction.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "transport/local_transport.h"

namespace ovrin {
namespace {

// Returns the message of the TransactionError that `body` raised.
template <class Body>
std::string TransactionErrorText(Body&& body) {
  try {
    body();
  } catch (const Exc<&tFilesTransaction::TransactionError>& e) {
    return e.what();
  }
  return "(nothing raised)";
}

class FilesTransaction : public ::testing::Test {
 protected:
  dktest::TempDir dir;
  tRepositoryLocal transport{dir.path()};
  tFilesTransaction transaction{&transport};
};

TEST_F(FilesTransaction, MisuseIsRefusedAndKeepsTheOpenTransaction) {
  const std::string notStarted = "Transaction error: transaction not started";
  EXPECT_EQ(notStarted, TransactionErrorText([&] { transaction.Commit(); }));
  EXPECT_EQ(notStarted, TransactionErrorText([&] { transaction.Rollback(); }));

  dktest::WriteFile(dir / "a", "x");
  transaction.Begin();
  transaction.AddCreatedFile("a");
  EXPECT_EQ("Transaction error: transaction already started", TransactionErrorText([&] { transaction.Begin(); }));
  transaction.Rollback();
  EXPECT_FALSE(dktest::Exists(dir / "a"));
  EXPECT_EQ(notStarted, TransactionErrorText([&] { transaction.Rollback(); }));
}

TEST_F(FilesTransaction, CommitForgetsAndReportsWhileIdleAreDropped) {
  dktest::WriteFile(dir / "early", "x");
  dktest::WriteFile(dir / "kept", "x");
  transaction.AddCreatedFile("early");
  transaction.Begin();
  transaction.AddCreatedFile("kept");
  transaction.Commit();
  EXPECT_FALSE(transaction.IsStarted());
  transaction.Begin();
  transaction.Rollback();
  EXPECT_EQ((std::vector<std::string>{"early", "kept"}), dktest::ListTree(dir.path()));
}

TEST_F(FilesTransaction, RollbackGoesOnAfterAFailedDeletion) {
  dktest::WriteFile(dir / "busy/inside", "x");  // Delete refuses a non-empty directory
  dktest::WriteFile(dir / "one.tar", "1");
  dktest::WriteFile(dir / "two.tar", "2");
  dktest::WriteFile(dir / "d/e/f", "3");  // put there by another writer
  dktest::WriteFile(dir / "g/h/i", "5");
  dktest::WriteFile(dir / "untracked", "4");
  transaction.Begin();
  for (const char* name : {"busy", "one.tar", "two.tar", "two.tar", "g/h/i"}) transaction.AddCreatedFile(name);
  // Parents are recorded before their children and must still go last.
  for (const char* name : {"d", "d/e", "g", "g/h", "never made"}) transaction.AddCreatedDir(name);
  transaction.Rollback();

  // Created directories go only when empty: the other writer's file stays,
  // and so do the directories that lead to it.
  EXPECT_FALSE(transaction.IsStarted());
  EXPECT_EQ((std::vector<std::string>{"busy/", "busy/inside", "d/", "d/e/", "d/e/f", "untracked"}),
            dktest::ListTree(dir.path()));
}

}  // namespace
}  // namespace ovrin
