#include "transport/files_transaction.h"

#include "tests/support/test_support.h"
#include "transport/local_transport.h"

using namespace ovrin;

// Misuse is refused leaving the open transaction usable; only an open transaction records; rollback deletes
// files, then directories children first, going on past a failure ("busy" is a non-empty directory) and
// leaving a directory another writer filled.
TEST(FilesTransaction, MisuseIsRefusedAndRollbackGoesOnAfterAFailedDeletion) {
  dktest::TempDir dir;
  tRepositoryLocal transport(dir.path());
  tFilesTransaction transaction(&transport);
  auto refusal = [&](void (tFilesTransaction::*call)()) {
    return dktest::ThrownText<Exc<&tFilesTransaction::TransactionError>>([&] { (transaction.*call)(); });
  };
  const std::string notStarted = "Transaction error: transaction not started";
  EXPECT_EQ(notStarted, refusal(&tFilesTransaction::Commit));
  EXPECT_EQ(notStarted, refusal(&tFilesTransaction::Rollback));
  for (const char* name : {"early", "kept", "a", "busy/inside", "one.tar", "two.tar", "d/e/f", "g/h/i", "untracked"}) {
    dktest::WriteFile(dir / name, "x");
  }
  transaction.AddCreatedFile("early");
  transaction.Begin();
  transaction.AddCreatedFile("kept");
  transaction.Commit();
  transaction.Begin();
  transaction.AddCreatedFile("a");
  EXPECT_EQ("Transaction error: transaction already started", refusal(&tFilesTransaction::Begin));
  for (const char* name : {"busy", "one.tar", "two.tar", "two.tar", "g/h/i"}) transaction.AddCreatedFile(name);
  for (const char* name : {"d", "d/e", "g", "g/h", "never made"}) transaction.AddCreatedDir(name);
  transaction.Rollback();
  EXPECT_EQ(notStarted, refusal(&tFilesTransaction::Rollback));
  EXPECT_EQ((std::vector<std::string>{"busy/", "busy/inside", "d/", "d/e/", "d/e/f", "early", "kept", "untracked"}),
            dktest::ListTree(dir.path()));
}
