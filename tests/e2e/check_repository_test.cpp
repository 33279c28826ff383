// --check-repository through the built binary: a sound repository, and one
// damaged in each way the check knows, each reported once with its path and
// kind; the check changes nothing (no verdict is recorded either).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/test_support.h"

namespace {

TEST(CheckRepository, ListsEachDamageWithItsPathAndKindAndChangesNothing) {
  struct Damage {
    const char* layout;
    std::string problems;  // the document's problem lines, "" for a sound repository
  };
  const std::vector<Damage> cases = {
      {R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200", "status": ["OK"]},
                     {"type": "client", "id": "c2", "under": "resellers/r1", "label": "1001021200"},
                     {"type": "server", "label": "1001031200"}]})",
       ""},
      {R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200", "sidecar": false}]})",
       " <problem kind=\"descriptor-without-sidecar\" path=\"clients/c1/backup_info_1001011200.xml\"/>\n"},
      {R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200", "descriptor": "missing"}]})",
       " <problem kind=\"sidecar-without-descriptor\" path=\"clients/c1/.discovered/backup_info_1001011200\"/>\n"},
      {R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200", "descriptor": "invalid",
                      "status": ["OK"]}]})",
       " <problem kind=\"descriptor-invalid\" path=\"clients/c1/backup_info_1001011200.xml\"/>\n"},
      {R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200", "descriptor": "malformed"}]})",
       " <problem kind=\"descriptor-unreadable\" path=\"clients/c1/backup_info_1001011200.xml\"/>\n"},
      {R"({"dumps": [{"type": "domain", "id": "d1", "label": "1001011200",
                      "contents": [{"path": ".", "files": [{"name": "backup_d1_1001011200.tgz", "missing": true}]}]}]})",
       " <problem kind=\"content-missing\" path=\"domains/d1/backup_info_1001011200.xml\">\n"
       "  <content-file-name>domains/d1/./backup_d1_1001011200.tgz</content-file-name>\n"
       " </problem>\n"},
      {R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200", "index": false}]})",
       " <problem kind=\"dump-directory-not-indexed\" path=\"clients/c1\"/>\n"},
      {R"({"files": {".discovered/0000-gone_c9": ""}})",
       " <problem kind=\"index-entry-without-directory\" path=\".discovered/0000-gone_c9\"/>\n"},
      {R"({"files": {".discovered/.import/host.123.journal": "x", ".discovered/.import/stage1/a/b": "x"}})",
       " <problem kind=\"import-leftover\" path=\".discovered/.import/host.123.journal\"/>\n"
       " <problem kind=\"import-leftover\" path=\".discovered/.import/stage1\"/>\n"},
      {R"({"files": {"out/.b_1001011200.tar.joinAb12Cd": "x"}})",
       " <problem kind=\"join-leftover\" path=\"out/.b_1001011200.tar.joinAb12Cd\"/>\n"},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.layout);
    dktest::SampleInstallation install;
    dktest::TempDir work, storage;
    dktest::MakeFixtureRepo(storage.path(), c.layout);
    const std::vector<std::string> before = dktest::SnapshotTree(storage.path());
    const dktest::RunResult r = dktest::RunDumpkeep(
        {"--check-repository", "--dump-storage", storage.path(), "--session-path=" + (work / "session")},
        {{"OVR_CONF_DIR", install.confDir()}});
    EXPECT_EQ(c.problems.empty() ? 0 : 160, r.code);
    const std::string body = "<repository-check>\n" + c.problems + "</repository-check>\n";
    EXPECT_EQ(dktest::DECLARATION + (c.problems.empty() ? "<repository-check/>\n" : body), r.out);
    EXPECT_EQ(before, dktest::SnapshotTree(storage.path()));
  }
}

}  // namespace
