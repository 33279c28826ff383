// Progress lines of long operations in the session log: a throttled FTP
// download, the join it feeds, an upload and an import's extraction each log
// lines with the bytes done, the total where known and the rate, at the
// (test-shortened) interval; standard output never carries them.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

namespace {

const char INTERVAL_VARIABLE[] = "DUMPKEEP_TEST_PROGRESS_INTERVAL_MS";

class Progress : public ::testing::Test {
 protected:
  dktest::RunResult Run(std::vector<std::string> args, const std::string& intervalMs) {
    args.push_back("--session-path=" + (work / "session"));
    return dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()},
                                      {"DUMP_STORAGE_PASSWD_SRC", "pw"},
                                      {"DUMP_STORAGE_PASSWD_DST", "pw"},
                                      {"DUMP_STORAGE_PASSWD", "pw"},
                                      {INTERVAL_VARIABLE, intervalMs}});
  }
  // The log's progress lines of operations whose text begins with `what`,
  // read since the previous call.
  std::vector<std::string> Lines(const std::string& what) {
    const std::string log = dktest::ReadFile(work / "session/migration.log");
    std::vector<std::string> lines;
    std::istringstream in(log.substr(seen));
    for (std::string line; std::getline(in, line);) {
      const size_t at = line.find("Progress: " + what);
      if (at != std::string::npos) lines.push_back(line.substr(at));
    }
    return lines;
  }
  void Skip() { seen = dktest::ReadFile(work / "session/migration.log").size(); }

  dktest::SampleInstallation install;
  dktest::TempDir work;
  size_t seen = 0;
};

// Every line names `total` (none when it is -1, either when it is -2) and a
// rate, and the bytes done never shrink nor pass the total.
void ExpectWellFormed(const std::vector<std::string>& lines, long long total) {
  long long previous = -1;
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    const size_t colon = line.rfind(": ");
    ASSERT_NE(std::string::npos, colon);
    const std::string counts = line.substr(colon + 2);
    const long long done = std::stoll(counts);
    EXPECT_GE(done, previous);
    previous = done;
    if (total >= 0) {
      EXPECT_LE(done, total);
      EXPECT_NE(std::string::npos, counts.find(" of " + std::to_string(total) + " bytes ("));
    } else if (total == -1) {
      EXPECT_EQ(std::string::npos, counts.find(" of "));
    }
    EXPECT_EQ(" bytes/s", line.substr(line.size() - 8));
  }
}

TEST_F(Progress, ThrottledTransfersAndTheirJoinLogLinesAtTheInterval) {
  dktest::FtpServer slow("throttle", {{"dk", "pw"}});
  const std::string base = "ftp://dk@127.0.0.1:" + std::to_string(slow.port());
  // About 3 s each way at the server's pace (it sends its first 4 MiB at once).
  const long long size = 8 << 20;
  std::string data(static_cast<size_t>(size), '\0');
  std::mt19937 gen(7);
  for (char& c : data) c = static_cast<char>(gen() & 0xFF);
  dktest::WriteFile(slow.root() + "/in/backup_1001011200.tar", data);

  dktest::RunResult down = Run({"--export-file-as-file", "--use-ftp-passive-mode", "--file-from",
                                base + "/in/backup_1001011200.tar", "--file-to", work / "dst/slow.tar"},
                               "200");
  ASSERT_EQ(0, down.code) << down.out;
  EXPECT_EQ("", down.out);
  const std::vector<std::string> downloads = Lines("download of ");
  // libcurl reports a stalled transfer once a second.
  EXPECT_GE(downloads.size(), 2u);
  ExpectWellFormed(downloads, size);
  const std::vector<std::string> joins = Lines("join of ");
  EXPECT_GE(joins.size(), 5u);
  ExpectWellFormed(joins, -2);
  Skip();

  dktest::RunResult up =
      Run({"--export-file-as-file", "--file-from", work / "dst/slow.tar", "--file-to", base + "/in/up.tar"}, "200");
  ASSERT_EQ(0, up.code) << up.out;
  EXPECT_EQ("", up.out);
  const std::vector<std::string> uploads = Lines("upload to ");
  EXPECT_GE(uploads.size(), 2u);
  ExpectWellFormed(uploads, size);
}

TEST_F(Progress, ImportExtractionLogsTheBytesWritten) {
  dktest::TempDir incoming;
  dktest::MakeFixtureRepo(incoming.path(), R"({"exports": [{"name": "backup_1001011200.tar",
      "dump": {"type": "client", "id": "c1", "label": "1001011200",
               "contents": [{"path": ".", "files": [{"name": "backup_c1_1001011200.tgz", "size": 67108864}]}]}}]})");
  dktest::RunResult r =
      Run({"--import-file-as-dump", "--dump-file-specification", incoming / "backup_1001011200.tar"}, "2");
  ASSERT_EQ(0, r.code) << r.out;
  EXPECT_EQ("clients/c1/backup_info_1001011200.xml\n", r.out);
  const std::vector<std::string> lines = Lines("extraction of ");
  EXPECT_GE(lines.size(), 1u);
  ExpectWellFormed(lines, -1);
}

}  // namespace
