#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/test_support.h"

namespace {

// Single commands of the built binary on local storages: the exact output and
// exit code of each, and nothing written anywhere in the installation.
TEST(LocalCommands, OutcomesAreExactAndChangeNothing) {
  dktest::SampleInstallation install;
  dktest::MakeFixtureRepo(install.dumps(), R"({"dumps": [
      {"type": "domain", "id": "d1", "guid": "dom-guid", "label": "1001011200", "size": 1000, "owner": "own-1"},
      {"type": "domain", "id": "d1", "guid": "dom-guid", "label": "1001021200", "size": 5000000000, "owner": "own-2"},
      {}]})");
  // A storage beside the repository, and a dump and a split export outside both.
  const std::string outside = install.root() + "/outside", dump = "../outside/clients/c1/backup_info_1001011200.xml",
                    exported = "../outside/b_1001011200.tgz", noDir = "the storage URL names no directory\n";
  dktest::MakeFixtureRepo(outside, R"({"dumps": [{}], "exports": [{"name": "b_1001011200.tgz", "parts": 2}]})");
  dktest::Shell("mkdir '" + install.root() + "/store' '" + install.root() + "/dest'");
  const struct { std::vector<std::string> args; int code; std::string out; } cases[] = {
      // The disk usage of a domain's dumps, in all or of one owner.
      {{"--get-domain-dumps-disc-usage", "--domain-guid", "dom-guid"}, 0, "5000001000\n"},
      {{"--get-domain-dumps-disc-usage", "--domain-guid", "dom-guid", "--owner-guid", "own-2"}, 0, "5000000000\n"},
      // A path climbing out of the storage is refused before anything there is read or written.
      {{"--get-dump-info", "--dump-file-specification", dump}, 152,
       "Repository error: file name '" + dump + "' has wrong format\n"},
      {{"--get-ftp-dump-info", "--dump-storage", install.root() + "/store", "--dump-file-specification", exported},
       152, "Repository error: file name '" + exported + "' has wrong format\n"},
      // A storage URL that leaves no directory, of an import or of a join's destination.
      {{"--import-file-as-dump", "--dump-file-specification", "backup_1001011200.tar"}, 1, "Error: " + noDir},
      {{"--export-file-as-file", "--file-from", outside + "/b_1001011200.tgz", "--file-to", "other.tgz"}, 1,
       "Transport error: unable to connect to repository  " + noDir},
      // A structured dump's export stops at the packing, which takes more than one volume.
      {{"--export-dump-as-file", "--dump-specification", "clients/c1/backup_info_1001011200.xml",
        "--dump-file-specification", install.root() + "/dest/"},
       1, "Archiver error: Multivolume packing not implemented\n"},
  };
  const dktest::TempDir work;
  const std::vector<std::string> before = dktest::SnapshotTree(install.root());
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::vector<std::string> args = c.args;
    args.push_back("--session-path=" + (work / "session"));
    const dktest::RunResult r = dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()}});
    EXPECT_EQ(c.code, r.code) << r.out;
    EXPECT_EQ(c.out, r.out);
  }
  EXPECT_EQ(before, dktest::SnapshotTree(install.root()));
}

}  // namespace
