#include "exec/exec_cmd.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "log/debug_log.h"
#include "log/session.h"
#include "tests/support/test_support.h"

using namespace ovrin;

// `size` bytes repeating `pattern`, so truncation or reordering shows.
static std::string Pattern(const std::string& pattern, size_t size) {
  std::string text;
  while (text.size() < size) text += pattern;
  return text.substr(0, size);
}

// exec(nothrow) gives the status (-1 killed or reaped elsewhere, 1 no start) and every byte of both outputs.
TEST(ExecCmd, NothrowRunReturnsTheStatusAndKeepsTheOutput) {
  auto failed = [](const std::string& why, int e) {
    return "forkExecvPipes: execv() failed: " + why + "\n\nSystem error " + std::to_string(e) + ": " + why + "\n";
  };
  const std::string noFile = failed("No such file or directory", 2), denied = failed("Permission denied", 13);
  struct { std::string program, script; int code; std::string out, err; size_t input; bool ignoreSigchld; } cases[] = {
      {"sh", "echo out; echo err >&2; exit 42", 42, "out\n", "err\n", 0, false},
      {"sh", "yes 0123456 | head -c 4000000 >&2; cat; yes 0123456 | head -c 10 >&2", 0, Pattern("x", 5 << 20),
       Pattern("0123456\n", 4000000) + "0123456\n01", 5 << 20, false},
      {"sh", "printf done", 0, "done", "", 4 << 20, false},
      {"sh", "echo before; kill -KILL $$; echo after", -1, "before\n", "", 0, false},
      {"sh", "echo ran", -1, "ran\n", "", 0, true},
      {"/nonexistent/dumpkeep-tool", "", 1, noFile, noFile, 0, false},
      {"dumpkeep-no-such-program-anywhere", "", 1, noFile, noFile, 0, false},
      {"/dev/null", "", 1, denied, denied, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program + " " + c.script);
    ExecCmd cmd(c.program);
    if (c.program == "sh") cmd << "-c" << c.script;
    cmd.setInput(Pattern("x", c.input));
    struct sigaction chld = {}, previous = {};
    chld.sa_handler = c.ignoreSigchld ? SIG_IGN : SIG_DFL;
    ASSERT_EQ(0, sigaction(SIGCHLD, &chld, &previous));
    EXPECT_EQ(c.code, cmd.exec(std::nothrow));
    sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_EQ(c.code, cmd.returnCode());
    EXPECT_TRUE(c.out == cmd.out() && c.err == cmd.err()) << cmd.out().size() << " " << cmd.out().substr(0, 300)
                                                          << "|" << cmd.err().size() << " " << cmd.err().substr(0, 300);
  }
}

// exec() raises for any status but 0 naming the quoted command line, the code and each non-empty stream.
TEST(ExecCmd, FailureMessageHoldsCommandLineCodeAndOutputBlocks) {
  struct { std::string script, input, what; } cases[] = {
      {"cat; printf 'err\\n' >&2; exit 255", "in",
       "Execution of sh -c cat\\;\\ printf\\ \\'err\\\\n\\'\\ \\>\\&2\\;\\ exit\\ 255 failed with return code 255.\n"
       "Stdin is\nin\nStdout is\nin\nStderr is\nerr\n"},
      {"kill -TERM $$", "", "Execution of sh -c kill\\ -TERM\\ \\$\\$ failed with return code -1.\n"}};
  for (const auto& c : cases) {
    ExecCmd cmd("sh");
    cmd << "-c" << c.script;
    cmd.setInput(c.input);
    EXPECT_EQ(c.what, dktest::ThrownText<Exc<&ExecCmd::Failed>>([&] { cmd.exec(); })) << c.script;
  }
}

// Arguments reach the program byte for byte, quoted only for display; a copy grows its own arguments.
TEST(ExecCmd, ArgumentsArePassedUnchangedAndQuotedOnlyForDisplay) {
  ExecCmd cmd("printf");
  cmd << "[%s]" << std::string("a b$c") << "" << "it's\nhere";
  ExecCmd copy(cmd);
  std::string expected = "[a b$c][][it's\nhere]";
  for (int i = 0; i < 300; ++i) {
    copy << std::to_string(i);
    expected += "[" + std::to_string(i) + "]";
  }
  EXPECT_EQ("printf \\[%s] a\\ b\\$c '' it\\'s'\n'here", cmd.getString());
  EXPECT_EQ(0, copy.exec());
  EXPECT_EQ(expected, copy.out());
}

// The child gets the command's environment over the inherited one, descriptors 0-2 only, and its user.
TEST(ExecCmd, ChildGetsEnvironmentDescriptorsAndUserOfTheCommand) {
  ASSERT_EQ(0u, geteuid()) << "switching users needs root";
  ASSERT_EQ(0, setenv("DK_EXEC_INHERITED", "kept", 1));
  const int fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 0);
  ExecCmd cmd("sh");
  cmd << "-c" << "printf '%s|%s|%s|' \"$DK_EXEC_A\" \"${DK_EXEC_B-unset}\" \"$DK_EXEC_INHERITED\"; for f in 0 1 2 " +
                     std::to_string(fd) + "; do [ ! -e /proc/$$/fd/$f ] || printf '%s ' $f; done; id -u";
  cmd.setEnv("DK_EXEC_A", "first");
  cmd.setEnv("DK_EXEC_A", "value with spaces");
  cmd.setEnv("DK_EXEC_B", "");
  cmd.setUid(65534);
  cmd.exec();
  close(fd);
  unsetenv("DK_EXEC_INHERITED");
  EXPECT_EQ("value with spaces||kept|0 1 2 65534\n", cmd.out());
  EXPECT_EQ(nullptr, getenv("DK_EXEC_A"));
}

// Every logged run writes environment (exec() only), command line, outcome and output to the debug log.
TEST(LogExecCmd, RunsAreWrittenToTheDebugLog) {
  dktest::SampleInstallation installation;
  {
    SessionLifetimeController session(installation.root() + "/session");
    DebugLogLifetimeController log(false, false);
    tLogExecCmd ok("sh"), failing("sh"), raising("false");
    ok << "-c" << "printf hello";
    ok.setEnv("DK_B", "2");
    ok.setEnv("DK_A", "1");
    EXPECT_EQ(0, ok.exec());
    failing << "-c" << "printf oops >&2; exit 7";
    failing.setEnv("DK_HIDDEN", "x");
    EXPECT_EQ(7, failing.exec(std::nothrow));
    EXPECT_THROW(raising.exec(), ExTraceable);
  }
  const std::string text = dktest::ReadFile(installation.root() + "/session/migration.log");
  size_t at = 0;
  for (const std::string line :
       {"ENV[DK_A]=1", "ENV[DK_B]=2", "Executing utility: sh -c printf\\ hello", "The utility succesfully executed.",
        "The return code was 0 \nThe output on STDOUT was: \nhello \nNo output on STDERR were performed by the utility",
        "Executing utility: sh -c printf\\ oops\\ \\>\\&2\\;\\ exit\\ 7", "The utility executed with the return code 7",
        "The return code was 7 \nNo output on STDOUT were performed by the utility \nThe output on STDERR was: \noops",
        "Executing utility: false"}) {
    at = text.find(line, at);
    ASSERT_NE(std::string::npos, at) << "missing, or out of order: " << line << "\n" << text;
  }
  EXPECT_EQ(std::string::npos, text.find("DK_HIDDEN")) << "the nothrow run logs no environment";
  EXPECT_EQ(text.find("succesfully"), text.rfind("succesfully")) << "a failing exec() logs no success";
}
