// Rotation of a series of file dumps or structured dumps: the files it
// leaves, and that it never reaches outside the storage.
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

// A structured dump of prefix "backup" owned by `owner`, with one content
// file and the given status items.
struct Dump {
  std::string dir, label, owner;
  Words statuses = {};
};

void Make(const LocalRepo& r, const Dump& d) {
  const std::string sidecar = d.dir + "/.discovered/backup_info_" + d.label;
  r.Touch(d.dir + "/backup_info_" + d.label + ".xml", "<info/>");
  r.Touch(d.dir + "/backup_user_" + d.label + ".tgz");
  r.Touch(sidecar + "/owner_" + d.owner, "");
  for (const std::string& status : d.statuses) r.Touch(sidecar + "/status_" + status, "");
}

bool DumpPresent(const LocalRepo& r, const std::string& dir, const std::string& label) {
  const bool descriptor = r.Has(dir + "/backup_info_" + label + ".xml");
  EXPECT_EQ(descriptor, r.Has(dir + "/backup_user_" + label + ".tgz")) << dir << " " << label;
  EXPECT_EQ(descriptor, r.Has(dir + "/.discovered/backup_info_" + label)) << dir << " " << label;
  return descriptor;
}

// A file series keeps the `count` newest stamps, a stamp's split parts going
// with it; names of another base, extension or stamp length are no members,
// and a name without extension takes in every extension.
TEST(RotationTest, FileSeries) {
  const struct {
    Words files;
    std::string named;
    Words left;
  } cases[] = {
      {{"bk/b_1001011200.tgz", "bk/b_1001011200.tgz1", "bk/b_1002011200.tgz", "bk/b_1003011200.tgz",
        "bk/b_100101120.tgz", "bk/c_1001011200.tgz", "bk/b_0901011200.zip", "bk/b_0901011200"},
       "bk/b_1003011200.tgz",
       {"bk/", "bk/b_0901011200", "bk/b_0901011200.zip", "bk/b_100101120.tgz", "bk/b_1002011200.tgz",
        "bk/b_1003011200.tgz", "bk/c_1001011200.tgz"}},
      {{"b_1001011200.zip", "b_1002011200.tgz", "b_1003011200", "b.x_1000011200"}, "b_1003011200",
       {"b.x_1000011200", "b_1002011200.tgz", "b_1003011200"}},
  };
  for (const auto& c : cases) {
    LocalRepo r;
    for (const std::string& f : c.files) r.Touch(f);
    r.repo->RotateFileBackup("ignored", c.named, 2);
    EXPECT_EQ(r.Tree(), c.left) << c.named;
  }
}

// A structured series counts the owner's dumps that have no verdict or an OK
// among their verdicts, and deletes the oldest of them with all their files.
TEST(RotationTest, StructuredSeries) {
  const std::string d = "clients/c1", named = d + "/backup_info_1003011200.xml";
  const std::vector<Dump> three = {{d, "1001011200", "g"}, {d, "1002011200", "g"}, {d, "1003011200", "g"}};
  const struct {
    std::vector<Dump> dumps;
    std::string owner, named;
    int count;
    Words gone;  // labels of the deleted dumps, and deleted files
  } cases[] = {
      {{{d, "0901011200", "h"}, {d, "1001011200", "g"}, {d, "1002011200", "g", {"SIGN-ERROR"}},
        {d, "1003011200", "g", {"CONTENT-ERROR", "OK"}}, {d, "1004011200", "g", {"OK"}}},
       "g", d + "/backup_info_1004011200.xml", 2, {"1001011200", "backup_user_1001011200.dat"}},
      {three, "g", named, 3, {}},
      {three, "nobody", named, 1, {}},
  };
  for (const auto& c : cases) {
    LocalRepo r, expected;
    auto gone = [&](const std::string& what) { return std::count(c.gone.begin(), c.gone.end(), what) > 0; };
    for (const Dump& dump : c.dumps) {
      Make(r, dump);
      if (!gone(dump.label)) Make(expected, dump);
    }
    for (const std::string& f : Words{"backup_user_1001011200.dat", "other_info_1000011200.xml"}) {
      r.Touch(d + "/" + f);
      if (!gone(f)) expected.Touch(d + "/" + f);
    }
    r.repo->RotateStructuredBackup(c.owner, c.named, c.count);
    EXPECT_EQ(r.Tree(), expected.Tree()) << c.owner << " " << c.count;
  }
}

