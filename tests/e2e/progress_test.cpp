// Progress lines of long operations in the session log, at the (test-shortened)
// interval, with the bytes done, the total where known and the rate; never on standard output.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

namespace dktest {
namespace {

const size_t npos = std::string::npos;

class Progress : public ::testing::Test {
 protected:
  // Runs with the progress interval `ms` and its own session; returns the exit code and standard output.
  std::string Run(std::vector<std::string> args, const std::string& ms, const std::string& session) {
    args.push_back("--session-path=" + (work / session));
    const RunResult r = RunDumpkeep(
        args, {{"OVR_CONF_DIR", install.confDir()}, {"DUMP_STORAGE_PASSWD", "pw"}, {"DUMP_STORAGE_PASSWD_SRC", "pw"},
               {"DUMP_STORAGE_PASSWD_DST", "pw"}, {"DUMPKEEP_TEST_PROGRESS_INTERVAL_MS", ms}});
    return std::to_string(r.code) + " " + r.out;
  }
  // The session's progress lines of operations whose text begins with `what`:
  // at least `least` of them, each naming `total` (none when -1, either when -2)
  // and a rate, the bytes done never shrinking nor passing the total.
  void ExpectLines(const std::string& session, const std::string& what, size_t least, long long total) {
    std::istringstream log(ReadFile(work / (session + "/migration.log")));
    long long previous = -1;
    size_t count = 0;
    for (std::string line; std::getline(log, line);) {
      if (line.find("Progress: " + what) == npos) continue;
      SCOPED_TRACE(line);
      ++count;
      const std::string counts = line.substr(line.rfind(": ") + 2);
      const long long done = std::stoll(counts);
      EXPECT_GE(done, previous);
      previous = done;
      EXPECT_TRUE(total < 0 || (done <= total && counts.find(" of " + std::to_string(total) + " bytes (") != npos));
      EXPECT_TRUE(total != -1 || counts.find(" of ") == npos);
      EXPECT_EQ(" bytes/s", line.substr(line.size() - 8));
    }
    EXPECT_GE(count, least) << what;
  }

  SampleInstallation install;
  TempDir work;
};

// A throttled download, the join it feeds and an upload back each log lines
// at the interval (libcurl reports a stalled transfer once a second).
TEST_F(Progress, ThrottledTransfersAndTheirJoinLogLinesAtTheInterval) {
  FtpServer slow("throttle", {{"dk", "pw"}});
  const std::string base = "ftp://dk@127.0.0.1:" + std::to_string(slow.port());
  // About 3 s each way at the server's pace (it sends its first 4 MiB at once).
  const long long size = 8 << 20;
  Shell("cd '" + slow.root() + "' && mkdir in && head -c 8388608 /dev/urandom > in/backup_1001011200.tar");
  EXPECT_EQ("0 ", Run({"--export-file-as-file", "--use-ftp-passive-mode", "--file-from",
                     base + "/in/backup_1001011200.tar", "--file-to", work / "dst/slow.tar"}, "200", "down"));
  ExpectLines("down", "download of ", 2, size);
  ExpectLines("down", "join of ", 5, -2);
  EXPECT_EQ("0 ", Run({"--export-file-as-file", "--file-from", work / "dst/slow.tar", "--file-to", base + "/in/up.tar"},
                    "200", "up"));
  ExpectLines("up", "upload to ", 2, size);
}

// An import's extraction logs the bytes written, without a total.
TEST_F(Progress, ImportExtractionLogsTheBytesWritten) {
  TempDir incoming;
  MakeFixtureRepo(incoming.path(), R"({"exports": [{"name": "backup_1001011200.tar",
      "dump": {"type": "client", "id": "c1", "label": "1001011200",
               "contents": [{"path": ".", "files": [{"name": "backup_c1_1001011200.tgz", "size": 67108864}]}]}}]})");
  EXPECT_EQ("0 clients/c1/backup_info_1001011200.xml\n",
            Run({"--import-file-as-dump", "--dump-file-specification", incoming / "backup_1001011200.tar"}, "2", "s"));
  ExpectLines("s", "extraction of ", 1, -1);
}

}  // namespace
}  // namespace dktest
