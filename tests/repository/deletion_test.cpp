#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "repository/repository.h"
#include "tests/repository/repo_fixture.h"

using namespace ovrin;
using dktest::LocalRepo;
using dktest::RecordingLog;

namespace {

const std::string L = "1001011200";

// A structured dump of prefix "backup" in `dir`: descriptor, sidecar and the
// given content files (relative to `dir`).
void MakeDump(const LocalRepo& r, const std::string& dir, const std::vector<std::string>& content,
              const std::string& label = L) {
  const std::string base = dir.empty() ? "" : dir + "/";
  r.Touch(base + "backup_info_" + label + ".xml", "<info/>");
  r.Touch(base + ".discovered/backup_info_" + label + "/size_10", "");
  r.Touch(base + ".discovered/backup_info_" + label + "/owner_o1", "");
  for (const std::string& file : content) r.Touch(base + file);
}

}  // namespace

TEST(DeletionTest, StandaloneClientDumpTakesItsSubdirectoriesAndArchives) {
  LocalRepo r;
  MakeDump(r, "clients/c1", {"backup_user_" + L + ".tgz", "backup_db_" + L + ".zip", "backup_x_" + L + ".tgz2",
                             "sub/backup_mail_" + L + ".tar", "sub/deeper/backup_y_" + L + ".dat"});
  MakeDump(r, "clients/c1/domains/d1", {"backup_site_" + L + ".tgz"});
  // Other dumps and foreign files beside it stay.
  MakeDump(r, "clients/c1", {"backup_user_1002011200.tgz"}, "1002011200");
  r.Touch("clients/c1/other_user_" + L + ".tgz");
  r.Touch("clients/c1/backup_user_" + L + ".tar.gz");
  r.Touch(".discovered/g_c1", "");

  RecordingLog log;
  r.repo->DeleteBackup("clients/c1/backup_info_" + L + ".xml");
  EXPECT_FALSE(log.HasPart("is part of another backup"));
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{
                          ".discovered/", ".discovered/g_c1", "clients/", "clients/c1/", "clients/c1/.discovered/",
                          "clients/c1/.discovered/backup_info_1002011200/",
                          "clients/c1/.discovered/backup_info_1002011200/owner_o1",
                          "clients/c1/.discovered/backup_info_1002011200/size_10",
                          "clients/c1/backup_info_1002011200.xml", "clients/c1/backup_user_1001011200.tar.gz",
                          "clients/c1/backup_user_1002011200.tgz", "clients/c1/domains/", "clients/c1/domains/d1/",
                          "clients/c1/domains/d1/.discovered/", "clients/c1/other_user_1001011200.tgz",
                          "clients/c1/sub/", "clients/c1/sub/deeper/"}));
}

TEST(DeletionTest, DumpInsideAnEnclosingServerDumpKeepsArchivesAndSubdirectories) {
  LocalRepo r;
  MakeDump(r, "", {"backup_conf_" + L + ".tgz"});
  MakeDump(r, "clients/c1", {"backup_user_" + L + ".tgz", "backup_user_" + L + ".dat",
                             "sub/backup_mail_" + L + ".dat"});

  RecordingLog log;
  r.repo->DeleteBackup("clients/c1/backup_info_" + L + ".xml");
  EXPECT_TRUE(log.Has("backup 'clients/c1/backup_info_" + L + ".xml' is part of another backup"));
  EXPECT_TRUE(log.Has(r.repo->LogPrefix() + "Found 3 files for deleting"));
  EXPECT_FALSE(r.Has("clients/c1/backup_info_" + L + ".xml"));
  EXPECT_FALSE(r.Has("clients/c1/.discovered/backup_info_" + L));
  EXPECT_FALSE(r.Has("clients/c1/backup_user_" + L + ".dat"));
  EXPECT_TRUE(r.Has("clients/c1/backup_user_" + L + ".tgz"));
  EXPECT_TRUE(r.Has("clients/c1/sub/backup_mail_" + L + ".dat"));
  EXPECT_TRUE(r.Has("backup_info_" + L + ".xml"));
  EXPECT_TRUE(r.Has("backup_conf_" + L + ".tgz"));
}

