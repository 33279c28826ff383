// The built binary on local repositories made by the fixture generator: the
// documents it prints, the files it leaves and its exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/test_support.h"

namespace {

const char SERVER_GUID[] = "00000000-0000-4000-8000-000000000000";

class LocalCommands : public ::testing::Test {
 protected:
  dktest::RunResult Run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.push_back("--session-path=" + (work / "session"));
    env["OVR_CONF_DIR"] = install.confDir();
    return dktest::RunDumpkeep(args, env);
  }
  void Build(const std::string& layout) { dktest::MakeFixtureRepo(install.dumps(), layout); }
  std::vector<std::string> Tree() const { return dktest::ListTree(install.dumps()); }
  bool Has(const std::string& rel) const { return dktest::Exists(install.dumps() + "/" + rel); }
  std::string Log() const { return dktest::ReadFile(work / "session/migration.log"); }

  dktest::SampleInstallation install;
  dktest::TempDir work;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

TEST_F(LocalCommands, InfoDocumentOfARecordedVerdictIsExact) {
  Build(R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200", "status": ["OK"],
                        "description": "weekly", "size": 4096}]})");
  dktest::RunResult r = Run({"--get-dump-info", "--dump-file-specification", "clients/c1/backup_info_1001011200.xml"});
  ASSERT_EQ(0, r.code) << r.out;
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<dump name=\"backup_info_1001011200.xml\" fullname=\"clients/c1/backup_info_1001011200.xml\" "
      "creation-date=\"1001011200\" description=\"weekly\" size=\"4096\" owner-guid=\"" +
          std::string(SERVER_GUID) +
          "\" owner-type=\"server\">\n"
          " <dump-status dump-status=\"OK\"/>\n"
          "</dump>\n",
      r.out);
}

TEST_F(LocalCommands, ListingsShowEachObjectItsOwnDumpsWithVerdicts) {
  Build(R"({"dumps": [
      {"type": "server", "label": "1001011200"},
      {"type": "server", "label": "1001021200", "descriptor": "invalid"},
      {"type": "reseller", "id": "r1", "label": "1001021200", "status": ["OK"]},
      {"type": "client", "id": "c2", "guid": "client-guid-2", "under": "resellers/r1", "label": "1001031200",
       "contents": [{"path": ".", "files": [{"name": "backup_c2_1001031200.tgz", "missing": true}]}]}
  ]})");
  dktest::RunResult server = Run({"--get-dump-list", "--type", "server", "--guid", SERVER_GUID});
  ASSERT_EQ(0, server.code) << server.out;
  EXPECT_EQ(0u, server.out.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dump-list>\n")) << server.out;
  EXPECT_EQ(2u, Count(server.out, "<dump name=")) << server.out;
  EXPECT_EQ(1u, Count(server.out, "dump-status=\"WRONG-FORMAT\"")) << server.out;
  EXPECT_EQ("</dump-list>\n", server.out.substr(server.out.size() - 13));

  // A nested client sees its own dump; the missing archive is named relative to the root.
  std::vector<std::string> clientList{"--get-dump-list", "--type", "client", "--guid", "client-guid-2"};
  dktest::RunResult client = Run(clientList);
  ASSERT_EQ(0, client.code) << client.out;
  EXPECT_EQ(1u, Count(client.out, "<dump name=")) << client.out;
  EXPECT_NE(std::string::npos, client.out.find("fullname=\"resellers/r1/clients/c2/backup_info_1001031200.xml\""));
  EXPECT_NE(std::string::npos,
            client.out.find("<dump-status dump-status=\"CONTENT-ERROR\">\n   <details>\n    <content-file-name>"
                            "resellers/r1/clients/c2/./backup_c2_1001031200.tgz</content-file-name>"))
      << client.out;
  // The verdict is recorded; the next run answers from the sidecar, which
  // keeps the status word but not the files concerned.
  EXPECT_TRUE(Has("resellers/r1/clients/c2/.discovered/backup_info_1001031200/status_CONTENT-ERROR"));
  dktest::RunResult cached = Run(clientList);
  EXPECT_NE(std::string::npos, cached.out.find("<dump-status dump-status=\"CONTENT-ERROR\"/>")) << cached.out;

  // Without an index entry the name given on the command line finds the object.
  dktest::Shell("rm -f '" + install.dumps() + "'/.discovered/client-guid-2_*");
  EXPECT_EQ(0u, Count(Run(clientList).out, "<dump name="));
  clientList.insert(clientList.end(), {"--name", "c2"});
  EXPECT_EQ(1u, Count(Run(clientList).out, "<dump name="));
}

