// The built binary run end to end on a sample installation.
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
  static std::string Credentials(const std::string& root) {
    return "<dumps-storage-credentials>\n <root-dir>" + root + "</root-dir>\n</dumps-storage-credentials>\n";
  }

  dktest::SampleInstallation install;
  dktest::TempDir work;
};

// Without arguments the help is printed (exit 0, session in the current
// directory); --help wins over a command (exit 1, no session). Entries are
// padded to the longest ("--get-dumps-storage-credentials"); hidden ones left out.
TEST_F(Cli, HelpIsPrintedWithoutArgumentsOrWhenAskedFor) {
  dktest::RunResult r = RunDumpkeep({}, Env(), work.path());
  EXPECT_EQ(0, r.code);
  EXPECT_EQ("", r.err);
  EXPECT_EQ((std::vector<std::string>{"archives/", "migration.log", "migration.log.debug"}),
            dktest::ListTree(work.path()));
  const std::string log = dktest::ReadFile(work / "migration.log");
  EXPECT_NE(std::string::npos, log.find("dumpkeep started : " + dktest::DumpkeepBinary() + "\n"));
  EXPECT_NE(std::string::npos, log.find("dumpkeep finished. Exit code: 0"));
  const std::string help = r.out;
  r = Run({"--get-dump-list", "--help"});
  EXPECT_EQ(1, r.code);
  EXPECT_EQ(help, r.out);
  EXPECT_FALSE(dktest::Exists(session()));
  EXPECT_EQ(0u, r.out.find("--get-dump-list" + std::string(16, ' ') + "  " +
                           "Get local repository files list. Available options --type, --guid, --id.\n\n"
                           "--get-ftp-dump-list" + std::string(12, ' ') + "  " +
                           "Get ftp repository files list. Avaiilable option --mask.\n\n"));
  const std::string pad17(17, ' ');
  for (const std::string& entry :
       {"--id=arg (=-1)" + pad17 + "  Database ID", "--name=arg (=)" + pad17 + "  Name of object.  Used",
        "--mask=arg (=)" + pad17 + "  Regex to search", "--session-path=arg (=.)" + std::string(8, ' ') +
        "  Session path.\n\n", "--storage-structured" + std::string(11, ' ') + "  Used with"}) {
    EXPECT_NE(std::string::npos, r.out.find("\n\n" + entry)) << entry;
  }
  EXPECT_EQ(std::string::npos, r.out.find("\n--export-dump-as-file"));
  EXPECT_EQ(std::string::npos, r.out.find("Allowed"));
  EXPECT_EQ(r.out.size() - 2, r.out.rfind("Log debug.\n\n") + 10);
}

// A refused command line prints one message and exits with its code. What the
// parser refuses (also a bare word) ends the run before the session is made.
TEST_F(Cli, OptionErrorsAreReportedWithTheirExitCodes) {
  const std::string positional = "Error: too many positional options have been specified on the command line\n";
  struct { std::vector<std::string> args; int code; std::string out; bool session; } cases[] = {
      {{"--get-dump-list", "--type", "client"}, 1, "Missing option guid\n", true},
      {{"--get-ftp-dump-list"}, 1, "Missing option dump-storage\n", true},
      {{"--get-ftp-dump-list", "--dump-storage", install.root() + "/missing"}, 127,
       "Transport error: Dir is not exists \n", true},
      {{"--rotate-dump", "--dump-rotation", "0", "--guid", "g", "--dump-specification", "b_1001011200.tgz"}, 1,
       "'dump-rotation' has unexpected value '0'\n", true},
      {{"--get-dumps-storage-credentials", "--storage-type", "ftp"}, 1, "'storage-type' has unexpected value 'ftp'\n",
       true},
      {{"--get-dumps-storage-credentials", "--storage-type", "Local"}, 1,
       "'storage-type' has unexpected value 'Local'\n", true},
      {{"--no-such-option"}, 1, "Error: unrecognised option '--no-such-option'\n", false},
      {{"--rotate-dump", "--dump-rotation", "many"}, 1,
       "Error: the argument ('many') for option '--dump-rotation' is invalid\n", false},
      {{"get-dump-list"}, 1, positional, false},
      {{"--get-dumps-storage-credentials", "junk"}, 1, positional, false},
      {{"--storage-type", "local", "junk", "--help"}, 1, positional, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    dktest::Shell("rm -rf '" + session() + "'");
    dktest::RunResult r = Run(c.args);
    EXPECT_EQ(c.code, r.code);
    EXPECT_EQ(c.out, r.out);
    if (c.session) {
      EXPECT_NE(std::string::npos, Log().find("dumpkeep finished. Exit code: " + std::to_string(c.code)));
    } else {
      EXPECT_FALSE(dktest::Exists(session()));
    }
  }
}

// The credentials document names the local root as XML text. Without the
// "ovradm" account only a run making its session reports that on the console.
TEST_F(Cli, CredentialsDocumentNamesTheLocalRoot) {
  const std::string passwd = work / "passwd";
  dktest::Shell("grep -v '^ovradm:' /etc/passwd > '" + passwd + "'");
  auto runWithoutAccount = [&] {
    return dktest::Run("unshare", {"-m", "/bin/sh", "-c", "mount --bind \"$0\" /etc/passwd && exec \"$@\"", passwd,
                                   dktest::DumpkeepBinary(), "--get-dumps-storage-credentials",
                                   "--session-path=" + session()},
                       Env());
  };
  dktest::RunResult r = runWithoutAccount();
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_EQ(0u, r.out.find("Unable to find uid for user ovradm")) << r.out;
  r = runWithoutAccount();
  EXPECT_EQ(0, r.code) << r.err;
  EXPECT_EQ(Credentials(install.dumps()), r.out);
  EXPECT_EQ("", r.err);
  install.SetConfig("DUMP_D", install.root() + "/special & <dumps>");
  r = Run({"--get-dumps-storage-credentials", "--storage-type", "local"});
  EXPECT_EQ(0, r.code);
  EXPECT_EQ(Credentials(install.root() + "/special &amp; &lt;dumps&gt;"), r.out);
}

// The log lies in the session whatever bytes its path holds (it reaches the
// log set-up as data), records the command line shell-quoted, and holds the
// details of the work (here the transport) with --debug only.
TEST_F(Cli, LogRecordsTheRunInTheSessionWhateverItsPathHolds) {
  for (const std::string name : {"s#x", "${HOME}", "nl\nlog4cpp.rootCategory=FATAL"}) {
    for (const bool debug : {false, true}) {
      SCOPED_TRACE(name + (debug ? " --debug" : ""));
      dktest::TempDir dir;
      std::vector<std::string> args{"--get-ftp-dump-list", "--dump-storage", install.dumps(), "--name=a b",
                                    "--mask", "", "--session-path", dir / name};
      if (debug) args.push_back("--debug");
      EXPECT_EQ(0, RunDumpkeep(args, Env()).code);
      const std::string log = name + "/migration.log";
      EXPECT_EQ(dktest::Sorted({name + "/", name + "/archives/", log, log + ".debug"}),
                dktest::ListTree(dir.path()));
      const std::string text = dktest::ReadFile(dir / log);
      EXPECT_NE(std::string::npos, text.find("--get-ftp-dump-list --dump-storage " + install.dumps() +
                                            " --name=a\\ b --mask '' --session-path "));
      EXPECT_EQ(debug, text.find("Transport: Get repository transport " + install.dumps()) != std::string::npos);
      EXPECT_NE(std::string::npos, text.find("dumpkeep finished. Exit code: 0"));
    }
  }
}

}  // namespace
