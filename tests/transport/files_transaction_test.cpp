#include "transport/files_transaction.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "transport/local_transport.h"

namespace ovrin {
namespace {

using TransactionError = Exc<&tFilesTransaction::TransactionError>;

class FilesTransaction : public ::testing::Test {
 protected:
  dktest::TempDir dir;
  tRepositoryLocal transport{dir.path()};
  tFilesTransaction transaction{&transport};
};

// Commit and rollback need a started transaction and Begin a finished one;
// reports while idle are dropped, a commit forgets what it recorded, and a
// refused call leaves the open transaction usable.
TEST_F(FilesTransaction, MisuseIsRefusedAndOnlyOpenTransactionsRecord) {
  const std::string notStarted = "Transaction error: transaction not started";
  EXPECT_EQ(notStarted, dktest::ThrownText<TransactionError>([&] { transaction.Commit(); }));
  EXPECT_EQ(notStarted, dktest::ThrownText<TransactionError>([&] { transaction.Rollback(); }));
  for (const char* name : {"early", "kept", "a"}) dktest::WriteFile(dir / name, "x");
  transaction.AddCreatedFile("early");
  transaction.Begin();
  transaction.AddCreatedFile("kept");
  transaction.Commit();
  EXPECT_FALSE(transaction.IsStarted());
  transaction.Begin();
  transaction.AddCreatedFile("a");
  EXPECT_EQ("Transaction error: transaction already started",
            dktest::ThrownText<TransactionError>([&] { transaction.Begin(); }));
  transaction.Rollback();
  EXPECT_EQ((std::vector<std::string>{"early", "kept"}), dktest::ListTree(dir.path()));
  EXPECT_EQ(notStarted, dktest::ThrownText<TransactionError>([&] { transaction.Rollback(); }));
}

// Rollback deletes the recorded files (once each) and then the recorded
// directories children first, goes on after a failed deletion, and leaves a
// directory that is not empty together with the ones leading to it.
TEST_F(FilesTransaction, RollbackGoesOnAfterAFailedDeletion) {
  dktest::WriteFile(dir / "busy/inside", "x");  // Delete refuses a non-empty directory
  dktest::WriteFile(dir / "one.tar", "1");
  dktest::WriteFile(dir / "two.tar", "2");
  dktest::WriteFile(dir / "d/e/f", "3");  // put there by another writer
  dktest::WriteFile(dir / "g/h/i", "5");
  dktest::WriteFile(dir / "untracked", "4");
  transaction.Begin();
  for (const char* name : {"busy", "one.tar", "two.tar", "two.tar", "g/h/i"}) transaction.AddCreatedFile(name);
  for (const char* name : {"d", "d/e", "g", "g/h", "never made"}) transaction.AddCreatedDir(name);
  transaction.Rollback();
  EXPECT_FALSE(transaction.IsStarted());
  EXPECT_EQ((std::vector<std::string>{"busy/", "busy/inside", "d/", "d/e/", "d/e/f", "untracked"}),
            dktest::ListTree(dir.path()));
}

}  // namespace
}  // namespace ovrin