TEST_F(LocalCommands, EmptyRepositoryListsNothingAndCredentialsNameTheRoot) {
  // The object type is looked up only for the entries the walk meets.
  for (const char* type : {"server", "mailbox"}) {
    dktest::RunResult r = Run({"--get-dump-list", "--type", type, "--guid", SERVER_GUID});
    ASSERT_EQ(0, r.code) << type << ": " << r.out;
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dump-list/>\n", r.out) << type;
  }
  dktest::RunResult r = Run({"--get-dumps-storage-credentials"});
  ASSERT_EQ(0, r.code);
  EXPECT_EQ("<dumps-storage-credentials>\n <root-dir>" + install.dumps() + "</root-dir>\n</dumps-storage-credentials>\n",
            r.out);
  r = Run({"--get-dumps-storage-credentials", "--storage-type", "Local"});
  EXPECT_EQ(1, r.code);
  EXPECT_EQ("'storage-type' has unexpected value 'Local'\n", r.out);
}

// A dump path that climbs out of the storage is refused before anything
// there is read, deleted, or a verdict written beside it.
TEST_F(LocalCommands, CommandsRefuseDumpPathsLeavingTheStorage) {
  const std::string outside = install.root() + "/outside";
  dktest::MakeFixtureRepo(outside, R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200"}],
      "exports": [{"name": "b_1001011200.tgz", "gzip": true,
                   "dump": {"type": "client", "id": "c1", "label": "1001011200"}}]})");
  const std::vector<std::string> before = dktest::ListTree(outside);
  const std::string store = install.root() + "/store";
  dktest::Shell("mkdir '" + store + "'");
  const std::string dump = "../outside/clients/c1/backup_info_1001011200.xml";
  const std::vector<std::vector<std::string>> runs = {
      {"--get-dump-info", "--dump-file-specification", dump},
      {"--get-dump-info", "--dump-storage", store, "--dump-file-specification", dump},
      {"--get-ftp-dump-info", "--dump-storage", store, "--dump-file-specification", "../outside/b_1001011200.tgz"},
      {"--delete-dump", "--dump-storage", store, "--dump-specification", dump},
      {"--delete-exported-dump", "--dump-storage", store, "--dump-file-specification", "../outside/b_1001011200.tgz"},
      {"--rotate-dump", "--dump-storage", store, "--dump-rotation", "1", "--guid", "g", "--dump-specification",
       "../outside/b_1001011200.tgz"},
      {"--rotate-dump", "--dump-storage", store, "--dump-rotation", "1", "--guid", "g", "--storage-structured",
       "--dump-specification", dump},
  };
  for (const std::vector<std::string>& args : runs) {
    dktest::RunResult r = Run(args);
    EXPECT_EQ(152, r.code) << args[0] << " " << args[2];
    EXPECT_EQ("Repository error: file name '" + args.back() + "' has wrong format\n", r.out);
  }
  EXPECT_EQ(before, dktest::ListTree(outside));
}

TEST_F(LocalCommands, SignatureIsCheckedOnlyWithCheckSign) {
  Build(R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200", "sign": true, "tamper": true}]})");
  const std::string layout = "clients/c1/backup_info_1001011200.xml";
  dktest::RunResult plain = Run({"--get-dump-info", "--dump-file-specification", layout});
  ASSERT_EQ(0, plain.code) << plain.out;
  EXPECT_EQ(std::string::npos, plain.out.find("SIGN-ERROR")) << plain.out;
  // The verdict of the first run is recorded; start again from a fresh tree.
  dktest::Shell("rm -rf '" + install.dumps() + "' && mkdir '" + install.dumps() + "'");
  Build(R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200", "sign": true, "tamper": true}]})");
  dktest::RunResult checked = Run({"--get-dump-info", "--check-sign", "--dump-file-specification", layout});
  ASSERT_EQ(0, checked.code) << checked.out;
  EXPECT_NE(std::string::npos, checked.out.find("dump-status=\"SIGN-ERROR\"")) << checked.out;
}

TEST_F(LocalCommands, DiskUsageCountsTheDomainsDumps) {
  Build(R"({"dumps": [
      {"type": "domain", "id": "d1", "guid": "dom-guid", "label": "1001011200", "size": 1000, "owner": "own-1"},
      {"type": "domain", "id": "d1", "guid": "dom-guid", "label": "1001021200", "size": 5000000000, "owner": "own-2"}
  ]})");
  dktest::RunResult all = Run({"--get-domain-dumps-disc-usage", "--domain-guid", "dom-guid"});
  ASSERT_EQ(0, all.code) << all.out;
  EXPECT_EQ("5000001000\n", all.out);
  dktest::RunResult owned =
      Run({"--get-domain-dumps-disc-usage", "--domain-guid", "dom-guid", "--owner-guid", "own-2"});
  EXPECT_EQ("5000000000\n", owned.out);
  EXPECT_EQ("0\n", Run({"--get-domain-dumps-disc-usage", "--domain-guid", "nobody"}).out);
}

