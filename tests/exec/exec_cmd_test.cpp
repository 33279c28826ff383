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
  text.reserve(size);
  while (text.size() < size) text += pattern;
  text.resize(size);
  return text;
}

TEST(ExecCmd, BothOutputsOfSeveralMegabytesAreCollectedWhole) {
  // Standard error is filled first, while standard output is still idle: a
  // launcher that drained only one pipe at a time would block here.
  ExecCmd cmd("sh");
  cmd << "-c" << "yes 0123456 | head -c 4000000 >&2; yes abcdefghijk | head -c 6000000; yes 0123456 | head -c 10 >&2";
  EXPECT_EQ(0, cmd.exec());
  EXPECT_TRUE(cmd.started());
  EXPECT_TRUE(cmd.finished());
  ASSERT_EQ(6000000u, cmd.out().size());
  EXPECT_TRUE(cmd.out() == Pattern("abcdefghijk\n", 6000000));
  ASSERT_EQ(4000010u, cmd.err().size());
  EXPECT_TRUE(cmd.err() == Pattern("0123456\n", 4000000) + "0123456\n01");
}

TEST(ExecCmd, InputIsFedWhileOutputIsDrained) {
  // cat echoes while it reads: several megabytes in both directions at once.
  const std::string input = Pattern("the quick brown fox\n", 5 * 1024 * 1024 + 7);
  ExecCmd cmd("cat");
  cmd.setInput(input);
  EXPECT_EQ(0, cmd.exec(std::nothrow));
  EXPECT_TRUE(cmd.out() == input);
  EXPECT_EQ("", cmd.err());
}

TEST(ExecCmd, ChildThatIgnoresItsInputDoesNotHurtTheParent) {
  // More input than a pipe holds, to a child that never reads it.
  ExecCmd cmd("sh");
  cmd << "-c" << "printf done";
  cmd.setInput(Pattern("x", 4 * 1024 * 1024));
  EXPECT_EQ(0, cmd.exec(std::nothrow));
  EXPECT_EQ("done", cmd.out());
}

TEST(ExecCmd, FailureMessageHoldsCommandLineCodeAndOutputBlocks) {
  ExecCmd cmd("sh");
  cmd << "-c" << "printf x >&2; exit 3";
  try {
    cmd.exec();
    FAIL() << "a non-zero exit status must raise";
  } catch (const ExTraceable& e) {
    EXPECT_EQ("ExecCmd::ExFailed", e.Code());
    EXPECT_STREQ("Execution of sh -c printf\\ x\\ \\>\\&2\\;\\ exit\\ 3 failed with return code 3.\nStderr is\nx\n",
                 e.what());
  }
  EXPECT_EQ(3, cmd.returnCode());

  // Every block present; a text that already ends with a newline gets no second one.
  ExecCmd all("sh");
  all << "-c" << "cat; printf 'err\\n' >&2; exit 255";
  all.setInput("in");
  try {
    all.exec();
    FAIL() << "exit status 255 must raise";
  } catch (const ExTraceable& e) {
    EXPECT_STREQ(
        "Execution of sh -c cat\\;\\ printf\\ \\'err\\\\n\\'\\ \\>\\&2\\;\\ exit\\ 255 failed with return code 255.\n"
        "Stdin is\nin\nStdout is\nin\nStderr is\nerr\n",
        e.what());
  }
}

TEST(ExecCmd, NothrowRunReturnsTheStatusAndKeepsTheOutput) {
  ExecCmd cmd("sh");
  cmd << "-c" << "echo out; echo err >&2; exit 42";
  EXPECT_EQ(42, cmd.exec(std::nothrow));
  EXPECT_EQ(42, cmd.returnCode());
  EXPECT_EQ("out\n", cmd.out());
  EXPECT_EQ("err\n", cmd.err());
}

TEST(ExecCmd, ChildKilledBySignalGivesMinusOne) {
  ExecCmd cmd("sh");
  cmd << "-c" << "echo before; kill -KILL $$; echo after";
  EXPECT_EQ(-1, cmd.exec(std::nothrow));
  EXPECT_EQ("before\n", cmd.out());

  ExecCmd raising("sh");
  raising << "-c" << "kill -TERM $$";
  try {
    raising.exec();
    FAIL() << "a killed child must raise";
  } catch (const ExTraceable& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("failed with return code -1."));
  }
}

TEST(ExecCmd, MissingProgramExitsWithOneAndReportsTheExecFailure) {
  for (const std::string program : {"/nonexistent/dumpkeep-tool", "dumpkeep-no-such-program-anywhere"}) {
    ExecCmd cmd(program);
    cmd << "arg";
    EXPECT_EQ(1, cmd.exec(std::nothrow)) << program;
    EXPECT_EQ(0u, cmd.err().find("forkExecvPipes: execv() failed: No such file or directory\n")) << cmd.err();
    EXPECT_EQ(cmd.err(), cmd.out()) << "the message goes to both outputs";
  }
  ExecCmd notExecutable("/dev/null");
  EXPECT_EQ(1, notExecutable.exec(std::nothrow));
  EXPECT_NE(std::string::npos, notExecutable.err().find("Permission denied"));
}

TEST(ExecCmd, ArgumentsArePassedUnchangedAndQuotedOnlyForDisplay) {
  ExecCmd cmd("printf");
  cmd << "[%s]" << std::string("a b$c") << "" << "it's\nhere";
  EXPECT_EQ("printf \\[%s] a\\ b\\$c '' it\\'s'\n'here", cmd.getString());
  EXPECT_EQ(0, cmd.exec());
  EXPECT_EQ("[a b$c][][it's\nhere]", cmd.out());

  // A copy owns its own arguments: adding to it leaves the original alone.
  ExecCmd copy(cmd);
  copy << "more";
  EXPECT_EQ("printf \\[%s] a\\ b\\$c '' it\\'s'\n'here more", copy.getString());
  EXPECT_EQ("printf \\[%s] a\\ b\\$c '' it\\'s'\n'here", cmd.getString());
}