// Malformed names and names leaving the storage are refused before anything
// is listed or deleted, inside the storage or outside it.
TEST(RotationTest, Refusals) {
  LocalRepo r;
  for (const char* dir : {"d", "../x"}) {
    for (const char* label : {"1001011200", "1002011200"}) {
      Make(r, {dir, label, "g"});
      r.Touch(std::string(dir) + "/b_" + label + ".tgz");
    }
  }
  const Words before = SnapshotTree(r.scratch.path());
  const std::string e = "Repository error: file name '";
  EXPECT_EQ(Refusal([&] { r.repo->RotateFileBackup("g", "../x/b_1002011200.tgz", 1); }),
            e + "../x/b_1002011200.tgz' has wrong format [2]");
  const struct {
    std::string named, refusal;
  } structured[] = {
      {"../x/backup_info_1002011200.xml", e + "../x/backup_info_1002011200.xml' has wrong format [2]"},
      {"d/backup_info_1002011200.xm", e + "d/backup_info_1002011200.xm' not ends with '.xml' [0]"},
      {"d/backup_info_100201120.xml", e + "d/backup_info_100201120.xml' has invalid date prefix '100201120' [0]"},
  };
  for (const auto& c : structured)
    EXPECT_EQ(Refusal([&] { r.repo->RotateStructuredBackup("g", c.named, 1); }), c.refusal);
  EXPECT_EQ(SnapshotTree(r.scratch.path()), before);
}

// A deletion that fails ends either rotation with the error: nothing newer goes.
TEST(RotationTest, StopsAtTheFirstFailedDeletion) {
  LocalRepo files;
  for (const char* f : {"b_1001011200.tgz", "b_1003011200.tgz", "b_1004011200.tgz"}) files.Touch(f);
  files.Touch("b_1002011200.tgz/inner");  // a non-empty directory cannot be deleted as a file
  EXPECT_EQ(ThrownText<TransportException>([&] { files.repo->RotateFileBackup("", "b_1004011200.tgz", 1); }),
            "Transport error: Unable to delete file b_1002011200.tgz: boost::filesystem::remove: Directory not "
            "empty: \"" + files.Path("b_1002011200.tgz") + "\"");
  EXPECT_EQ(files.Tree(), (Words{"b_1002011200.tgz/", "b_1002011200.tgz/inner", "b_1003011200.tgz",
                                 "b_1004011200.tgz"}));

  LocalRepo dumps;
  for (const char* label : {"1001011200", "1002011200", "1003011200"}) Make(dumps, {"d", label, "g"});
  const std::string locked = "'" + dumps.Path("d/backup_user_1002011200.tgz") + "'";
  ASSERT_EQ(dktest::Run("/bin/sh", {"-c", "chattr +i " + locked}).code, 0) << "the test needs chattr +i";
  ThrownText<TransportException>(
      [&] { dumps.repo->RotateStructuredBackup("g", "d/backup_info_1003011200.xml", 1); });
  Shell("chattr -i " + locked);
  EXPECT_FALSE(DumpPresent(dumps, "d", "1001011200"));
  EXPECT_TRUE(dumps.Has("d/backup_user_1002011200.tgz"));
  EXPECT_TRUE(DumpPresent(dumps, "d", "1003011200"));
}

// A server series whose dumps enclose client and domain dumps of the same
// label: the rotation finds the files of every doomed dump in one walk and
// must remove exactly what deleting them one at a time removes.
TEST(RotationTest, StructuredSeriesRemovesWhatDeletingEachDumpRemoves) {
  const Words labels = {"1001011200", "1002011200", "1003011200", "1004011200", "1005011200"};
  auto build = [&](const LocalRepo& r) {
    for (const std::string& label : labels) {
      for (const char* dir : {"", "clients/c1", "clients/c1/domains/d1"}) Make(r, {dir, label, "g"});
      r.Touch("clients/c1/domains/d1/phosting/backup_site_" + label + ".tgz");
    }
    // A client dump of its own, older than every server dump; files whose
    // labels merely resemble the series' labels; a second dump of the oldest
    // label and the same prefix, which matches the same descriptors and
    // sidecars (each deletion takes the first sidecar left, so both go).
    Make(r, {"clients/c1", "0901011200", "g"});
    r.Touch("clients/c1/backup_user_10010112000.tgz");
    r.Touch("clients/c1/backup_1001011200_x.tgz");
    r.Touch("backup_x_info_" + labels[0] + ".xml", "<info/>");
    r.Touch(".discovered/backup_x_info_" + labels[0] + "/owner_g", "");
  };
  LocalRepo rotated, deleted;
  build(rotated);
  build(deleted);
  // The series "backup_*" takes in both dumps of the oldest label.
  rotated.repo->RotateStructuredBackup("g", "backup_1005011200.xml", 2);
  deleted.repo->DeleteBackup("backup_x_info_" + labels[0] + ".xml");
  for (size_t i = 0; i < 3; ++i) deleted.repo->DeleteBackup("backup_info_" + labels[i] + ".xml");
  EXPECT_EQ(rotated.Tree(), deleted.Tree());
  EXPECT_FALSE(rotated.Has(".discovered/backup_x_info_" + labels[0]));
  EXPECT_FALSE(DumpPresent(rotated, "clients/c1/domains/d1", labels[2]));
  EXPECT_TRUE(DumpPresent(rotated, "clients/c1/domains/d1", labels[3]));
  EXPECT_TRUE(DumpPresent(rotated, "clients/c1", "0901011200"));
}

}  // namespace
}  // namespace dktest
