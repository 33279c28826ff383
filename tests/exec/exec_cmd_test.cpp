#include "exec/exec_cmd.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "errors/error_model.h"
#include "log/debug_log.h"
#include "log/session.h"
#include "tests/support/test_support.h"

namespace ovrin {
namespace {

// A text of `size` bytes that repeats `pattern`, so truncation or reordering shows.
std::string Pattern(const std::string& pattern, size_t size) {
  std::string text;
  while (text.size() < size) text += pattern;
  text.resize(size);
  return text;
}

// Megabytes cross all three pipes at once (stderr fills while input is pending):
// a launcher serving one pipe at a time blocks, one losing bytes shows.
TEST(ExecCmd, AllThreePipesCarryMegabytesTogether) {
  const std::string input = Pattern("the quick brown fox\n", 5 * 1024 * 1024 + 7);
  ExecCmd cmd("sh");
  cmd << "-c" << "yes 0123456 | head -c 4000000 >&2; cat; yes 0123456 | head -c 10 >&2";
  cmd.setInput(input);
  EXPECT_EQ(0, cmd.exec());
  EXPECT_TRUE(cmd.started() && cmd.finished());
  ASSERT_EQ(input.size(), cmd.out().size());
  EXPECT_TRUE(cmd.out() == input);
  ASSERT_EQ(4000010u, cmd.err().size());
  EXPECT_TRUE(cmd.err() == Pattern("0123456\n", 4000000) + "0123456\n01");
}

// exec(nothrow) returns the status (-1: killed, or reaped by the system; 1: no
// start, reason on both outputs), keeps the output, survives unread input.
TEST(ExecCmd, NothrowRunReturnsTheStatusAndKeepsTheOutput) {
  const std::string enoent =
      "forkExecvPipes: execv() failed: No such file or directory\n\nSystem error 2: No such file or directory\n";
  const std::string eacces =
      "forkExecvPipes: execv() failed: Permission denied\n\nSystem error 13: Permission denied\n";
  struct { std::string program, script; int code; std::string out, err; size_t input; bool ignoreSigchld; } cases[] = {
      {"sh", "echo out; echo err >&2; exit 42", 42, "out\n", "err\n", 0, false},
      {"sh", "printf done", 0, "done", "", 4 * 1024 * 1024, false},
      {"sh", "echo before; kill -KILL $$; echo after", -1, "before\n", "", 0, false},
      {"sh", "echo ran", -1, "ran\n", "", 0, true},
      {"/nonexistent/dumpkeep-tool", "", 1, enoent, enoent, 0, false},
      {"dumpkeep-no-such-program-anywhere", "", 1, enoent, enoent, 0, false},
      {"/dev/null", "", 1, eacces, eacces, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program + " " + c.script);
    ExecCmd cmd(c.program);
    if (c.program == "sh") cmd << "-c" << c.script;
    cmd.setInput(Pattern("x", c.input));
    struct sigaction chld = {}, previous = {};
    chld.sa_handler = c.ignoreSigchld ? SIG_IGN : SIG_DFL;
    ASSERT_EQ(0, sigaction(SIGCHLD, &chld, &previous));
    const int code = cmd.exec(std::nothrow);
    sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_EQ(c.code, code);
    EXPECT_EQ(c.code, cmd.returnCode());
    EXPECT_EQ(c.out, cmd.out());
    EXPECT_EQ(c.err, cmd.err());
  }
}

// exec() raises for any status but 0: the text names the quoted command
// line and the code, then each non-empty stream (one final newline only).
TEST(ExecCmd, FailureMessageHoldsCommandLineCodeAndOutputBlocks) {
  struct { std::string script, input, what; } cases[] = {
      {"printf x >&2; exit 3", "",
       "Execution of sh -c printf\\ x\\ \\>\\&2\\;\\ exit\\ 3 failed with return code 3.\nStderr is\nx\n"},
      {"cat; printf 'err\\n' >&2; exit 255", "in",
       "Execution of sh -c cat\\;\\ printf\\ \\'err\\\\n\\'\\ \\>\\&2\\;\\ exit\\ 255 failed with return code 255.\n"
       "Stdin is\nin\nStdout is\nin\nStderr is\nerr\n"},
      {"kill -TERM $$", "", "Execution of sh -c kill\\ -TERM\\ \\$\\$ failed with return code -1.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    ExecCmd cmd("sh");
    cmd << "-c" << c.script;
    cmd.setInput(c.input);
    EXPECT_EQ(c.what, dktest::ThrownText<Exc<&ExecCmd::Failed>>([&] { cmd.exec(); }));
  }
}

// Arguments reach the program byte for byte and are quoted only for display;
// a copy owns its arguments and grows them without touching the original.
TEST(ExecCmd, ArgumentsArePassedUnchangedAndQuotedOnlyForDisplay) {
  ExecCmd cmd("printf");
  cmd << "[%s]" << std::string("a b$c") << "" << "it's\nhere";
  const std::string shown = "printf \\[%s] a\\ b\\$c '' it\\'s'\n'here";
  EXPECT_EQ(shown, cmd.getString());
  ExecCmd copy(cmd);
  std::string expected = "[a b$c][][it's\nhere]";
  for (int i = 0; i < 300; ++i) {
    copy << std::to_string(i);
    expected += "[" + std::to_string(i) + "]";
  }
  EXPECT_EQ(shown, cmd.getString());
  EXPECT_EQ(0, copy.exec());
  EXPECT_EQ(expected, copy.out());
}

// The child gets the command's environment (last value wins) over the inherited
// one, only descriptors 0-2, and its user (the test programs run as root).
TEST(ExecCmd, ChildGetsEnvironmentDescriptorsAndUserOfTheCommand) {
  ASSERT_EQ(0u, geteuid()) << "switching users needs root";
  ASSERT_EQ(0, setenv("DK_EXEC_INHERITED", "kept", 1));
  int fd = open("/dev/null", O_RDONLY);
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

// The plain helpers return the status, drop standard error when asked only
// for the output, and append to what the strings already hold.
TEST(ProcessHelpers, OutputIsAppendedAndStandardErrorDroppedWhenNotAsked) {
  ArgList args("sh");
  args.Append("-c");
  args.Append("echo visible; echo hidden >&2; exit 4");
  std::string out = "earlier\n", err = "earlier\n", only;
  EXPECT_EQ(4, forkExecvGetOutErr(out, err, "sh", args));
  EXPECT_EQ(4, forkExecvGetOut(only, "sh", args));
  EXPECT_EQ("earlier\nvisible\n", out);
  EXPECT_EQ("earlier\nhidden\n", err);
  EXPECT_EQ("visible\n", only);
}

// A logged run writes its environment (sorted, exec() only), command line,
// outcome and report (each output or its absence) to the debug log.
TEST(LogExecCmd, RunsAreWrittenToTheDebugLog) {
  dktest::SampleInstallation installation;
  std::string logFile;
  {
    SessionLifetimeController session(installation.root() + "/session");
    DebugLogLifetimeController log(false, false);
    logFile = theSession->getLogFileName();

    tLogExecCmd ok("sh");
    ok << "-c" << "printf hello";
    ok.setEnv("DK_B", "2");
    ok.setEnv("DK_A", "1");
    EXPECT_EQ(0, ok.exec());

    tLogExecCmd failing("sh");
    failing << "-c" << "printf oops >&2; exit 7";
    failing.setEnv("DK_HIDDEN", "x");
    EXPECT_EQ(7, failing.exec(std::nothrow));

    tLogExecCmd raising("false");
    EXPECT_THROW(raising.exec(), ExTraceable);
  }
  const std::string text = dktest::ReadFile(logFile);
  // Each line in this order: a missing one is a fault of the logging.
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

}  // namespace
}  // namespace ovrin
