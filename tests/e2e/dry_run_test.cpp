// Dry runs of the deleting commands against the real runs on the same tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

namespace {

using Words = std::vector<std::string>;

// What follows `mark` on each line of `text` that holds it.
Words Lines(const std::string& text, const std::string& mark = "^") {
  Words lines;
  std::istringstream in(text);
  std::smatch m;
  for (std::string line; std::getline(in, line);)
    if (std::regex_search(line, m, std::regex(mark))) lines.push_back(m.suffix());
  return lines;
}

// Whether the tree entry `entry` is one of `paths` or lies below one.
bool Under(std::string entry, const Words& paths) {
  if (entry.back() == '/') entry.pop_back();
  for (const std::string& path : paths)
    if (entry == path || entry.rfind(path + "/", 0) == 0) return true;
  return false;
}

// The dry run changes nothing and prints the paths that the real run then
// removes, in the order it removes them; the real run removes nothing else.
TEST(DryRun, PrintsWhatTheRealRunDeletesInItsOrderAndDeletesNothing) {
  const char* twins = R"({"dumps": [{"label": "1001011200"}, {"stem": "backup_info_x_info_1001011200"},
      {"label": "1001021200"}, {"label": "1001031200", "status": ["OK"]}]})";
  const Words rotateTwins = {"--rotate-dump", "--storage-structured", "--dump-specification",
                             "clients/c1/backup_info_1001031200.xml", "--dump-rotation", "1", "--guid",
                             "00000000-0000-4000-8000-000000000000"};
  const std::string c1 = "clients/c1/", side = c1 + ".discovered/backup_info_";
  const Words twinFiles = {side + "1001011200", side + "1001021200", side + "x_info_1001011200",
                           c1 + "backup_c1_1001011200.tgz", c1 + "backup_c1_1001021200.tgz",
                           c1 + "backup_info_1001011200.xml", c1 + "backup_info_1001021200.xml",
                           c1 + "backup_info_x_info_1001011200.xml"};
  const struct {
    const char* layout;
    std::string place;  // "host" repository, "local" or "ftp" storage (the server removes empty directories only)
    Words args;
    Words printed;  // what the dry run prints, sorted: the order is the storage's
  } cases[] = {
      // Twins of one prefix and label are rotated in rounds.
      {twins, "host", rotateTwins, twinFiles},
      {twins, "ftp", rotateTwins, twinFiles},
      // The newest export stays, with the other series; the split one goes with all its parts.
      {R"({"files": {"b_1001011200.tgz": "1", "b_1001021200.tgz": "2", "b_1001021200.tgz1": "2b",
                     "b_1001031200.tgz": "3", "other_1001001200.tgz": "x"}})",
       "local", {"--rotate-dump", "--dump-specification", "b_1001031200.tgz", "--dump-rotation", "1", "--guid", "g"},
       {"b_1001011200.tgz", "b_1001021200.tgz", "b_1001021200.tgz1"}},
      // The neighbour of the same object stays.
      {R"({"dumps": [{"label": "1001011200"}, {"label": "1001021200"}]})",
       "host", {"--delete-dump", "--dump-specification", "clients/c1/backup_info_1001011200.xml"},
       {side + "1001011200", c1 + "backup_c1_1001011200.tgz", c1 + "backup_info_1001011200.xml"}},
      // Every part goes; a file that only looks like one stays.
      {R"({"exports": [{"name": "b_1001011200.tgz", "gzip": true, "parts": 3}], "files": {"b_1001011200.tgz.1": "k"}})",
       "local", {"--delete-exported-dump", "--dump-file-specification", "b_1001011200.tgz"},
       {"b_1001011200.tgz", "b_1001011200.tgz1", "b_1001011200.tgz2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " on " + c.place);
    dktest::SampleInstallation install;
    dktest::TempDir work, storage;
    const dktest::FtpServer server("normal", {{"dk", "pw"}});
    const std::string root = c.place == "host" ? install.dumps() : c.place == "ftp" ? server.root() : storage.path();
    dktest::MakeFixtureRepo(root, c.layout);
    auto run = [&](Words args, const std::string& session) {
      if (c.place != "host")
        args.push_back("--dump-storage=" + (c.place == "ftp" ? "ftp://dk@127.0.0.1:" + std::to_string(server.port())
                                                             : root));
      if (session == "dry") args.push_back("--dry-run");
      args.insert(args.end(), {"--debug", "--session-path=" + (work / session)});
      const dktest::RunResult r =
          dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()}, {"DUMP_STORAGE_PASSWD", "pw"}});
      EXPECT_EQ(0, r.code) << r.out;
      return r.out;
    };
    const Words before = dktest::ListTree(root), snapshot = dktest::SnapshotTree(root);
    const Words printed = Lines(run(c.args, "dry"));
    EXPECT_EQ(c.printed, dktest::Sorted(printed));
    EXPECT_EQ(snapshot, dktest::SnapshotTree(root));

    EXPECT_EQ("", run(c.args, "real"));
    Words kept, removed;  // removed: the printed paths in the order the real run first logged their removal
    for (const std::string& entry : before)
      if (!Under(entry, printed)) kept.push_back(entry);
    EXPECT_EQ(kept, dktest::ListTree(root));
    for (const std::string& path :
         Lines(dktest::ReadFile(work / "real/migration.log"), "Transport: Delete (file|dir) "))
      if (std::count(printed.begin(), printed.end(), path) && !std::count(removed.begin(), removed.end(), path))
        removed.push_back(path);
    EXPECT_EQ(printed, removed);
  }
}

}  // namespace
