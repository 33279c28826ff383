// Single commands of the built binary on local storages made by the fixture
// generator: the exact output and exit code of each, and nothing written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/test_support.h"

namespace {

using Words = std::vector<std::string>;

// Outcomes of single commands on one repository: the exact output and exit
// code of each, and nothing written anywhere in the installation.
TEST(LocalCommands, OutcomesAreExactAndChangeNothing) {
  dktest::SampleInstallation install;
  dktest::TempDir work;
  dktest::MakeFixtureRepo(install.dumps(), R"({"dumps": [
      {"type": "domain", "id": "d1", "guid": "dom-guid", "label": "1001011200", "size": 1000, "owner": "own-1"},
      {"type": "domain", "id": "d1", "guid": "dom-guid", "label": "1001021200", "size": 5000000000, "owner": "own-2"},
      {"type": "client", "id": "c1", "label": "1001011200"}]})");
  // A storage beside the repository, and exports outside it.
  const std::string store = install.root() + "/store", outside = install.root() + "/outside";
  dktest::MakeFixtureRepo(outside, R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200"}],
      "exports": [{"name": "b_1001011200.tgz", "gzip": true, "parts": 2,
                   "dump": {"type": "client", "id": "c1", "label": "1001011200"}}],
      "files": {"out.tgz": "joined before"}})");
  dktest::Shell("mkdir '" + store + "' '" + install.root() + "/dest'");
  const std::string dump = "../outside/clients/c1/backup_info_1001011200.xml", exported = "../outside/b_1001011200.tgz";
  auto leaving = [](const std::string& p) { return "Repository error: file name '" + p + "' has wrong format\n"; };
  struct Case {
    Words args;
    int code;
    std::string out;
  };
  const std::vector<Case> cases = {
      // The disk usage of a domain's dumps, in all or of one owner.
      {{"--get-domain-dumps-disc-usage", "--domain-guid", "dom-guid"}, 0, "5000001000\n"},
      {{"--get-domain-dumps-disc-usage", "--domain-guid", "dom-guid", "--owner-guid", "own-2"}, 0, "5000000000\n"},
      // A type of no panel object is refused.
      {{"--get-dump-list", "--type", "mailbox", "--guid", "g"}, 1,
       "Repository error: unexpected object type 'mailbox'\n"},
      // A dump path that climbs out of the storage is refused before anything
      // there is read, deleted, or a verdict written beside it.
      {{"--get-dump-info", "--dump-file-specification", dump}, 152, leaving(dump)},
      {{"--get-dump-info", "--dump-storage", store, "--dump-file-specification", dump}, 152, leaving(dump)},
      {{"--get-ftp-dump-info", "--dump-storage", store, "--dump-file-specification", exported}, 152, leaving(exported)},
      {{"--delete-dump", "--dump-storage", store, "--dump-specification", dump}, 152, leaving(dump)},
      {{"--delete-exported-dump", "--dump-storage", store, "--dump-file-specification", exported}, 152,
       leaving(exported)},
      {{"--rotate-dump", "--dump-storage", store, "--dump-rotation", "1", "--guid", "g", "--dump-specification",
        exported},
       152, leaving(exported)},
      {{"--rotate-dump", "--dump-storage", store, "--dump-rotation", "1", "--guid", "g", "--storage-structured",
        "--dump-specification", dump},
       152, leaving(dump)},
      // A storage URL that leaves no directory: a bare file name, a URL that
      // ends with its login.
      {{"--import-file-as-dump", "--dump-file-specification", "backup_1001011200.tar"}, 1,
       "Error: the storage URL names no directory\n"},
      {{"--get-ftp-dump-list", "--dump-storage", "ftp://login@host@"}, 1,
       "Error: the storage URL names no directory\n"},
      // The export of a structured dump stops at the packing, which takes
      // more than one volume.
      {{"--export-dump-as-file", "--dump-specification", "clients/c1/backup_info_1001011200.xml",
        "--dump-file-specification", install.root() + "/dest/"},
       1, "Archiver error: Multivolume packing not implemented\n"},
      // A join never overwrites its destination, and needs a storage for it.
      {{"--export-file-as-file", "--file-from", "local:" + outside + "/b_1001011200.tgz", "--file-to",
        outside + "/out.tgz"},
       153, "Repository error: file out.tgz exists\n"},
      {{"--export-file-as-file", "--file-from", outside + "/b_1001011200.tgz", "--file-to", "other.tgz"}, 1,
       "Transport error: unable to connect to repository  the storage URL names no directory\n"},
  };
  const Words before = dktest::SnapshotTree(install.root());
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Words args = c.args;
    args.push_back("--session-path=" + (work / "session"));
    dktest::RunResult r = dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()}});
    EXPECT_EQ(c.code, r.code) << r.out;
    EXPECT_EQ(c.out, r.out);
  }
  EXPECT_EQ(before, dktest::SnapshotTree(install.root()));
}

}  // namespace
