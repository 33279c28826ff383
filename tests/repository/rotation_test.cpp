#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "repository/repository.h"
#include "tests/repository/repo_fixture.h"

using namespace ovrin;
using dktest::LocalRepo;
using dktest::RecordingLog;

namespace {

// A structured dump of prefix "backup" in `dir` owned by `owner`, with one
// content file and optional status items.
void MakeOwnedDump(const LocalRepo& r, const std::string& dir, const std::string& label, const std::string& owner,
                   const std::vector<std::string>& statuses = {}) {
  const std::string sidecar = dir + "/.discovered/backup_info_" + label;
  r.Touch(dir + "/backup_info_" + label + ".xml", "<info/>");
  r.Touch(dir + "/backup_user_" + label + ".tgz");
  r.Touch(sidecar + "/owner_" + owner, "");
  for (const std::string& status : statuses) r.Touch(sidecar + "/status_" + status, "");
}

bool DumpPresent(const LocalRepo& r, const std::string& dir, const std::string& label) {
  bool descriptor = r.Has(dir + "/backup_info_" + label + ".xml");
  EXPECT_EQ(descriptor, r.Has(dir + "/backup_user_" + label + ".tgz")) << label;
  EXPECT_EQ(descriptor, r.Has(dir + "/.discovered/backup_info_" + label)) << label;
  return descriptor;
}

// Makes a file immutable for as long as it lives, where the file system allows.
class Immutable {
 public:
  explicit Immutable(const std::string& path) : path_(path) {
    ok_ = dktest::Run("/bin/sh", {"-c", "chattr +i '" + path + "' 2>/dev/null"}).code == 0;
  }
  ~Immutable() {
    if (ok_) dktest::Run("/bin/sh", {"-c", "chattr -i '" + path_ + "'"});
  }
  bool ok() const { return ok_; }

 private:
  std::string path_;
  bool ok_;
};

}  // namespace

TEST(RotationTest, FileSeriesDropsOldestGroupsWithAllTheirParts) {
  LocalRepo r;
  for (const char* f : {"b_1001011200.tgz", "b_1001011200.tgz1", "b_1002011200.tgz", "b_1003011200.tgz",
                        "b_100101120.tgz", "c_1001011200.tgz", "b_0901011200.zip", "b_0901011200"})
    r.Touch(std::string("bk/") + f);

  RecordingLog log;
  r.repo->RotateFileBackup("ignored", "bk/b_1003011200.tgz", 2);
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{"bk/", "bk/b_0901011200", "bk/b_0901011200.zip",
                                                "bk/b_100101120.tgz", "bk/b_1002011200.tgz",
                                                "bk/b_1003011200.tgz", "bk/c_1001011200.tgz"}));
  const std::string p = r.repo->LogPrefix();
  EXPECT_TRUE(log.Has(p + "Find list of backups by mask 'b__YYMMDDHHMM.tgz*'"));
  EXPECT_TRUE(log.Has(p + "Rotation: the file 'b_100101120.tgz' has invalid rotation prefix '100101120'"));
  EXPECT_TRUE(log.Has(p + "Rotation: the file 'c_1001011200.tgz' does not satisfy mask"));
  EXPECT_TRUE(log.Has(p + "Rotation: the file 'b_0901011200.zip' does not satisfy mask"));
  EXPECT_TRUE(log.Has(p + "Found backup: '1001011200', file 'b_1001011200.tgz1'"));
  EXPECT_TRUE(log.Has(p + "Rotation: The backup 'bk/b_1001011200.tgz1'have been remove"));
  EXPECT_TRUE(log.Has(p + "Rotate file backups is finished"));
}

TEST(RotationTest, FileSeriesWithinTheLimitIsLeftAlone) {
  LocalRepo r;
  for (const char* f : {"b_1001011200.tgz", "b_1001011200.tgz1", "b_1002011200.tgz"}) r.Touch(f);
  RecordingLog log;
  r.repo->RotateFileBackup("", "b_1002011200.tgz", 2);
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{"b_1001011200.tgz", "b_1001011200.tgz1", "b_1002011200.tgz"}));
  EXPECT_FALSE(log.HasPart("Remove backup"));
  EXPECT_TRUE(log.Has(r.repo->LogPrefix() + "Rotate file backups is started"));
  EXPECT_TRUE(log.Has(r.repo->LogPrefix() + "Rotate file backups is finished"));
}

