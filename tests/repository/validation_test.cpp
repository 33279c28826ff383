// Validation of structured and exported dumps made by the fixture generator.
#include "repository/catalogue.h"
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

class Validation : public FixtureRepoTest {
 protected:
  // "verdict / recorded status items" of the dump of client `id`.
  std::string Judge(const std::string& id) {
    const std::string verdict = Statuses(Repo().ValidateBackup(Xml(id), false));
    return verdict + " / " + Join(StatusItems(id));
  }
  static std::string Xml(const std::string& id) { return "clients/" + id + "/backup_info_1001011200.xml"; }
  Words StatusItems(const std::string& id) {
    Words items;
    for (const std::string& entry : ListTree(Path("clients/" + id + "/.discovered/backup_info_1001011200")))
      if (entry.rfind("status_", 0) == 0) items.push_back(entry);
    return items;
  }
};

// A valid signature passes (a failing one, and skipping the check, are seen
// through the binary) and the schema sees the document inside the envelope;
// each verdict is recorded. A recorded verdict answers later without looking
// at the dump: no file lists, unknown words ignored.
TEST_F(Validation, VerdictsAreFoundRecordedAndReturned) {
  Build(R"({"dumps": [
    {"id": "c3", "sign": true}, {"id": "c4", "sign": true, "descriptor": "invalid"},
    {"id": "c5", "descriptor": "invalid", "contents": [
      {"path": "data", "files": ["backup_a_1001011200.tgz", {"name": "backup_b_1001011200.tgz", "size": 0}]},
      {"path": "more", "files": ["backup_c_1001011200.tgz"]},
      {"path": "gone", "files": [{"name": "backup_d_1001011200.tgz", "missing": true}]}]}]})");
  EXPECT_EQ(Judge("c3"), "OK / status_OK");
  EXPECT_EQ(Judge("c4"), "WRONG-FORMAT / status_WRONG-FORMAT");

  // Every file of a failing content location is named, the sound ones included.
  ValidationResults results = Repo().ValidateBackup(Xml("c5"), true);
  EXPECT_EQ(Statuses(results), "WRONG-FORMAT,CONTENT-ERROR");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].contentFiles, Words{});
  EXPECT_EQ(results[1].contentFiles, (Words{"clients/c5/data/backup_a_1001011200.tgz",
                                            "clients/c5/data/backup_b_1001011200.tgz",
                                            "clients/c5/gone/backup_d_1001011200.tgz"}));
  EXPECT_EQ(StatusItems("c5"), (Words{"status_CONTENT-ERROR", "status_WRONG-FORMAT"}));

  WriteFile(Path("clients/c5/.discovered/backup_info_1001011200/status_bogus"), "");
  results = Repo().ValidateBackup(Xml("c5"), true);
  EXPECT_EQ(Statuses(results, true), "CONTENT-ERROR,WRONG-FORMAT");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].contentFiles.size() + results[1].contentFiles.size(), 0u);
}

// Within one run a content location found bad is bad for every dump that
// names it, without being looked at again; a descriptor that does not parse
// is an error (exit status 2), not a verdict.
TEST_F(Validation, OncePerRunAndUnreadableDescriptors) {
  Build(R"({"dumps": [
    {"label": "1001011200", "contents": [{"path": "shared", "files": [{"name": "f.tgz", "size": 0}]}]},
    {"label": "1001011300", "contents": [{"path": "shared", "files": [{"name": "f.tgz", "size": 0}]}]},
    {"id": "c2", "descriptor": "malformed"}]})");
  Words bad;
  ValidationResults first = Repo().ValidateBackup(Xml("c1"), bad, true);
  EXPECT_EQ(Statuses(first), "CONTENT-ERROR");
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].contentFiles, Words{"clients/c1/shared/f.tgz"});
  EXPECT_EQ(bad, Words{"clients/c1/shared"});
  EXPECT_EQ(Statuses(Repo().ValidateBackup("clients/c1/backup_info_1001011300.xml", bad, true)), "OK");

  const std::string refusal = Refusal([&] { Repo().ValidateBackup(Xml("c2"), true); });
  EXPECT_EQ(refusal.rfind("Repository error: unable to check xml validity: Xml reader error: ", 0), 0u) << refusal;
  EXPECT_EQ(refusal.substr(refusal.size() - 4), " [2]");
  EXPECT_EQ(StatusItems("c2"), Words{});
}

// Exported dumps, split or compressed, are unpacked and validated whole; the
// verdict is recorded nowhere and nothing of the unpacking is left behind.
TEST_F(Validation, ExportedDumpsAreUnpackedAndValidatedWhole) {
  Build(R"({"exports": [
    {"name": "split_1001011200.tar", "parts": 3, "dump": {"id": "c1"}},
    {"name": "zsplit_1001011200.tgz", "gzip": true, "parts": 2, "dump": {"id": "c2"}},
    {"name": "empty_1001011200.tar", "dump": {"id": "c3",
      "contents": [{"path": ".", "files": [{"name": "backup_c3_1001011200.tgz", "size": 0}]}]}},
    {"name": "schema_1001011200.tar", "dump": {"id": "c4", "descriptor": "invalid"}},
    {"name": "junk_1001011200.tar", "raw": "this is not an archive"}]})");
  const Words before = SnapshotTree(install.dumps());
  const struct {
    std::string name, verdict, size;
  } cases[] = {
      {"split_1001011200.tar", "OK", SizeOf("split_1001011200.tar", 3)},
      {"zsplit_1001011200.tgz", "OK", SizeOf("zsplit_1001011200.tgz", 2)},
      {"empty_1001011200.tar", "CONTENT-ERROR", SizeOf("empty_1001011200.tar")},
      {"schema_1001011200.tar", "WRONG-FORMAT", SizeOf("schema_1001011200.tar")},
      {"junk_1001011200.tar", "WRONG-FORMAT", "22"},
  };
  for (const auto& c : cases) {
    ValidationResults results;
    int64_t size = -1;
    ovrin::GetPackedBackupProps(Repo().Transport(), c.name, results, size);
    EXPECT_EQ(Statuses(results) + " " + std::to_string(size), c.verdict + " " + c.size);
    EXPECT_EQ(Statuses(Repo().ValidatePackedBackup(c.name)), c.verdict) << c.name;
  }
  EXPECT_EQ(before, SnapshotTree(install.dumps()));
  EXPECT_EQ(ListTree(install.tmp()), Words{});
}

}  // namespace
}  // namespace dktest
