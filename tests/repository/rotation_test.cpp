// Rotation of file and structured series: the files it leaves, never reaching outside the storage.
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

// A dump of the series in `dir` ("" or ending with '/') with one content file.
Dump Of(const std::string& dir, const std::string& label, const Words& statuses = {}, const std::string& owner = "g") {
  return {dir, label, {"backup_user_" + label + ".tgz"}, statuses, owner};
}

// A file series keeps the newest stamps with their parts; another base, extension or stamp length is
// no member, and a name without extension takes in every extension.
TEST(RotationTest, FileSeries) {
  const Words parts = {"bk/b_1001011200.tgz", "bk/b_1001011200.tgz1", "bk/b_1002011200.tgz", "bk/b_1003011200.tgz",
                       "bk/b_100101120.tgz", "bk/c_1001011200.tgz", "bk/b_0901011200.zip", "bk/b_0901011200"};
  const struct { Words files; std::string named; int count; Words gone; } cases[] = {
      {parts, "bk/b_1003011200.tgz", 2, {"bk/b_1001011200.tgz", "bk/b_1001011200.tgz1"}},
      // The parts of one stamp count once.
      {parts, "bk/b_1003011200.tgz", 1, {"bk/b_1001011200.tgz", "bk/b_1001011200.tgz1", "bk/b_1002011200.tgz"}},
      {{"b_1001011200.zip", "b_1002011200.tgz", "b_1003011200", "b.x_1000011200"}, "b_1003011200", 2,
       {"b_1001011200.zip"}},
  };
  for (const auto& c : cases) {
    LocalRepo r;
    for (const std::string& f : c.files) r.Touch(f);
    const Words before = r.Tree();
    r.repo->RotateFileBackup("ignored", c.named, c.count);
    EXPECT_EQ(r.Tree(), Without(before, c.gone)) << c.named;
  }
}

// A structured series counts the owner's dumps without a verdict or with an OK among them and deletes
// the oldest with all their files; an owner without dumps loses nothing.
TEST(RotationTest, StructuredSeries) {
  const std::string d = "clients/c1/", side = d + ".discovered/backup_info_1001011200/";
  const struct { std::string owner; int count; Words gone; } cases[] = {
      {"g", 2, {d + "backup_info_1001011200.xml", d + "backup_user_1001011200.tgz", d + "backup_user_1001011200.dat",
                side, side + "owner_g"}},
      {"nobody", 1, {}}};
  for (const auto& c : cases) {
    LocalRepo r;
    for (const Dump& dump : {Of(d, "0901011200", {}, "h"), Of(d, "1001011200"), Of(d, "1002011200", {"SIGN-ERROR"}),
                             Of(d, "1003011200", {"CONTENT-ERROR", "OK"}), Of(d, "1004011200", {"OK"})})
      Make(r, dump);
    for (const char* f : {"backup_user_1001011200.dat", "other_info_1000011200.xml"}) r.Touch(d + f);
    const Words before = r.Tree();
    r.repo->RotateStructuredBackup(c.owner, d + "backup_info_1004011200.xml", c.count);
    EXPECT_EQ(r.Tree(), Without(before, c.gone)) << c.owner;
  }
}

// Malformed names and names leaving the storage are refused before anything anywhere is deleted.
TEST(RotationTest, Refusals) {
  LocalRepo r;
  for (const std::string dir : {"d/", "../x/"})
    for (const std::string label : {"1001011200", "1002011200"}) Make(r, {dir, label, {"b_" + label + ".tgz"}});
  const Words before = SnapshotTree(r.scratch.path());
  const auto files = &tRepository::RotateFileBackup, dumps = &tRepository::RotateStructuredBackup;
  const struct { decltype(files) rotate; std::string named, refusal; } cases[] = {
      {files, "../x/b_1002011200.tgz", "has wrong format [2]"},
      {dumps, "../x/backup_info_1002011200.xml", "has wrong format [2]"},
      {dumps, "d/backup_info_1002011200.xm", "not ends with '.xml' [0]"},
      {dumps, "d/backup_info_100201120.xml", "has invalid date prefix '100201120' [0]"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Refusal([&] { (*r.repo.*c.rotate)("g", c.named, 1); }),
              "Repository error: file name '" + c.named + "' " + c.refusal);
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
  for (const char* label : {"1001011200", "1002011200", "1003011200"}) Make(dumps, Of("d/", label));
  const std::string locked = dumps.Path("d/backup_user_1002011200.tgz");
  ASSERT_EQ(dktest::Run("/bin/sh", {"-c", "chattr +i '" + locked + "'"}).code, 0) << "the test needs chattr +i";
  const std::string text = ThrownText<TransportException>(
      [&] { dumps.repo->RotateStructuredBackup("g", "d/backup_info_1003011200.xml", 1); });
  Shell("chattr -i '" + locked + "'");
  EXPECT_EQ(text, "Transport error: Unable to delete file d/backup_user_1002011200.tgz: boost::filesystem::remove: "
                  "Operation not permitted: \"" + locked + "\"");
  Words others;
  for (const std::string& e : dumps.Tree())
    if (e.find("1002011200") == std::string::npos) others.push_back(e);
  const std::string side = "d/.discovered/backup_info_1003011200/";
  EXPECT_EQ(others, (Words{"d/", "d/.discovered/", side, side + "owner_g", "d/backup_info_1003011200.xml",
                           "d/backup_user_1003011200.tgz"}));
  EXPECT_TRUE(dumps.Has("d/backup_user_1002011200.tgz"));
}

// A server series enclosing client and domain dumps of its labels: the one walk of the rotation
// removes exactly what deleting each doomed dump removes.
TEST(RotationTest, StructuredSeriesRemovesWhatDeletingEachDumpRemoves) {
  const Words labels = {"1001011200", "1002011200", "1003011200", "1004011200", "1005011200"};
  auto build = [&](const LocalRepo& r) {
    for (const std::string& label : labels) {
      for (const char* dir : {"", "clients/c1/", "clients/c1/domains/d1/"}) Make(r, Of(dir, label));
      r.Touch("clients/c1/domains/d1/phosting/backup_site_" + label + ".tgz");
    }
    // An older client dump, look-alike labels, and a second dump the series' name matches.
    Make(r, Of("clients/c1/", "0901011200"));
    r.Touch("clients/c1/backup_user_10010112000.tgz");
    r.Touch("clients/c1/backup_1001011200_x.tgz");
    r.Touch("backup_x_info_" + labels[0] + ".xml", "<info/>");
    r.Touch(".discovered/backup_x_info_" + labels[0] + "/owner_g", "");
  };
  LocalRepo rotated, deleted;
  for (const LocalRepo* r : {&rotated, &deleted}) build(*r);
  rotated.repo->RotateStructuredBackup("g", "backup_1005011200.xml", 2);
  deleted.repo->DeleteBackup("backup_x_info_" + labels[0] + ".xml");
  for (size_t i = 0; i < 3; ++i) deleted.repo->DeleteBackup("backup_info_" + labels[i] + ".xml");
  EXPECT_EQ(rotated.Tree(), deleted.Tree());
}

}  // namespace
}  // namespace dktest