TEST(RotationTest, NameWithoutExtensionTakesEveryExtension) {
  LocalRepo r;
  for (const char* f : {"b_1001011200.zip", "b_1002011200.tgz", "b_1003011200", "b.x_1000011200"}) r.Touch(f);
  r.repo->RotateFileBackup("", "b_1003011200", 2);
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{"b.x_1000011200", "b_1002011200.tgz", "b_1003011200"}));
}

TEST(RotationTest, FileSeriesStopsAtTheFirstFailedDeletion) {
  LocalRepo r;
  for (const char* f : {"b_1001011200.tgz", "b_1003011200.tgz", "b_1004011200.tgz"}) r.Touch(f);
  // A non-empty directory with a backup's name cannot be deleted as a file.
  r.Touch("b_1002011200.tgz/inner");

  RecordingLog log;
  EXPECT_THROW(r.repo->RotateFileBackup("", "b_1004011200.tgz", 1), TransportException);
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{"b_1002011200.tgz/", "b_1002011200.tgz/inner",
                                                "b_1003011200.tgz", "b_1004011200.tgz"}));
  EXPECT_TRUE(log.Has(r.repo->LogPrefix() + "Rotation: Cannot delete backup 'b_1002011200.tgz'due to unknown error"));
  EXPECT_FALSE(log.HasPart("Rotate file backups is finished"));
}

TEST(RotationTest, StructuredSeriesKeepsNewestValidDumpsOfTheOwner) {
  LocalRepo r;
  const std::string d = "clients/c1";
  MakeOwnedDump(r, d, "0901011200", "h");                  // other owner, oldest of all
  MakeOwnedDump(r, d, "1001011200", "g");                  // oldest of g: deleted
  MakeOwnedDump(r, d, "1002011200", "g", {"SIGN-ERROR"});  // invalid: neither counted nor deleted
  MakeOwnedDump(r, d, "1003011200", "g", {"CONTENT-ERROR", "OK"});
  MakeOwnedDump(r, d, "1004011200", "g", {"OK"});
  r.Touch(d + "/backup_user_1001011200.dat");
  r.Touch(d + "/other_info_1000011200.xml");
  r.Touch(d + "/backup_1000011200.xml");

  RecordingLog log;
  r.repo->RotateStructuredBackup("g", d + "/backup_info_1004011200.xml", 2);
  EXPECT_TRUE(DumpPresent(r, d, "0901011200"));
  EXPECT_FALSE(DumpPresent(r, d, "1001011200"));
  EXPECT_FALSE(r.Has(d + "/backup_user_1001011200.dat"));
  EXPECT_TRUE(DumpPresent(r, d, "1002011200"));
  EXPECT_TRUE(DumpPresent(r, d, "1003011200"));
  EXPECT_TRUE(DumpPresent(r, d, "1004011200"));
  EXPECT_TRUE(r.Has(d + "/other_info_1000011200.xml"));

  const std::string p = r.repo->LogPrefix();
  EXPECT_TRUE(log.Has(p + "File 'backup_info_0901011200.xml' is not backup of owner g"));
  EXPECT_TRUE(log.Has(p + "The backup : backup_info_1002011200.xml is not valid!"));
  EXPECT_TRUE(log.Has(p + "Rotation: the file 'other_info_1000011200.xml' does not satisfy mask"));
  EXPECT_TRUE(log.Has(p + "Rotation:The backup '" + d + "/backup_info_1001011200.xml'have been remove"));
  EXPECT_TRUE(log.Has(p + "Rotate structured backups is finished for owner g"));
}

TEST(RotationTest, StructuredSeriesWithNothingToRotate) {
  LocalRepo r;
  for (const char* label : {"1001011200", "1002011200", "1003011200"}) MakeOwnedDump(r, "d", label, "g");
  const std::vector<std::string> before = r.Tree();
  RecordingLog log;
  r.repo->RotateStructuredBackup("g", "d/backup_info_1003011200.xml", 3);
  EXPECT_EQ(r.Tree(), before);
  EXPECT_TRUE(log.Has(r.repo->LogPrefix() + "The backups count is less then rotation count. Nothing to rotate."));

  r.repo->RotateStructuredBackup("nobody", "d/backup_info_1003011200.xml", 1);
  EXPECT_EQ(r.Tree(), before);
  EXPECT_TRUE(log.Has(r.repo->LogPrefix() + "The backup list is empty. Nothing to rotate."));
}

