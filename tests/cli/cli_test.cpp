// The built binary run end to end on a sample installation.
#include "tests/support/test_support.h"

struct Cli : ::testing::Test {
  dktest::SampleInstallation install;
  dktest::TempDir work;
  const std::map<std::string, std::string> env{{"OVR_CONF_DIR", install.confDir()}};
  const std::string session = work / "session";
  dktest::RunResult Run(std::vector<std::string> args) {
    args.push_back("--session-path=" + session);
    return dktest::RunDumpkeep(args, env);
  }
};

// Help without arguments (exit 0, session in the current directory) or with --help (exit 1, no session).
TEST_F(Cli, HelpIsPrintedWithoutArgumentsOrWhenAskedFor) {
  const dktest::RunResult bare = dktest::RunDumpkeep({}, env, work.path());
  EXPECT_EQ(0, bare.code);
  EXPECT_EQ("", bare.err);
  EXPECT_EQ((std::vector<std::string>{"archives/", "migration.log", "migration.log.debug"}),
            dktest::ListTree(work.path()));
  const dktest::RunResult r = Run({"--get-dump-list", "--help"});
  EXPECT_EQ(1, r.code);
  EXPECT_EQ(bare.out, r.out);
  EXPECT_FALSE(dktest::Exists(session));
  auto entry = [](const std::string& option, const std::string& text) {
    return option + std::string(33 - option.size(), ' ') + text;
  };
  EXPECT_EQ(0u, r.out.find(entry("--get-dump-list", "Get local repository files list. Available options --type, --guid"
                                                    ", --id.\n\n") + entry("--get-ftp-dump-list", "Get ftp "
                                                    "repository files list. Avaiilable option --mask.\n\n")));
  for (const std::string& e : {entry("--id=arg (=-1)", "Database ID"), entry("--session-path=arg (=.)", "Session "
                               "path.\n\n"), entry("--storage-structured", "Used with")}) {
    EXPECT_NE(std::string::npos, r.out.find("\n\n" + e)) << e;
  }
  EXPECT_EQ(std::string::npos, r.out.find("\n--export-dump-as-file"));
  EXPECT_EQ(std::string::npos, r.out.find("Allowed"));
  EXPECT_EQ(r.out.size() - 2, r.out.rfind("Log debug.\n\n") + 10);
}

// A refused command line prints one message and its exit code; a parser refusal ("Error: ") makes no session.
TEST_F(Cli, OptionErrorsAreReportedWithTheirExitCodes) {
  struct { std::vector<std::string> args; int code; std::string out; } cases[] = {
      {{"--get-dump-list", "--type", "client"}, 1, "Missing option guid\n"},
      {{"--get-ftp-dump-list", "--dump-storage", install.root() + "/m"}, 127, "Transport error: Dir is not exists \n"},
      {{"--rotate-dump", "--dump-rotation", "0", "--guid", "g", "--dump-specification", "b_1001011200.tgz"}, 1,
       "'dump-rotation' has unexpected value '0'\n"},
      {{"--get-dumps-storage-credentials", "--storage-type", "ftp"}, 1, "'storage-type' has unexpected value 'ftp'\n"},
      {{"--no-such-option"}, 1, "Error: unrecognised option '--no-such-option'\n"},
      {{"--rotate-dump", "--dump-rotation", "many"}, 1,
       "Error: the argument ('many') for option '--dump-rotation' is invalid\n"},
      {{"--storage-type", "local", "junk", "--help"}, 1,
       "Error: too many positional options have been specified on the command line\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    dktest::Shell("rm -rf '" + session + "'");
    const dktest::RunResult r = Run(c.args);
    EXPECT_EQ(c.code, r.code);
    EXPECT_EQ(c.out, r.out);
    const bool parsed = c.out.compare(0, 7, "Error: ") != 0;
    EXPECT_EQ(parsed, dktest::Exists(session));
    const std::string finished = "dumpkeep finished. Exit code: " + std::to_string(c.code);
    EXPECT_TRUE(!parsed || dktest::ReadFile(session + "/migration.log").find(finished) != std::string::npos);
  }
}

// Credentials name the local root as XML text; a missing "ovradm" account is reported once, with the session.
TEST_F(Cli, CredentialsDocumentNamesTheLocalRoot) {
  auto credentials = [](const std::string& root) {
    return "<dumps-storage-credentials>\n <root-dir>" + root + "</root-dir>\n</dumps-storage-credentials>\n";
  };
  const std::string passwd = work / "passwd";
  dktest::Shell("grep -v '^ovradm:' /etc/passwd > '" + passwd + "'");
  auto runWithoutAccount = [&] {
    return dktest::Run("unshare", {"-m", "/bin/sh", "-c", "mount --bind \"$0\" /etc/passwd && exec \"$@\"", passwd,
                                   dktest::DumpkeepBinary(), "--get-dumps-storage-credentials",
                                   "--session-path=" + session}, env);
  };
  dktest::RunResult r = runWithoutAccount();
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_EQ(0u, r.out.find("Unable to find uid for user ovradm")) << r.out;
  r = runWithoutAccount();
  EXPECT_EQ(0, r.code) << r.err;
  EXPECT_EQ(credentials(install.dumps()), r.out);
  EXPECT_EQ("", r.err);
  install.SetConfig("DUMP_D", install.root() + "/special & <dumps>");
  r = Run({"--get-dumps-storage-credentials", "--storage-type", "local"});
  EXPECT_EQ(0, r.code);
  EXPECT_EQ(credentials(install.root() + "/special &amp; &lt;dumps&gt;"), r.out);
}

// The log lies in the session whatever its path holds, with the quoted command line, details with --debug only.
TEST_F(Cli, LogRecordsTheRunInTheSessionWhateverItsPathHolds) {
  for (const std::string name : {"s#x", "${HOME}", "nl\nlog4cpp.rootCategory=FATAL"}) {
    for (const bool debug : {false, true}) {
      SCOPED_TRACE(name + (debug ? " --debug" : ""));
      dktest::TempDir dir;
      std::vector<std::string> args{"--get-ftp-dump-list", "--dump-storage", install.dumps(), "--name=a b",
                                    "--mask", "", "--session-path", dir / name};
      if (debug) args.push_back("--debug");
      EXPECT_EQ(0, dktest::RunDumpkeep(args, env).code);
      const std::string log = name + "/migration.log", text = dktest::ReadFile(dir / log);
      EXPECT_EQ(dktest::Sorted({name + "/", name + "/archives/", log, log + ".debug"}), dktest::ListTree(dir.path()));
      EXPECT_NE(std::string::npos, text.find("dumpkeep started : " + dktest::DumpkeepBinary() +
                                             " --get-ftp-dump-list --dump-storage " + install.dumps() +
                                             " --name=a\\ b --mask '' --session-path "));
      EXPECT_EQ(debug, text.find("Transport: Get repository transport " + install.dumps()) != std::string::npos);
      EXPECT_NE(std::string::npos, text.find("dumpkeep finished. Exit code: 0"));
    }
  }
}