TEST_F(LocalCommands, DeleteDumpRemovesTheDumpAndKeepsItsNeighbours) {
  Build(R"({"dumps": [
      {"type": "client", "id": "c1", "label": "1001011200"},
      {"type": "client", "id": "c1", "label": "1001021200"}
  ]})");
  dktest::RunResult r = Run({"--delete-dump", "--dump-specification", "clients/c1/backup_info_1001011200.xml"});
  ASSERT_EQ(0, r.code) << r.out;
  EXPECT_EQ("", r.out);
  EXPECT_FALSE(Has("clients/c1/backup_info_1001011200.xml"));
  EXPECT_FALSE(Has("clients/c1/backup_c1_1001011200.tgz"));
  EXPECT_FALSE(Has("clients/c1/.discovered/backup_info_1001011200"));
  EXPECT_TRUE(Has("clients/c1/backup_info_1001021200.xml"));
  EXPECT_TRUE(Has("clients/c1/backup_c1_1001021200.tgz"));
  EXPECT_TRUE(Has("clients/c1/.discovered/backup_info_1001021200"));
}

TEST_F(LocalCommands, DeleteExportedDumpTakesEveryPart) {
  dktest::TempDir store;
  dktest::MakeFixtureRepo(store.path(), R"({"exports": [{"name": "b_1001011200.tgz", "gzip": true, "parts": 3,
      "dump": {"type": "client", "id": "c1", "label": "1001011200"}}], "files": {"b_1001011200.tgz.1": "keep"}})");
  dktest::RunResult r = Run({"--delete-exported-dump", "--dump-storage", store.path(), "--dump-file-specification",
                             "b_1001011200.tgz"});
  ASSERT_EQ(0, r.code) << r.out;
  EXPECT_EQ(std::vector<std::string>{"b_1001011200.tgz.1"}, dktest::ListTree(store.path()));
  r = Run({"--delete-exported-dump", "--dump-storage", store.path(), "--dump-file-specification",
           "b_1001011200.tgz"});
  EXPECT_EQ(151, r.code) << r.out;
}

// A storage URL that leaves no directory (a bare file name, a URL that ends
// with its login) fails with exit code 1 and a message that says so.
TEST_F(LocalCommands, StorageUrlsThatNameNoDirectoryAreRefusedPlainly) {
  const std::vector<std::vector<std::string>> runs = {
      {"--import-file-as-dump", "--dump-file-specification", "backup_1001011200.tar"},
      {"--get-ftp-dump-list", "--dump-storage", "ftp://login@host@"},
  };
  for (const std::vector<std::string>& args : runs) {
    dktest::RunResult r = Run(args, {{"DUMP_STORAGE_PASSWD", "pw"}});
    EXPECT_EQ(1, r.code) << args[2] << ": " << r.out;
    EXPECT_EQ("Error: the storage URL names no directory\n", r.out) << args[2];
  }
  EXPECT_EQ(std::vector<std::string>{}, Tree());
}

TEST_F(LocalCommands, RotationKeepsTheNewestAndRefusesNonPositiveCounts) {
  Build(R"({"files": {"b_1001011200.tgz": "1", "b_1001021200.tgz": "2", "b_1001021200.tgz1": "2b",
                      "b_1001031200.tgz": "3", "other_1001001200.tgz": "x"}})");
  dktest::RunResult r = Run({"--rotate-dump", "--dump-specification", "b_1001031200.tgz", "--dump-rotation", "2", "--guid", "g"});
  ASSERT_EQ(0, r.code) << r.out;
  std::vector<std::string> expected{"b_1001021200.tgz", "b_1001021200.tgz1", "b_1001031200.tgz",
                                    "other_1001001200.tgz"};
  EXPECT_EQ(expected, Tree());

  r = Run({"--rotate-dump", "--dump-specification", "b_1001031200.tgz", "--dump-rotation", "0", "--guid", "g"});
  EXPECT_EQ(1, r.code);
  EXPECT_EQ("'dump-rotation' has unexpected value '0'\n", r.out);
  EXPECT_EQ(expected, Tree());
}

TEST_F(LocalCommands, ExportDumpReportsThePackingLimitAndWritesNothing) {
  Build(R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200"}]})");
  dktest::TempDir dest;
  dktest::RunResult r = Run({"--export-dump-as-file", "--dump-specification", "clients/c1/backup_info_1001011200.xml",
                             "--dump-file-specification", dest.path() + "/"});
  EXPECT_EQ(1, r.code);
  EXPECT_EQ("Archiver error: Multivolume packing not implemented\n", r.out);
  EXPECT_TRUE(dktest::ListTree(dest.path()).empty());
  EXPECT_TRUE(dktest::ListTree(install.tmp()).empty());
}

}  // namespace