TEST(RotationTest, StructuredSeriesRejectsMalformedDescriptorNames) {
  LocalRepo r;
  MakeOwnedDump(r, "d", "1001011200", "g");
  MakeOwnedDump(r, "d", "1002011200", "g");
  const std::vector<std::string> before = r.Tree();
  auto failure = [&](const std::string& dumpSpec) -> std::pair<std::string, int> {
    try {
      r.repo->RotateStructuredBackup("g", dumpSpec, 1);
    } catch (const RepositoryException& e) {
      return {e.what(), e.status};
    }
    return {"", -1};
  };
  EXPECT_EQ(failure("d/backup_info_1002011200.xm"),
            std::make_pair(std::string("Repository error: file name 'd/backup_info_1002011200.xm' not ends with '.xml'"),
                           0));
  EXPECT_EQ(failure("d/backup_info_100201120.xml"),
            std::make_pair(std::string("Repository error: file name 'd/backup_info_100201120.xml' has invalid date "
                                       "prefix '100201120'"),
                           0));
  EXPECT_EQ(failure("../d/backup_info_1002011200.xml").second, 2);
  EXPECT_EQ(r.Tree(), before);
}

TEST(RotationTest, StructuredSeriesStopsAtTheFirstFailedDeletion) {
  LocalRepo r;
  for (const char* label : {"1001011200", "1002011200", "1003011200"}) MakeOwnedDump(r, "d", label, "g");
  Immutable locked(r.Path("d/backup_user_1002011200.tgz"));
  if (!locked.ok()) GTEST_SKIP() << "chattr is not available on this file system";

  RecordingLog log;
  EXPECT_THROW(r.repo->RotateStructuredBackup("g", "d/backup_info_1003011200.xml", 1), TransportException);
  EXPECT_FALSE(DumpPresent(r, "d", "1001011200"));
  EXPECT_TRUE(r.Has("d/backup_user_1002011200.tgz"));
  EXPECT_TRUE(DumpPresent(r, "d", "1003011200"));
  EXPECT_TRUE(
      log.Has(r.repo->LogPrefix() + "Rotation:Cannot delete backup 'd/backup_info_1002011200.xml'due to unknown error"));
  EXPECT_FALSE(log.HasPart("Rotate structured backups is finished"));
}

// A server series whose dumps enclose client and domain dumps of the same
// label: the rotation finds the files of every doomed dump in one walk and
// must remove exactly what deleting them one at a time removes.
TEST(RotationTest, StructuredSeriesRemovesWhatDeletingEachDumpRemoves) {
  const std::vector<std::string> labels = {"1001011200", "1002011200", "1003011200", "1004011200", "1005011200"};
  auto build = [&](const LocalRepo& r) {
    for (const std::string& label : labels) {
      MakeOwnedDump(r, "", label, "g");
      MakeOwnedDump(r, "clients/c1", label, "g");
      MakeOwnedDump(r, "clients/c1/domains/d1", label, "g");
      r.Touch("clients/c1/domains/d1/phosting/backup_site_" + label + ".tgz");
    }
    // A client dump of its own, older than every server dump, and files
    // whose labels merely resemble the series' labels.
    MakeOwnedDump(r, "clients/c1", "0901011200", "g");
    r.Touch("clients/c1/backup_user_10010112000.tgz");
    r.Touch("clients/c1/backup_1001011200_x.tgz");
    // A second dump of the oldest label and the same prefix: the two match
    // the same descriptors and sidecars, and each deletion takes the first
    // sidecar left, so both sidecars go.
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

  for (size_t i = 0; i < labels.size(); ++i) {
    const bool kept = i >= 3;
    EXPECT_EQ(DumpPresent(rotated, "", labels[i]), kept) << labels[i];
    EXPECT_EQ(DumpPresent(rotated, "clients/c1", labels[i]), kept) << labels[i];
    EXPECT_EQ(DumpPresent(rotated, "clients/c1/domains/d1", labels[i]), kept) << labels[i];
    EXPECT_EQ(rotated.Has("clients/c1/domains/d1/phosting/backup_site_" + labels[i] + ".tgz"), kept) << labels[i];
  }
  EXPECT_TRUE(DumpPresent(rotated, "clients/c1", "0901011200"));
  EXPECT_TRUE(rotated.Has("clients/c1/backup_user_10010112000.tgz"));
  EXPECT_TRUE(rotated.Has("clients/c1/backup_1001011200_x.tgz"));
}