TEST(ExecCmd, ManyArgumentsGrowTheVector) {
  ExecCmd cmd("sh");
  cmd << "-c" << "echo $#" << "name";
  for (int i = 0; i < 300; ++i) cmd << std::to_string(i);
  EXPECT_EQ(0, cmd.exec());
  EXPECT_EQ("300\n", cmd.out());
}

TEST(ExecCmd, EnvironmentEntriesAreSetInTheChildOnly) {
  ASSERT_EQ(0, setenv("DK_EXEC_INHERITED", "kept", 1));
  ExecCmd cmd("sh");
  cmd << "-c" << "printf '%s|%s|%s' \"$DK_EXEC_A\" \"$DK_EXEC_B\" \"$DK_EXEC_INHERITED\"";
  cmd.setEnv("DK_EXEC_A", "first");
  cmd.setEnv("DK_EXEC_A", "value with spaces");
  cmd.setEnv("DK_EXEC_B", "");
  cmd.exec();
  EXPECT_EQ("value with spaces||kept", cmd.out());
  EXPECT_EQ(nullptr, getenv("DK_EXEC_A"));
  unsetenv("DK_EXEC_INHERITED");
}

TEST(ExecCmd, ChildSeesOnlyItsThreeStandardDescriptors) {
  // A descriptor the parent leaves open without close-on-exec must not leak.
  int fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 0);
  // Probing the one number avoids counting the descriptor a glob over the
  // directory would open itself.
  ExecCmd cmd("sh");
  cmd << "-c" << "for f in 0 1 2 " + std::to_string(fd) + "; do [ ! -e /proc/$$/fd/$f ] || printf '%s ' $f; done";
  cmd.exec();
  close(fd);
  EXPECT_EQ("0 1 2 ", cmd.out());
}

TEST(ExecCmd, UserSwitchHappensBeforeTheProgramStarts) {
  if (geteuid() != 0) GTEST_SKIP() << "switching users needs root";
  ExecCmd cmd("id");
  cmd << "-u";
  cmd.setUid(65534);
  cmd.exec();
  EXPECT_EQ("65534\n", cmd.out());
}

TEST(ExecCmd, ChildrenReapedBySystemStillEndTheRun) {
  // With SIGCHLD ignored the kernel reaps the child and waitpid fails with ECHILD.
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(0, sigaction(SIGCHLD, &ignore, &previous));
  ExecCmd cmd("sh");
  cmd << "-c" << "echo ran";
  int code = cmd.exec(std::nothrow);
  sigaction(SIGCHLD, &previous, nullptr);
  EXPECT_EQ(-1, code);
  EXPECT_EQ("ran\n", cmd.out());
}

TEST(ExecCmd, ReportTextsDescribeCodeAndOutputs) {
  ExecCmd quiet("true");
  quiet.exec();
  EXPECT_EQ(
      "The return code was 0 \nNo output on STDOUT were performed by the utility \n"
      "No output on STDERR were performed by the utility",
      getReport(quiet));

  ExecCmd noisy("sh");
  noisy << "-c" << "printf o; printf e >&2; exit 5";
  noisy.exec(std::nothrow);
  EXPECT_EQ("The return code was 5 \nThe output on STDOUT was: \no \nThe output on STDERR was: \ne", getReport(noisy));
}

TEST(ProcessHelpers, OutOnlyRunDropsStandardError) {
  ArgList args("sh");
  args.Append("-c");
  args.Append("echo visible; echo hidden >&2; exit 4");
  std::string out;
  EXPECT_EQ(4, forkExecvGetOut(out, "sh", args));
  EXPECT_EQ("visible\n", out);

  // Output is appended to what the strings already hold.
  std::string err = "earlier\n";
  out = "earlier\n";
  EXPECT_EQ(4, forkExecvGetOutErr(out, err, "sh", args));
  EXPECT_EQ("earlier\nvisible\n", out);
  EXPECT_EQ("earlier\nhidden\n", err);
}

TEST(LogExecCmd, RunsAreWrittenToTheDebugLog) {
  dktest::SampleInstallation installation;
  const std::string sessionDir = installation.root() + "/session";
  std::string logFile;
  {
    SessionLifetimeController session(sessionDir);
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
  auto at = [&](const std::string& line) { return text.find(line); };
  // A missing line is a fault of the logging, never a reason to pass.
  ASSERT_NE(std::string::npos, at("Executing utility: sh -c printf\\ hello")) << text;
  EXPECT_LT(at("ENV[DK_A]=1"), at("ENV[DK_B]=2"));
  EXPECT_LT(at("ENV[DK_B]=2"), at("Executing utility: sh -c printf\\ hello"));
  EXPECT_LT(at("Executing utility: sh -c printf\\ hello"), at("The utility succesfully executed."));
  EXPECT_LT(at("The utility succesfully executed."), at("The return code was 0 \nThe output on STDOUT was: \nhello"));
  EXPECT_EQ(std::string::npos, at("DK_HIDDEN")) << "the nothrow run logs no environment";
  EXPECT_NE(std::string::npos, at("The utility executed with the return code 7"));
  EXPECT_NE(std::string::npos, at("The output on STDERR was: \noops"));
  EXPECT_NE(std::string::npos, at("Executing utility: false"));
  EXPECT_EQ(text.find("The utility succesfully executed."), text.rfind("The utility succesfully executed."))
      << "a failing exec() logs no success";
}

}  // namespace
}  // namespace ovrin
