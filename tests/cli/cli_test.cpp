// The built binary run end to end on a sample installation.
#include <sys/stat.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

using dktest::RunDumpkeep;

class Cli : public ::testing::Test {
 protected:
  std::map<std::string, std::string> Env() const { return {{"OVR_CONF_DIR", install.confDir()}}; }
  dktest::RunResult Run(std::vector<std::string> args) {
    args.push_back("--session-path=" + session());
    return RunDumpkeep(args, Env());
  }
  std::string session() const { return work / "session"; }
  std::string Log() const { return dktest::ReadFile(session() + "/migration.log"); }

  dktest::SampleInstallation install;
  dktest::TempDir work;
};

TEST_F(Cli, NoArgumentsPrintsHelpAndSetsUpTheSessionInTheCurrentDirectory) {
  dktest::RunResult r = RunDumpkeep({}, Env(), work.path());
  EXPECT_EQ(0, r.code);
  EXPECT_EQ(0u, r.out.find("--get-dump-list "));
  EXPECT_TRUE(r.err.empty()) << r.err;
  struct stat st;
  ASSERT_EQ(0, stat((work / "archives").c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  const std::string log = dktest::ReadFile(work / "migration.log");
  EXPECT_NE(std::string::npos, log.find("dumpkeep started : " + dktest::DumpkeepBinary() + "\n"));
  EXPECT_NE(std::string::npos, log.find("dumpkeep finished. Exit code: 0"));
}

TEST_F(Cli, HelpWinsOverCommandsAndCreatesNoSession) {
  dktest::RunResult r = Run({"--get-dump-list", "--help"});
  EXPECT_EQ(1, r.code);
  EXPECT_FALSE(dktest::Exists(session()));
  // Every entry is padded to the longest one ("--get-dumps-storage-credentials", 31 characters).
  EXPECT_EQ(0u, r.out.find("--get-dump-list" + std::string(16, ' ') + "  " +
                           "Get local repository files list. Available options --type, --guid, --id.\n\n"
                           "--get-ftp-dump-list" + std::string(12, ' ') + "  " +
                           "Get ftp repository files list. Avaiilable option --mask.\n\n"));
  EXPECT_NE(std::string::npos, r.out.find("\n\n--id=arg (=-1)" + std::string(17, ' ') + "  Database ID"));
  EXPECT_NE(std::string::npos, r.out.find("\n\n--name=arg (=)" + std::string(17, ' ') + "  Name of object.  Used"));
  EXPECT_NE(std::string::npos, r.out.find("\n\n--mask=arg (=)" + std::string(17, ' ') + "  Regex to search"));
  EXPECT_NE(std::string::npos, r.out.find("\n\n--session-path=arg (=.)" + std::string(8, ' ') + "  Session path.\n\n"));
  EXPECT_NE(std::string::npos, r.out.find("\n\n--storage-structured" + std::string(11, ' ') + "  Used with"));
  EXPECT_EQ(std::string::npos, r.out.find("\n--export-dump-as-file"));
  EXPECT_EQ(std::string::npos, r.out.find("Allowed"));
  EXPECT_EQ(r.out.size() - 2, r.out.rfind("Log debug.\n\n") + 10);
}

TEST_F(Cli, OptionErrorsAreReportedWithTheirExitCodes) {
  dktest::RunResult missing = Run({"--get-dump-list", "--type", "client"});
  EXPECT_EQ("Missing option guid\n", missing.out);
  EXPECT_EQ(1, missing.code);
  EXPECT_NE(std::string::npos, Log().find("dumpkeep finished. Exit code: 1"));

  dktest::RunResult storage = Run({"--get-ftp-dump-list"});
  EXPECT_EQ("Missing option dump-storage\n", storage.out);
  EXPECT_EQ(1, storage.code);

  for (auto args : std::vector<std::vector<std::string>>{{"--no-such-option"},
                                                          {"--rotate-dump", "--dump-rotation", "many"}}) {
    dktest::RunResult r = Run(args);
    EXPECT_EQ(1, r.code) << args[0];
    EXPECT_EQ(0u, r.out.find("Error: ")) << r.out;
  }
  // A bare word (a command without its dashes, a stray token after a flag)
  // is refused before anything runs.
  dktest::Shell("rm -rf '" + session() + "'");
  for (auto args : std::vector<std::vector<std::string>>{{"get-dump-list"},
                                                          {"--get-dumps-storage-credentials", "junk"},
                                                          {"--storage-type", "local", "junk", "--help"}}) {
    dktest::RunResult r = Run(args);
    EXPECT_EQ(1, r.code) << args.back();
    EXPECT_EQ("Error: too many positional options have been specified on the command line\n", r.out);
    EXPECT_FALSE(dktest::Exists(session()));
  }

  dktest::RunResult zero = Run({"--rotate-dump", "--dump-rotation", "0", "--guid", "g", "--dump-specification",
                                "b_1001011200.tgz"});
  EXPECT_EQ("'dump-rotation' has unexpected value '0'\n", zero.out);
  EXPECT_EQ(1, zero.code);
}

// On a host without the "ovradm" account, the look-up of its group reports
// that on the console: only a run that makes its session directories may do
// so, and a run that finds them in place prints its result alone.
TEST_F(Cli, AdministrativeAccountIsLookedUpOnlyToCreateTheSession) {
  const std::string passwd = work / "passwd";
  dktest::Shell("grep -v '^ovradm:' /etc/passwd > '" + passwd + "'");
  auto runWithoutAccount = [&] {
    return dktest::Run("unshare", {"-m", "/bin/sh", "-c", "mount --bind \"$0\" /etc/passwd && exec \"$@\"", passwd,
                                   dktest::DumpkeepBinary(), "--get-dumps-storage-credentials",
                                   "--session-path=" + session()},
                       Env());
  };
  const std::string document =
      "<dumps-storage-credentials>\n <root-dir>" + install.dumps() + "</root-dir>\n</dumps-storage-credentials>\n";
  dktest::RunResult created = runWithoutAccount();
  ASSERT_EQ(0, created.code) << created.err;
  EXPECT_EQ(0u, created.out.find("Unable to find uid for user ovradm")) << created.out;
  dktest::RunResult found = runWithoutAccount();
  EXPECT_EQ(0, found.code) << found.err;
  EXPECT_EQ(document, found.out);
  EXPECT_EQ("", found.err);
}

// The session path reaches the log set-up as data: whatever bytes it holds,
// the log is <path>/migration.log with its debug companion beside it.
TEST_F(Cli, LogLiesInTheSessionWhateverItsPathHolds) {
  for (const std::string name : {"s#x", "${HOME}", "nl\nlog4cpp.rootCategory=FATAL"}) {
    dktest::TempDir dir;
    const std::string path = dir / name;
    dktest::RunResult r = RunDumpkeep({"--get-dumps-storage-credentials", "--debug", "--session-path", path}, Env());
    EXPECT_EQ(0, r.code) << name;
    std::vector<std::string> expected{name + "/", name + "/archives/", name + "/migration.log",
                                      name + "/migration.log.debug"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, dktest::ListTree(dir.path())) << name;
    EXPECT_NE(std::string::npos, dktest::ReadFile(path + "/migration.log").find("dumpkeep finished. Exit code: 0"))
        << name;
  }
}

TEST_F(Cli, CredentialsDocumentNamesTheLocalRoot) {
  dktest::RunResult r = Run({"--get-dumps-storage-credentials"});
  EXPECT_EQ(0, r.code);
  EXPECT_EQ("<dumps-storage-credentials>\n <root-dir>" + install.dumps() + "</root-dir>\n</dumps-storage-credentials>\n",
            r.out);
  for (const std::string type : {"ftp", "Local"}) {
    dktest::RunResult bad = Run({"--get-dumps-storage-credentials", "--storage-type", type});
    EXPECT_EQ("'storage-type' has unexpected value '" + type + "'\n", bad.out);
    EXPECT_EQ(1, bad.code);
  }
  install.SetConfig("DUMP_D", install.root() + "/special & <dumps>");
  dktest::RunResult escaped = Run({"--get-dumps-storage-credentials"});
  EXPECT_NE(std::string::npos, escaped.out.find("<root-dir>" + install.root() + "/special &amp; &lt;dumps&gt;</root-dir>"));
}

TEST_F(Cli, StartRecordQuotesArgumentsAndDebugModeAddsDetail) {
  Run({"--get-dumps-storage-credentials", "--name=a b", "--mask", "", "--verbose"});
  std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("--get-dumps-storage-credentials --name=a\\ b --mask '' --verbose"));
  EXPECT_EQ(std::string::npos, log.find("Transport: "));

  dktest::RunResult r = Run({"--get-ftp-dump-list", "--dump-storage", install.dumps(), "--debug"});
  EXPECT_EQ(0, r.code) << r.out;
  log = Log();
  EXPECT_NE(std::string::npos, log.find("Transport: Get repository transport " + install.dumps()));
}

TEST_F(Cli, TransportNotFoundMapsTo127) {
  dktest::RunResult r = Run({"--get-ftp-dump-list", "--dump-storage", install.root() + "/missing"});
  EXPECT_EQ(127, r.code);
  EXPECT_EQ("Transport error: Dir is not exists \n", r.out);
}

}  // namespace
