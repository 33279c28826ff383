// The import journal on a real local storage: what undoing it removes and
// what it must leave, and journals that cannot be trusted.
#include "repository/import_journal.h"

#include <memory>

#include <gtest/gtest.h>

#include "repository/import_staging.h"
#include "tests/support/test_support.h"
#include "transport/transport.h"

namespace {

using Words = std::vector<std::string>;
using dktest::ListTree;
using dktest::WriteFile;

class ImportJournal : public ::testing::Test {
 protected:
  ImportJournal() : storage(ovrin::tRepositoryTransport::Get(dir.path())) { storage->Init("", "", false, 0); }

  // The entries of the staging area's journals.
  Words Journals() const {
    Words found;
    for (const std::string& path : ListTree(dir / ovrin::STAGING_AREA)) {
      if (path.find(".journal") != std::string::npos) found.push_back(path);
    }
    return found;
  }

  // What an import of c1 placed: a sidecar with a verdict a listing recorded
  // meanwhile, its own content file, and a file it placed that another
  // writer has since replaced. Another writer's file lies beside them.
  void Place(ovrin::tImportJournal& journal) {
    for (const char* d : {"clients", "clients/c1", "clients/c1/.discovered", "clients/c1/.discovered/backup_info_1"}) {
      journal.AddDir(d);
    }
    WriteFile(dir / "clients/c1/.discovered/backup_info_1/GUID_g", "");
    WriteFile(dir / "clients/c1/backup_a_1.tgz", "mine");
    WriteFile(dir / "clients/c1/backup_b_1.tgz", "mine too");
    for (const char* f : {"clients/c1/.discovered/backup_info_1/GUID_g", "clients/c1/backup_a_1.tgz",
                          "clients/c1/backup_b_1.tgz"}) {
      journal.AddFile(f, ovrin::tImportJournal::LocalIdentity(dir / f));
    }
    journal.Write();
    WriteFile(dir / "clients/c1/.discovered/backup_info_1/status_OK", "");
    dktest::Shell("rm '" + (dir / "clients/c1/backup_b_1.tgz") + "'");
    WriteFile(dir / "clients/c1/backup_b_1.tgz", "someone else's");
    WriteFile(dir / "clients/c1/notes.txt", "someone else's");
  }

  dktest::TempDir dir;
  std::unique_ptr<ovrin::tRepositoryTransport> storage;
};

TEST_F(ImportJournal, UndoRemovesExactlyWhatWasPlaced) {
  const Words expected = {"clients/", "clients/c1/", "clients/c1/backup_b_1.tgz", "clients/c1/notes.txt"};
  {
    ovrin::tImportJournal journal(*storage, "run1");
    Place(journal);
    ASSERT_EQ(1u, Journals().size());
  }
  // Failed in the process: undone at once, the area gone with the journal.
  EXPECT_EQ(expected, ListTree(dir.path()));
  EXPECT_EQ("someone else's", dktest::ReadFile(dir / "clients/c1/backup_b_1.tgz"));

  // A dead run's journal, found by the next writer, is undone the same way.
  dktest::Shell("rm -rf '" + (dir / "clients") + "'");
  std::string name, text;
  {
    ovrin::tImportJournal journal(*storage, "run2");
    Place(journal);
    name = dir / ovrin::STAGING_AREA + "/" + Journals().front();
    text = dktest::ReadFile(name);
    journal.Commit();
  }
  WriteFile(name, text);  // as a killed run leaves it
  ovrin::tImportJournal::RecoverAll(*storage);
  EXPECT_EQ(expected, ListTree(dir.path()));
}

TEST_F(ImportJournal, JournalsThatCannotBeTrustedUndoNothing) {
  WriteFile(dir / "clients/c1/backup_a_1.tgz", "x");
  WriteFile(dir / "outside.tgz", "x");
  std::string name;
  std::string text;
  {
    ovrin::tImportJournal journal(*storage, "run1");
    journal.AddFile("clients/c1/backup_a_1.tgz", "");
    journal.Write();
    name = dir / ovrin::STAGING_AREA + "/" + Journals().front();
    text = dktest::ReadFile(name);
    journal.Commit();
  }
  // Stored only in part (killed while writing it): nothing had been placed.
  ASSERT_EQ("end\n", text.substr(text.size() - 4));
  WriteFile(name, text.substr(0, text.size() - 4) + "F clients/c1/backup_b");
  ovrin::tImportJournal::RecoverAll(*storage);
  EXPECT_EQ(Words({"clients/", "clients/c1/", "clients/c1/backup_a_1.tgz", "outside.tgz"}), ListTree(dir.path()));
  // A line leading out of the storage is passed over; the rest is undone.
  WriteFile(name, "dumpkeep import journal 1\nF ../outside.tgz\nF /outside.tgz\nF clients/c1/backup_a_1.tgz\nend\n");
  ovrin::tImportJournal::RecoverAll(*storage);
  EXPECT_EQ(Words({"clients/", "clients/c1/", "outside.tgz"}), ListTree(dir.path()));
}

}  // namespace
