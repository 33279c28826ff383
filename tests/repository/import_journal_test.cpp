// The import journal on a real local storage: what undoing it removes and
// what it must leave, and journals that cannot be trusted.
#include "repository/import_journal.h"

#include <memory>

#include <gtest/gtest.h>

#include "repository/import_staging.h"
#include "tests/support/test_support.h"
#include "transport/transport.h"

namespace dktest {
namespace {

using Words = std::vector<std::string>;

class ImportJournal : public ::testing::Test {
 protected:
  ImportJournal() : storage(ovrin::tRepositoryTransport::Get(dir.path())) { storage->Init("", "", false, 0); }
  // The path of the one journal in the staging area.
  std::string Journal() const {
    Words found;
    for (const std::string& path : ListTree(dir / ovrin::STAGING_AREA))
      if (path.find(".journal") != std::string::npos) found.push_back(dir / ovrin::STAGING_AREA + "/" + path);
    EXPECT_EQ(1u, found.size());
    return found.empty() ? "" : found[0];
  }

  TempDir dir;
  std::unique_ptr<ovrin::tRepositoryTransport> storage;
};

// An import places a sidecar and two files; a listing adds a verdict, another writer replaces one file and
// adds one. Undone in the process or by the next writer from a killed run's journal: what the import placed
// goes, the verdict with it; the other writer's files stay, and so does the directory holding them.
TEST_F(ImportJournal, UndoRemovesExactlyWhatWasPlaced) {
  const std::string c1 = dir / "clients/c1/", side = "clients/c1/.discovered/backup_info_1";
  for (const bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "killed" : "failed");
    std::string name, text;
    {
      ovrin::tImportJournal journal(*storage, "run");
      for (const std::string& d : Words{"clients", "clients/c1", "clients/c1/.discovered", side}) journal.AddDir(d);
      for (const std::string& f : Words{side + "/GUID_g", "clients/c1/backup_a_1.tgz", "clients/c1/backup_b_1.tgz"}) {
        WriteFile(dir / f, f);
        journal.AddFile(f, ovrin::tImportJournal::LocalIdentity(dir / f));
      }
      journal.Write();
      WriteFile(dir / (side + "/status_OK"), "");
      Shell("rm '" + c1 + "backup_b_1.tgz'");
      WriteFile(c1 + "backup_b_1.tgz", "someone else's");
      WriteFile(c1 + "notes.txt", "someone else's");
      text = ReadFile(name = Journal());
      if (killed) journal.Commit();
    }
    if (killed) {
      WriteFile(name, text);  // as a killed run leaves it
      ovrin::tImportJournal::RecoverAll(*storage);
    }
    EXPECT_EQ((Words{"clients/", "clients/c1/", "clients/c1/backup_b_1.tgz", "clients/c1/notes.txt"}),
              ListTree(dir.path()));
    EXPECT_EQ("someone else's", ReadFile(c1 + "backup_b_1.tgz"));
    Shell("rm -rf '" + (dir / "clients") + "'");
  }
}

// A journal stored only in part (killed while writing it) undoes nothing; a
// line leading out of the storage is passed over and the rest is undone.
TEST_F(ImportJournal, JournalsThatCannotBeTrustedUndoNothing) {
  WriteFile(dir / "clients/c1/backup_a_1.tgz", "x");
  WriteFile(dir / "outside.tgz", "x");
  std::string name, text;
  {
    ovrin::tImportJournal journal(*storage, "run1");
    journal.AddFile("clients/c1/backup_a_1.tgz", "");
    journal.Write();
    text = ReadFile(name = Journal());
    journal.Commit();
  }
  ASSERT_EQ("end\n", text.substr(text.size() - 4));
  WriteFile(name, text.substr(0, text.size() - 4) + "F clients/c1/backup_b");
  ovrin::tImportJournal::RecoverAll(*storage);
  EXPECT_EQ(Words({"clients/", "clients/c1/", "clients/c1/backup_a_1.tgz", "outside.tgz"}), ListTree(dir.path()));
  WriteFile(name, "dumpkeep import journal 1\nF ../outside.tgz\nF /outside.tgz\nF clients/c1/backup_a_1.tgz\nend\n");
  ovrin::tImportJournal::RecoverAll(*storage);
  EXPECT_EQ(Words({"clients/", "clients/c1/", "outside.tgz"}), ListTree(dir.path()));
}

}  // namespace
}  // namespace dktest