TEST(DeletionTest, NestedDomainDumpIsPartOfItsClientDumpButNotOfAGrandparent) {
  LocalRepo r;
  MakeDump(r, "resellers/r1/clients/c1", {"backup_user_" + L + ".tgz"});
  MakeDump(r, "resellers/r1/clients/c1/domains/d1", {"backup_site_" + L + ".tgz", "backup_site_" + L + ".dat"});
  // A descriptor in a group directory belongs to no dump and does not enclose c1.
  r.Touch("resellers/r1/clients/backup_info_" + L + ".xml");

  r.repo->DeleteBackup("resellers/r1/clients/c1/domains/d1/backup_info_" + L + ".xml");
  EXPECT_TRUE(r.Has("resellers/r1/clients/c1/domains/d1/backup_site_" + L + ".tgz"));
  EXPECT_FALSE(r.Has("resellers/r1/clients/c1/domains/d1/backup_site_" + L + ".dat"));
  EXPECT_FALSE(r.Has("resellers/r1/clients/c1/domains/d1/backup_info_" + L + ".xml"));
  EXPECT_FALSE(r.Has("resellers/r1/clients/c1/domains/d1/.discovered/backup_info_" + L));

  // No object directory above the client holds such a dump: it is standalone
  // and takes the rest of the domain's files along.
  MakeDump(r, "resellers/r1/clients/c1/domains/d1", {"backup_site_" + L + ".dat"});
  r.repo->DeleteBackup("resellers/r1/clients/c1/backup_info_" + L + ".xml");
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{
                          "resellers/", "resellers/r1/", "resellers/r1/clients/",
                          "resellers/r1/clients/backup_info_1001011200.xml", "resellers/r1/clients/c1/",
                          "resellers/r1/clients/c1/.discovered/", "resellers/r1/clients/c1/domains/",
                          "resellers/r1/clients/c1/domains/d1/", "resellers/r1/clients/c1/domains/d1/.discovered/"}));
}

TEST(DeletionTest, ServerDumpAtTheRootIsNeverPartOfAnother) {
  LocalRepo r;
  MakeDump(r, "", {"backup_conf_" + L + ".tgz"});
  MakeDump(r, "clients/c1", {"backup_user_" + L + ".tgz"});
  r.Touch("backup_conf_1002011200.tgz");
  r.repo->DeleteBackup("backup_info_" + L + ".xml");
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{".discovered/", "backup_conf_1002011200.tgz", "clients/",
                                                "clients/c1/", "clients/c1/.discovered/"}));
}

TEST(DeletionTest, MalformedOrEscapingDescriptorPathsDeleteNothing) {
  dktest::TempDir outer;
  dktest::WriteFile(outer / "repo/keep", "");
  dktest::WriteFile(outer / "x/backup_info_" + L + ".xml", "");
  dktest::WriteFile(outer / "x/backup_user_" + L + ".tgz", "");
  tRepository repo(outer / "repo", "", "", "", false);

  try {
    repo.DeleteBackup("../x/backup_info_" + L + ".xml");
    ADD_FAILURE() << "a path leaving the repository was accepted";
  } catch (const RepositoryException& e) {
    EXPECT_EQ(e.status, 2);
  }
  EXPECT_TRUE(dktest::Exists(outer / "x/backup_user_" + L + ".tgz"));
  EXPECT_TRUE(dktest::Exists(outer / "x/backup_info_" + L + ".xml"));

  try {
    repo.DeleteBackup("keep");
    ADD_FAILURE() << "a name without '.xml' was accepted";
  } catch (const RepositoryException& e) {
    EXPECT_STREQ(e.what(), "Repository error: file name 'keep' not ends with '.xml'");
    EXPECT_EQ(e.status, 2);
  }
  EXPECT_TRUE(dktest::Exists(outer / "repo/keep"));
}

TEST(DeletionTest, ExportedDumpGoesWithAllItsParts) {
  LocalRepo r;
  const std::string base = "exp/b_" + L + ".tgz";
  for (const char* suffix : {"2", "", "1"}) r.Touch(base + suffix);
  r.Touch(base + ".1");
  r.Touch(base + "_x");
  r.Touch("exp/b_1002011200.tgz");

  RecordingLog log;
  r.repo->DeletePackedBackup(base);
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{"exp/", "exp/b_1001011200.tgz.1", "exp/b_1001011200.tgz_x",
                                                "exp/b_1002011200.tgz"}));
  const std::string prefix = r.repo->LogPrefix();
  auto at = [&](const std::string& line) {
    return std::find(log.lines.begin(), log.lines.end(), line) - log.lines.begin();
  };
  ASSERT_LT(at(prefix + "Deleted"), static_cast<long>(log.lines.size()));
  EXPECT_LT(at(prefix + "File '" + base + "' deleted"), at(prefix + "File '" + base + "1' deleted"));
  EXPECT_LT(at(prefix + "File '" + base + "1' deleted"), at(prefix + "File '" + base + "2' deleted"));
  EXPECT_LT(at(prefix + "File '" + base + "2' deleted"), at(prefix + "Deleted"));
}

TEST(DeletionTest, ExportedDumpThatIsMissingOrUnnamed) {
  LocalRepo r;
  r.Touch("exp/b_" + L + ".tgz1");
  try {
    r.repo->DeletePackedBackup("exp/b_" + L + ".tgz");
    ADD_FAILURE() << "missing base file accepted";
  } catch (const RepositoryException& e) {
    EXPECT_STREQ(e.what(), ("Repository error: file exp/b_" + L + ".tgz not exists").c_str());
    EXPECT_EQ(e.status, 1);
  }
  EXPECT_TRUE(r.Has("exp/b_" + L + ".tgz1"));

  try {
    r.repo->DeletePackedBackup("");
    ADD_FAILURE() << "empty path accepted";
  } catch (const RepositoryException& e) {
    EXPECT_STREQ(e.what(), "Repository error: path to deleting file is empty");
    EXPECT_EQ(e.status, 0);
  }
}
