// Dry runs of the deleting commands against the real runs on the same tree:
// the dry run changes nothing, and the paths it prints are exactly what the
// real run then removes, in the order the real run removes them.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

namespace {

const char SERVER_GUID[] = "00000000-0000-4000-8000-000000000000";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool IsUnder(const std::string& entry, const std::string& path) {
  return entry == path || entry.compare(0, path.size() + 1, path + "/") == 0;
}

// The tree entries `printed` stands for: each printed path and, for a
// directory, everything below it.
std::set<std::string> Covered(const std::vector<std::string>& tree, const std::vector<std::string>& printed) {
  std::set<std::string> covered;
  for (std::string entry : tree) {
    if (!entry.empty() && entry.back() == '/') entry.pop_back();
    for (const std::string& path : printed) {
      if (IsUnder(entry, path)) covered.insert(entry);
    }
  }
  return covered;
}

// The removals the real run logged, in order: names that existed and were
// not already gone with a directory removed before them.
std::vector<std::string> LoggedRemovals(const std::string& log, const std::vector<std::string>& before) {
  std::set<std::string> existed;
  for (std::string entry : before) {
    if (!entry.empty() && entry.back() == '/') entry.pop_back();
    existed.insert(entry);
  }
  std::vector<std::string> removed;
  for (const std::string& line : Lines(log)) {
    for (const std::string mark : {"Transport: Delete file ", "Transport: Delete dir "}) {
      const size_t at = line.find(mark);
      if (at == std::string::npos) continue;
      const std::string path = line.substr(at + mark.size());
      bool gone = false;
      for (const std::string& earlier : removed) gone = gone || IsUnder(path, earlier);
      if (existed.count(path) && !gone) removed.push_back(path);
    }
  }
  return removed;
}

// Where the layout is built: the host's repository, a local storage named by
// --dump-storage, or an FTP storage (whose server removes empty directories
// only, so a sidecar goes entry by entry).
enum Place { HOST, LOCAL_STORAGE, FTP_STORAGE };

struct DryRunCase {
  const char* name;
  const char* layout;
  Place place;
  std::vector<std::string> args;
};

const char TWINS[] = R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200"},
    {"type": "client", "id": "c1", "label": "1001011200", "stem": "backup_info_x_info_1001011200"},
    {"type": "client", "id": "c1", "label": "1001021200"},
    {"type": "client", "id": "c1", "label": "1001031200", "status": ["OK"]}]})";
const char EXPORTS[] = R"({"exports": [{"name": "b_1001011200.tgz", "gzip": true, "parts": 3,
    "dump": {"type": "client", "id": "c1", "label": "1001011200"}}], "files": {"b_1001011200.tgz.1": "keep"}})";

TEST(DryRun, PrintsWhatTheRealRunDeletesInItsOrderAndDeletesNothing) {
  const std::vector<std::string> rotateTwins = {"--rotate-dump", "--storage-structured", "--dump-specification",
                                                "clients/c1/backup_info_1001031200.xml", "--dump-rotation", "1",
                                                "--guid", SERVER_GUID};
  const std::vector<std::string> deleteExport = {"--delete-exported-dump", "--dump-file-specification",
                                                 "b_1001011200.tgz"};
  const std::vector<DryRunCase> cases = {
      // Twins of one prefix and label are rotated in rounds.
      {"structured rotation", TWINS, HOST, rotateTwins},
      {"structured rotation on FTP", TWINS, FTP_STORAGE, rotateTwins},
      {"file rotation",
       R"({"files": {"b_1001011200.tgz": "1", "b_1001021200.tgz": "2", "b_1001021200.tgz1": "2b",
                     "b_1001031200.tgz": "3", "other_1001001200.tgz": "x"}})",
       LOCAL_STORAGE, {"--rotate-dump", "--dump-specification", "b_1001031200.tgz", "--dump-rotation", "1", "--guid", "g"}},
      {"dump deletion",
       R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200"},
                     {"type": "client", "id": "c1", "label": "1001021200"}]})",
       HOST, {"--delete-dump", "--dump-specification", "clients/c1/backup_info_1001011200.xml"}},
      {"exported dump deletion", EXPORTS, LOCAL_STORAGE, deleteExport},
      {"exported dump deletion on FTP", EXPORTS, FTP_STORAGE, deleteExport},
  };
  for (const DryRunCase& c : cases) {
    SCOPED_TRACE(c.name);
    dktest::SampleInstallation install;
    dktest::TempDir work, storage;
    std::unique_ptr<dktest::FtpServer> server;
    if (c.place == FTP_STORAGE) server.reset(new dktest::FtpServer("normal", {{"dk", "pw"}}));
    const std::string root = c.place == HOST ? install.dumps() : server ? server->root() : storage.path();
    dktest::MakeFixtureRepo(root, c.layout);
    auto run = [&](std::vector<std::string> args, const std::string& session) {
      if (c.place != HOST) {
        args.insert(args.end(), {"--dump-storage", server ? "ftp://dk@127.0.0.1:" + std::to_string(server->port())
                                                          : storage.path()});
      }
      args.insert(args.end(), {"--debug", "--session-path=" + (work / session)});
      return dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()}, {"DUMP_STORAGE_PASSWD", "pw"}});
    };
    const std::vector<std::string> before = dktest::ListTree(root);
    const std::vector<std::string> snapshot = dktest::SnapshotTree(root);

    std::vector<std::string> dryArgs = c.args;
    dryArgs.push_back("--dry-run");
    const dktest::RunResult dry = run(dryArgs, "dry");
    ASSERT_EQ(0, dry.code) << dry.out;
    EXPECT_EQ(snapshot, dktest::SnapshotTree(root));
    const std::vector<std::string> printed = Lines(dry.out);
    ASSERT_FALSE(printed.empty());

    const dktest::RunResult real = run(c.args, "real");
    ASSERT_EQ(0, real.code) << real.out;
    EXPECT_EQ("", real.out);
    const std::vector<std::string> after = dktest::ListTree(root);
    std::set<std::string> removed(before.begin(), before.end());
    for (const std::string& entry : after) removed.erase(entry);
    std::set<std::string> removedNames;
    for (std::string entry : removed) {
      if (!entry.empty() && entry.back() == '/') entry.pop_back();
      removedNames.insert(entry);
    }
    EXPECT_EQ(removedNames, Covered(before, printed));
    EXPECT_EQ(LoggedRemovals(dktest::ReadFile(work / "real/migration.log"), before), printed);
  }
}

}  // namespace
