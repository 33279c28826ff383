// Dry runs of the deleting commands against the real runs on the same tree:
// the dry run changes nothing and prints the paths that the real run then
// removes, in the order it removes them. The real run removes nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

namespace {

using Words = std::vector<std::string>;

Words Lines(const std::string& text) {
  Words lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Whether the tree entry `entry` is one of `paths` or lies below one.
bool Under(std::string entry, const Words& paths) {
  if (!entry.empty() && entry.back() == '/') entry.pop_back();
  for (const std::string& path : paths) {
    if (entry == path || entry.compare(0, path.size() + 1, path + "/") == 0) return true;
  }
  return false;
}

// The removals the real run logged, in order: names that existed and were
// not already gone with a directory removed before them.
Words LoggedRemovals(const std::string& log, const Words& before) {
  Words removed;
  for (const std::string& line : Lines(log)) {
    for (const std::string mark : {"Transport: Delete file ", "Transport: Delete dir "}) {
      const size_t at = line.find(mark);
      if (at == std::string::npos) continue;
      const std::string path = line.substr(at + mark.size());
      const bool existed = std::count(before.begin(), before.end(), path) ||
                           std::count(before.begin(), before.end(), path + "/");
      if (existed && !Under(path, removed)) removed.push_back(path);
    }
  }
  return removed;
}

// Where the layout is built: the host's repository, a local storage named by
// --dump-storage, or an FTP storage (whose server removes empty directories
// only, so a sidecar goes entry by entry).
enum Place { HOST, LOCAL_STORAGE, FTP_STORAGE };

const char TWINS[] = R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200"},
    {"type": "client", "id": "c1", "label": "1001011200", "stem": "backup_info_x_info_1001011200"},
    {"type": "client", "id": "c1", "label": "1001021200"},
    {"type": "client", "id": "c1", "label": "1001031200", "status": ["OK"]}]})";
const char EXPORTS[] = R"({"exports": [{"name": "b_1001011200.tgz", "gzip": true, "parts": 3,
    "dump": {"type": "client", "id": "c1", "label": "1001011200"}}], "files": {"b_1001011200.tgz.1": "keep"}})";

TEST(DryRun, PrintsWhatTheRealRunDeletesInItsOrderAndDeletesNothing) {
  const Words rotateTwins = {"--rotate-dump", "--storage-structured", "--dump-specification",
                             "clients/c1/backup_info_1001031200.xml", "--dump-rotation", "1", "--guid",
                             "00000000-0000-4000-8000-000000000000"};
  const Words deleteExport = {"--delete-exported-dump", "--dump-file-specification", "b_1001011200.tgz"};
  auto c1 = [](Words names) {
    for (std::string& name : names) name = "clients/c1/" + name;
    return names;
  };
  const Words twins = c1({".discovered/backup_info_1001011200", ".discovered/backup_info_1001021200",
                          ".discovered/backup_info_x_info_1001011200", "backup_c1_1001011200.tgz",
                          "backup_c1_1001021200.tgz", "backup_info_1001011200.xml", "backup_info_1001021200.xml",
                          "backup_info_x_info_1001011200.xml"});
  const Words parts = {"b_1001011200.tgz", "b_1001011200.tgz1", "b_1001011200.tgz2"};
  struct Case {
    const char* name;
    const char* layout;
    Place place;
    Words args;
    Words printed;  // what the dry run prints, sorted: the order is the storage's
  };
  const std::vector<Case> cases = {
      // Twins of one prefix and label are rotated in rounds.
      {"structured rotation", TWINS, HOST, rotateTwins, twins},
      {"structured rotation on FTP", TWINS, FTP_STORAGE, rotateTwins, twins},
      // The newest export stays, with the other series; the split one goes
      // with all its parts.
      {"file rotation",
       R"({"files": {"b_1001011200.tgz": "1", "b_1001021200.tgz": "2", "b_1001021200.tgz1": "2b",
                     "b_1001031200.tgz": "3", "other_1001001200.tgz": "x"}})",
       LOCAL_STORAGE,
       {"--rotate-dump", "--dump-specification", "b_1001031200.tgz", "--dump-rotation", "1", "--guid", "g"},
       {"b_1001011200.tgz", "b_1001021200.tgz", "b_1001021200.tgz1"}},
      // The neighbour of the same object stays.
      {"dump deletion",
       R"({"dumps": [{"type": "client", "id": "c1", "label": "1001011200"},
                     {"type": "client", "id": "c1", "label": "1001021200"}]})",
       HOST,
       {"--delete-dump", "--dump-specification", "clients/c1/backup_info_1001011200.xml"},
       c1({".discovered/backup_info_1001011200", "backup_c1_1001011200.tgz", "backup_info_1001011200.xml"})},
      // Every part goes; a file that only looks like one stays.
      {"exported dump deletion", EXPORTS, LOCAL_STORAGE, deleteExport, parts},
      {"exported dump deletion on FTP", EXPORTS, FTP_STORAGE, deleteExport, parts},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dktest::SampleInstallation install;
    dktest::TempDir work, storage;
    std::unique_ptr<dktest::FtpServer> server;
    if (c.place == FTP_STORAGE) server.reset(new dktest::FtpServer("normal", {{"dk", "pw"}}));
    const std::string root = c.place == HOST ? install.dumps() : server ? server->root() : storage.path();
    dktest::MakeFixtureRepo(root, c.layout);
    auto run = [&](Words args, const std::string& session) {
      if (c.place != HOST) {
        args.push_back("--dump-storage=" +
                       (server ? "ftp://dk@127.0.0.1:" + std::to_string(server->port()) : storage.path()));
      }
      if (session == "dry") args.push_back("--dry-run");
      args.insert(args.end(), {"--debug", "--session-path=" + (work / session)});
      return dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()}, {"DUMP_STORAGE_PASSWD", "pw"}});
    };
    const Words before = dktest::ListTree(root);
    const Words snapshot = dktest::SnapshotTree(root);

    const dktest::RunResult dry = run(c.args, "dry");
    EXPECT_EQ(0, dry.code) << dry.out;
    const Words printed = Lines(dry.out);
    EXPECT_EQ(c.printed, dktest::Sorted(printed));
    EXPECT_EQ(snapshot, dktest::SnapshotTree(root));

    const dktest::RunResult real = run(c.args, "real");
    EXPECT_EQ(0, real.code) << real.out;
    EXPECT_EQ("", real.out);
    Words kept;
    for (const std::string& entry : before) {
      if (!Under(entry, printed)) kept.push_back(entry);
    }
    EXPECT_EQ(kept, dktest::ListTree(root));
    EXPECT_EQ(printed, LoggedRemovals(dktest::ReadFile(work / "real/migration.log"), before));
  }
}

}  // namespace
