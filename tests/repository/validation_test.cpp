// Validation of structured and exported dumps made by the fixture generator.
#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "repository/catalogue.h"
#include "repository/repository.h"
#include "tests/repository/repo_fixture.h"
#include "tests/support/catalogue_support.h"

namespace {

using dktest::Statuses;
using ovrin::ValidationResults;
using Words = std::vector<std::string>;

const std::string kXml = "clients/c1/backup_info_1001011200.xml";
const std::string kSidecar = "clients/c1/.discovered/backup_info_1001011200";

class Validation : public dktest::FixtureRepoTest {
 protected:
  Words StatusItems(const std::string& sidecar = kSidecar) {
    Words items;
    for (const std::string& entry : Sidecar(sidecar)) {
      if (entry.rfind("status_", 0) == 0) items.push_back(entry);
    }
    return items;
  }
};

TEST_F(Validation, ARecordedVerdictIsReturnedWithoutLookingAtTheDump) {
  Build(R"({"dumps": [
    {"descriptor": "malformed", "status": ["OK", "bogus"],
     "contents": [{"path": ".", "files": [{"name": "backup_gone_1001011200.tgz", "missing": true}]}]},
    {"id": "c2", "status": ["CONTENT-ERROR", "WRONG-FORMAT"]}]})");
  dktest::RecordingLog log;

  // Even the signature check is not made once a verdict stands.
  EXPECT_EQ(Words{"OK"}, Statuses(Repo().ValidateBackup(kXml, false)));
  EXPECT_TRUE(log.HasPart("status string value incorrect: bogus"));
  EXPECT_EQ((Words{"status_OK", "status_bogus"}), StatusItems());

  Words both = Statuses(Repo().ValidateBackup("clients/c2/backup_info_1001011200.xml", true));
  std::sort(both.begin(), both.end());
  EXPECT_EQ((Words{"CONTENT-ERROR", "WRONG-FORMAT"}), both);
}

TEST_F(Validation, SignatureIsCheckedOnlyWhenAskedAndTheUnsignedDocumentIsValidated) {
  Build(R"({"dumps": [
    {"id": "c1", "sign": true, "tamper": true},
    {"id": "c2", "sign": true, "tamper": true},
    {"id": "c3", "sign": true},
    {"id": "c4", "sign": true, "descriptor": "invalid"}]})");

  EXPECT_EQ(Words{"OK"}, Statuses(Repo().ValidateBackup(kXml, true)));
  EXPECT_EQ(Words{"status_OK"}, StatusItems());

  EXPECT_EQ(Words{"SIGN-ERROR"}, Statuses(Repo().ValidateBackup("clients/c2/backup_info_1001011200.xml", false)));
  EXPECT_EQ(Words{"status_SIGN-ERROR"}, StatusItems("clients/c2/.discovered/backup_info_1001011200"));

  EXPECT_EQ(Words{"OK"}, Statuses(Repo().ValidateBackup("clients/c3/backup_info_1001011200.xml", false)));
  // The schema sees the document inside the envelope, not the envelope.
  EXPECT_EQ(Words{"WRONG-FORMAT"},
            Statuses(Repo().ValidateBackup("clients/c4/backup_info_1001011200.xml", false)));
}

TEST_F(Validation, SchemaAndContentFailuresAreAllReportedAndRecorded) {
  Build(R"({"dumps": [{"descriptor": "invalid", "contents": [
    {"path": "data", "files": ["backup_a_1001011200.tgz", {"name": "backup_b_1001011200.tgz", "size": 0}]},
    {"path": "more", "files": ["backup_c_1001011200.tgz"]},
    {"path": "gone", "files": [{"name": "backup_d_1001011200.tgz", "missing": true}]}]}]})");

  ValidationResults results = Repo().ValidateBackup(kXml, true);
  ASSERT_EQ((Words{"WRONG-FORMAT", "CONTENT-ERROR"}), Statuses(results));
  EXPECT_TRUE(results[0].contentFiles.empty());
  // Every file of a failing location is named, the sound ones included.
  EXPECT_EQ((Words{"clients/c1/data/backup_a_1001011200.tgz", "clients/c1/data/backup_b_1001011200.tgz",
                   "clients/c1/gone/backup_d_1001011200.tgz"}),
            results[1].contentFiles);
  EXPECT_EQ((Words{"status_CONTENT-ERROR", "status_WRONG-FORMAT"}), StatusItems());

  // From now on the recorded verdict answers, without file lists.
  ValidationResults again = Repo().ValidateBackup(kXml, true);
  ASSERT_EQ(2u, again.size());
  EXPECT_TRUE(again[0].contentFiles.empty() && again[1].contentFiles.empty());
}

