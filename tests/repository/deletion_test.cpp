// Deletion of structured dumps and of exported dump files: the exact files
// each leaves, and that none reaches outside the storage.
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

const std::string L = "1001011200";

// A structured dump of prefix "backup" in `dir` ("" or ending with '/'):
// descriptor, sidecar and content files.
struct Dump {
  std::string dir;
  Words content;
  std::string label = L;
};

void Make(const LocalRepo& r, const Dump& d) {
  r.Touch(d.dir + "backup_info_" + d.label + ".xml", "<info/>");
  r.Touch(d.dir + ".discovered/backup_info_" + d.label + "/size_10", "");
  r.Touch(d.dir + ".discovered/backup_info_" + d.label + "/owner_o1", "");
  for (const std::string& file : d.content) r.Touch(d.dir + file);
}

// A standalone dump takes its files, archives and subdirectories' files of its
// prefix and label; a dump inside an enclosing dump (same prefix and label two
// levels up) leaves the archives and subdirectories to the enclosing one.
TEST(DeletionTest, StructuredDumps) {
  const std::string c1 = "clients/c1/", rc = "resellers/r1/clients/", rc1 = rc + "c1/", d1 = rc1 + "domains/d1/";
  const std::string side = ".discovered/backup_info_" + L + "/";
  const struct {
    std::vector<Dump> dumps;
    Words extra;
    std::string path;
    Words left;
    std::string refusal = "";
  } cases[] = {
      {{{c1, {"backup_user_" + L + ".tgz", "backup_db_" + L + ".zip", "backup_x_" + L + ".tgz2",
              "sub/backup_mail_" + L + ".tar", "sub/deeper/backup_y_" + L + ".dat"}},
        {c1, {"backup_user_1002011200.tgz"}, "1002011200"}},
       {c1 + "other_user_" + L + ".tgz", c1 + "backup_user_" + L + ".tar.gz", ".discovered/g_c1"},
       c1 + "backup_info_" + L + ".xml",
       {".discovered/", ".discovered/g_c1", "clients/", c1, c1 + ".discovered/",
        c1 + ".discovered/backup_info_1002011200/", c1 + ".discovered/backup_info_1002011200/owner_o1",
        c1 + ".discovered/backup_info_1002011200/size_10", c1 + "backup_info_1002011200.xml",
        c1 + "backup_user_1001011200.tar.gz", c1 + "backup_user_1002011200.tgz",
        c1 + "other_user_1001011200.tgz", c1 + "sub/", c1 + "sub/deeper/"}},
      // Inside an enclosing dump only the dump's own files go.
      {{{"", {"backup_conf_" + L + ".tgz"}},
        {c1, {"backup_user_" + L + ".tgz", "backup_user_" + L + ".dat", "sub/backup_mail_" + L + ".dat"}}},
       {}, c1 + "backup_info_" + L + ".xml",
       {".discovered/", side, side + "owner_o1", side + "size_10", "backup_conf_1001011200.tgz",
        "backup_info_1001011200.xml", "clients/", c1, c1 + ".discovered/", c1 + "backup_user_1001011200.tgz",
        c1 + "sub/", c1 + "sub/backup_mail_1001011200.dat"}},
      // A domain dump is part of its client's dump.
      {{{rc1, {"backup_user_" + L + ".tgz"}}, {d1, {"backup_site_" + L + ".tgz", "backup_site_" + L + ".dat"}}},
       {rc + "backup_info_" + L + ".xml"}, d1 + "backup_info_" + L + ".xml",
       {"resellers/", "resellers/r1/", rc, rc + "backup_info_1001011200.xml", rc1, rc1 + ".discovered/",
        rc1 + side, rc1 + side + "owner_o1", rc1 + side + "size_10", rc1 + "backup_info_1001011200.xml",
        rc1 + "backup_user_1001011200.tgz", rc1 + "domains/", d1, d1 + ".discovered/",
        d1 + "backup_site_1001011200.tgz"}},
      // A descriptor in a group directory belongs to no dump: the client's dump
      // is standalone and takes the domain's dump along.
      {{{rc1, {"backup_user_" + L + ".tgz"}}, {d1, {"backup_site_" + L + ".tgz", "backup_site_" + L + ".dat"}}},
       {rc + "backup_info_" + L + ".xml"}, rc1 + "backup_info_" + L + ".xml",
       {"resellers/", "resellers/r1/", rc, rc + "backup_info_1001011200.xml", rc1, rc1 + ".discovered/",
        rc1 + "domains/", d1, d1 + ".discovered/"}},
      {{}, {"keep"}, "keep", {"keep"}, "Repository error: file name 'keep' not ends with '.xml' [2]"},
      {{}, {"keep"}, "../x/backup_info_" + L + ".xml", {"keep"},
       "Repository error: file name '../x/backup_info_1001011200.xml' has wrong format [2]"},
  };
  for (const auto& c : cases) {
    LocalRepo r;
    for (const Dump& d : c.dumps) Make(r, d);
    for (const std::string& f : c.extra) r.Touch(f);
    Make(r, {"../x/", {"backup_user_" + L + ".tgz"}});
    const Words outside = SnapshotTree(r.Path("../x"));
    if (c.refusal.empty()) r.repo->DeleteBackup(c.path);
    else EXPECT_EQ(Refusal([&] { r.repo->DeleteBackup(c.path); }), c.refusal);
    EXPECT_EQ(r.Tree(), c.left) << c.path;
    EXPECT_EQ(SnapshotTree(r.Path("../x")), outside) << c.path;
  }
}

// Deleting an exported dump refuses an empty path and one leaving the
// storage, touching nothing on either side (the parts go through the binary).
TEST(DeletionTest, ExportedDumpRefusals) {
  LocalRepo r;
  for (const char* path : {"b_1001011200.tgz", "b_1001011200.tgz1", "../x/b_1001011200.tgz", "../x/b_1001011200.tgz1"})
    r.Touch(path);
  const Words before = SnapshotTree(r.scratch.path());
  EXPECT_EQ(Refusal([&] { r.repo->DeletePackedBackup(""); }), "Repository error: path to deleting file is empty [0]");
  EXPECT_EQ(Refusal([&] { r.repo->DeletePackedBackup("../x/b_" + L + ".tgz"); }),
            "Repository error: file name '../x/b_1001011200.tgz' has wrong format [2]");
  EXPECT_EQ(SnapshotTree(r.scratch.path()), before);
}

}  // namespace
}  // namespace dktest
