// Deletion of structured dumps and of exported dump files: the exact files each leaves.
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

const std::string L = "1001011200";

// The descriptor and sidecar entries of the dump of label L in `dir`, `files` of `dir`, and `more`.
Words Own(const std::string& dir, Words files, Words more = {}) {
  const std::string side = dir + ".discovered/backup_info_" + L + "/";
  for (std::string& f : files) more.push_back(dir + f);
  more.insert(more.end(), {dir + "backup_info_" + L + ".xml", side, side + "owner_g"});
  return more;
}

// A dump takes its files, archives and subdirectories' files, except inside an enclosing dump (same
// prefix and label two levels up), which keeps archives and subdirectories.
TEST(DeletionTest, StructuredDumps) {
  const std::string c1 = "clients/c1/", rc = "resellers/r1/clients/", rc1 = rc + "c1/", d1 = rc1 + "domains/d1/";
  const std::string site = "backup_site_" + L;
  const std::vector<Dump> nested = {{rc1, L, {"backup_user_" + L + ".tgz"}}, {d1, L, {site + ".tgz", site + ".dat"}}};
  const Words own = {"backup_user_" + L + ".tgz", "backup_db_" + L + ".zip", "backup_x_" + L + ".tgz2",
                     "sub/backup_mail_" + L + ".tar", "sub/deeper/backup_y_" + L + ".dat"};
  const struct { std::vector<Dump> dumps; Words extra; std::string path; Words gone; } cases[] = {
      {{{c1, L, own}, {c1, "1002011200", {"backup_user_1002011200.tgz"}}},
       {c1 + "other_user_" + L + ".tgz", c1 + "backup_user_" + L + ".tar.gz", ".discovered/g_c1"},
       c1 + "backup_info_" + L + ".xml", Own(c1, own)},
      // Inside an enclosing dump only the dump's own files go.
      {{{"", L, {"backup_conf_" + L + ".tgz"}},
        {c1, L, {"backup_user_" + L + ".tgz", "backup_user_" + L + ".dat", "sub/backup_mail_" + L + ".dat"}}},
       {}, c1 + "backup_info_" + L + ".xml", Own(c1, {"backup_user_" + L + ".dat"})},
      // A domain dump is part of its client's dump.
      {nested, {rc + "backup_info_" + L + ".xml"}, d1 + "backup_info_" + L + ".xml", Own(d1, {site + ".dat"})},
      // A descriptor in a group directory encloses nothing: the client's dump takes the domain's along.
      {nested, {rc + "backup_info_" + L + ".xml"}, rc1 + "backup_info_" + L + ".xml",
       Own(rc1, {"backup_user_" + L + ".tgz"}, Own(d1, {site + ".tgz", site + ".dat"}))},
  };
  for (const auto& c : cases) {
    LocalRepo r;
    for (const Dump& d : c.dumps) Make(r, d);
    for (const std::string& f : c.extra) r.Touch(f);
    const Words before = r.Tree();
    r.repo->DeleteBackup(c.path);
    EXPECT_EQ(r.Tree(), Without(before, c.gone)) << c.path;
  }
}

// Refused names and paths leaving the storage touch nothing on either side of it.
TEST(DeletionTest, Refusals) {
  LocalRepo r;
  for (const char* path : {"b_1001011200.tgz", "b_1001011200.tgz1", "../x/b_1001011200.tgz", "../x/b_1001011200.tgz1"})
    r.Touch(path);
  Make(r, {"../x/", L, {"backup_user_" + L + ".tgz"}});
  const Words before = SnapshotTree(r.scratch.path());
  EXPECT_EQ(Refusal([&] { r.repo->DeleteBackup("b_1001011200.tgz"); }),
            "Repository error: file name 'b_1001011200.tgz' not ends with '.xml' [2]");
  EXPECT_EQ(Refusal([&] { r.repo->DeleteBackup("../x/backup_info_" + L + ".xml"); }),
            "Repository error: file name '../x/backup_info_1001011200.xml' has wrong format [2]");
  EXPECT_EQ(Refusal([&] { r.repo->DeletePackedBackup(""); }), "Repository error: path to deleting file is empty [0]");
  EXPECT_EQ(Refusal([&] { r.repo->DeletePackedBackup("../x/b_" + L + ".tgz"); }),
            "Repository error: file name '../x/b_1001011200.tgz' has wrong format [2]");
  EXPECT_EQ(SnapshotTree(r.scratch.path()), before);
}

}  // namespace
}  // namespace dktest