TEST_F(Validation, ContentLocationsAreJudgedOncePerRunAndNeverOutsideTheDump) {
  Build(R"({"dumps": [
    {"label": "1001011200", "contents": [{"path": "shared", "files": [{"name": "f.tgz", "size": 0}]}]},
    {"label": "1001011300", "contents": [{"path": "shared", "files": [{"name": "f.tgz", "size": 0}]}]},
    {"id": "c2", "contents": [{"path": "../c1/shared", "files": ["g.tgz"]}]},
    {"id": "c3", "contents": [{"path": ".", "files": ["../c1/shared/g.tgz"]}]}]})");

  std::vector<std::string> bad;
  ValidationResults first = Repo().ValidateBackup(kXml, bad, true);
  ASSERT_EQ(Words{"CONTENT-ERROR"}, Statuses(first));
  EXPECT_EQ(Words{"clients/c1/shared/f.tgz"}, first[0].contentFiles);
  EXPECT_EQ(Words{"clients/c1/shared"}, bad);
  EXPECT_EQ(Words{"OK"}, Statuses(Repo().ValidateBackup("clients/c1/backup_info_1001011300.xml", bad, true)));

  // g.tgz exists and is not empty, but a dump cannot own files of another object.
  ASSERT_TRUE(dktest::Exists(Path("clients/c1/shared/g.tgz")));
  EXPECT_EQ(Words{"CONTENT-ERROR"}, Statuses(Repo().ValidateBackup("clients/c2/backup_info_1001011200.xml", true)));
  EXPECT_EQ(Words{"CONTENT-ERROR"}, Statuses(Repo().ValidateBackup("clients/c3/backup_info_1001011200.xml", true)));
}

TEST_F(Validation, AnUnreadableDescriptorIsAnErrorAndNoVerdict) {
  Build(R"({"dumps": [{"descriptor": "malformed"}]})");
  try {
    Repo().ValidateBackup(kXml, true);
    FAIL() << "a descriptor that does not parse was judged";
  } catch (const ovrin::RepositoryException& e) {
    EXPECT_EQ(2, e.status);
    EXPECT_EQ(0u, std::string(e.what()).find("Repository error: unable to check xml validity: Xml reader error: "))
        << e.what();
  }
  EXPECT_TRUE(StatusItems().empty());
}

class PackedValidation : public Validation {
 protected:
  ValidationResults Packed(const std::string& path, int64_t& size) {
    ValidationResults results;
    ovrin::GetPackedBackupProps(Repo().Transport(), path, results, size);
    return results;
  }
};

TEST_F(PackedValidation, ExportedDumpsAreUnpackedAndValidatedWhole) {
  Build(R"({"exports": [
    {"name": "split_1001011200.tar", "parts": 3, "dump": {"id": "c1"}},
    {"name": "zsplit_1001011200.tgz", "gzip": true, "parts": 2, "dump": {"id": "c2"}},
    {"name": "empty_1001011200.tar", "dump": {"id": "c3",
      "contents": [{"path": ".", "files": [{"name": "backup_c3_1001011200.tgz", "size": 0}]}]}},
    {"name": "schema_1001011200.tar", "dump": {"id": "c4", "descriptor": "invalid"}},
    {"name": "junk_1001011200.tar", "raw": "this is not an archive"}]})");
  const std::vector<std::string> before = dktest::ListTree(install.dumps());

  int64_t size = 0;
  EXPECT_EQ(Words{"OK"}, Statuses(Packed("split_1001011200.tar", size)));
  EXPECT_EQ(static_cast<int64_t>(dktest::ReadFile(Path("split_1001011200.tar")).size() +
                                 dktest::ReadFile(Path("split_1001011200.tar1")).size() +
                                 dktest::ReadFile(Path("split_1001011200.tar2")).size()),
            size);
  EXPECT_EQ(Words{"OK"}, Statuses(Repo().ValidatePackedBackup("zsplit_1001011200.tgz")));
  EXPECT_EQ(Words{"CONTENT-ERROR"}, Statuses(Packed("empty_1001011200.tar", size)));
  EXPECT_EQ(Words{"WRONG-FORMAT"}, Statuses(Packed("schema_1001011200.tar", size)));
  EXPECT_EQ(Words{"WRONG-FORMAT"}, Statuses(Packed("junk_1001011200.tar", size)));
  EXPECT_EQ(22, size);

  // Verdicts of exported dumps are not recorded anywhere, and nothing of the
  // unpacking is left behind.
  EXPECT_EQ(before, dktest::ListTree(install.dumps()));
  EXPECT_TRUE(dktest::ListTree(install.tmp()).empty()) << dktest::ListTree(install.tmp()).front();
}

}  // namespace
