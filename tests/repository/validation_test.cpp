// Validation of structured dumps made by the fixture generator.
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

class Validation : public FixtureRepoTest {
 protected:
  static std::string Xml(const std::string& id) { return "clients/" + id + "/backup_info_1001011200.xml"; }
  Words StatusItems(const std::string& id) {
    Words items;
    for (const std::string& entry : ListTree(Path("clients/" + id + "/.discovered/backup_info_1001011200")))
      if (entry.rfind("status_", 0) == 0) items.push_back(entry);
    return items;
  }
};

// Verdicts are found (schema inside a signature, every file of a bad location), recorded and answered
// from the record later; an unreadable descriptor is an error, not a verdict.
TEST_F(Validation, VerdictsAreFoundRecordedAndReturned) {
  Build(R"({"dumps": [{"id": "c2", "descriptor": "malformed"}, {"id": "c4", "sign": true, "descriptor": "invalid"},
    {"id": "c5", "descriptor": "invalid", "contents": [
      {"path": "data", "files": ["backup_a_1001011200.tgz", {"name": "backup_b_1001011200.tgz", "size": 0}]},
      {"path": "more", "files": ["backup_c_1001011200.tgz"]},
      {"path": "gone", "files": [{"name": "backup_d_1001011200.tgz", "missing": true}]}]}]})");
  EXPECT_EQ(Statuses(repo->ValidateBackup(Xml("c4"), false)), "WRONG-FORMAT");
  EXPECT_EQ(StatusItems("c4"), Words{"status_WRONG-FORMAT"});

  ValidationResults results = repo->ValidateBackup(Xml("c5"), true);
  EXPECT_EQ(Statuses(results), "WRONG-FORMAT,CONTENT-ERROR");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].contentFiles, Words{});
  EXPECT_EQ(results[1].contentFiles, (Words{"clients/c5/data/backup_a_1001011200.tgz",
                                            "clients/c5/data/backup_b_1001011200.tgz",
                                            "clients/c5/gone/backup_d_1001011200.tgz"}));
  EXPECT_EQ(StatusItems("c5"), (Words{"status_CONTENT-ERROR", "status_WRONG-FORMAT"}));

  WriteFile(Path("clients/c5/.discovered/backup_info_1001011200/status_bogus"), "");
  results = repo->ValidateBackup(Xml("c5"), true);
  EXPECT_EQ(Statuses(results, true), "CONTENT-ERROR,WRONG-FORMAT");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].contentFiles.size() + results[1].contentFiles.size(), 0u);

  EXPECT_EQ(Refusal([&] { repo->ValidateBackup(Xml("c2"), true); }),
            "Repository error: unable to check xml validity: Xml reader error: failed to load xml document [2]");
  EXPECT_EQ(StatusItems("c2"), Words{});
}

}  // namespace
}  // namespace dktest
