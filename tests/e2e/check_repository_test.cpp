#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/support/catalogue_support.h"
#include "tests/support/test_support.h"

namespace {

// --check-repository through the built binary: a sound repository, and one
// damaged in each way the check knows, each damage reported once with its
// path and kind; the check changes nothing (no verdict is recorded either).
TEST(CheckRepository, ListsEachDamageWithItsPathAndKindAndChangesNothing) {
  auto c1 = [](const std::string& more) {  // a client c1 dump with `more` layout keys
    return R"({"dumps": [{"label": "1001011200")" + more + "}]}";
  };
  auto problem = [](const std::string& kind, const std::string& path, const std::string& end = "/>\n") {
    return " <problem kind=\"" + kind + "\" path=\"" + path + "\"" + end;
  };
  const std::string xml = "clients/c1/backup_info_1001011200.xml", leftovers = ".discovered/.import/";
  const std::pair<std::string, std::string> cases[] = {
      {R"({"dumps": [{"status": ["OK"]}, {"id": "c2", "under": "resellers/r1", "label": "1001021200"},
                     {"type": "server", "label": "1001031200"}]})", ""},
      {c1(R"(, "sidecar": false)"), problem("descriptor-without-sidecar", xml)},
      {c1(R"(, "descriptor": "missing")"),
       problem("sidecar-without-descriptor", "clients/c1/.discovered/backup_info_1001011200")},
      {c1(R"(, "descriptor": "invalid", "status": ["OK"])"), problem("descriptor-invalid", xml)},
      {c1(R"(, "descriptor": "malformed")"), problem("descriptor-unreadable", xml)},
      {R"({"dumps": [{"type": "domain", "id": "d1", "label": "1001011200", "contents": [{"path": ".",
                      "files": [{"name": "backup_d1_1001011200.tgz", "missing": true}]}]}]})",
       problem("content-missing", "domains/d1/backup_info_1001011200.xml", ">\n") +
           "  <content-file-name>domains/d1/./backup_d1_1001011200.tgz</content-file-name>\n </problem>\n"},
      {c1(R"(, "index": false)"), problem("dump-directory-not-indexed", "clients/c1")},
      {R"({"files": {".discovered/0000-gone_c9": ""}})",
       problem("index-entry-without-directory", ".discovered/0000-gone_c9")},
      {R"({"files": {".discovered/.import/host.123.journal": "x", ".discovered/.import/stage1/a/b": "x"}})",
       problem("import-leftover", leftovers + "host.123.journal") + problem("import-leftover", leftovers + "stage1")},
      {R"({"files": {"out/.b_1001011200.tar.joinAb12Cd": "x"}})",
       problem("join-leftover", "out/.b_1001011200.tar.joinAb12Cd")},
  };
  dktest::SampleInstallation install;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    dktest::TempDir storage;
    dktest::MakeFixtureRepo(storage.path(), c.first);
    const std::vector<std::string> before = dktest::SnapshotTree(storage.path());
    const dktest::RunResult r = dktest::RunDumpkeep(
        {"--check-repository", "--dump-storage", storage.path(), "--session-path=" + install.root() + "/session"},
        {{"OVR_CONF_DIR", install.confDir()}});
    EXPECT_EQ(c.second.empty() ? 0 : 160, r.code);
    EXPECT_EQ(dktest::DECLARATION + (c.second.empty() ? "<repository-check/>\n"
                                                       : "<repository-check>\n" + c.second + "</repository-check>\n"),
              r.out);
    EXPECT_EQ(before, dktest::SnapshotTree(storage.path()));
  }
}

}  // namespace
