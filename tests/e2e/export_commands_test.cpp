// --export-file-as-file through the built binary: the joined file at a
// storage URL, and the exit codes of its refusals (the join itself is
// covered by the repository tests).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

const std::string BASE = "b_1001011200.tgz";

class FileExportCommand : public ::testing::Test {
 protected:
  dktest::RunResult Export(const std::string& from, const std::string& to) {
    return dktest::RunDumpkeep({"--export-file-as-file", "--file-from", from, "--file-to", to,
                                "--session-path=" + (work / "session")},
                               {{"OVR_CONF_DIR", install.confDir()}});
  }

  dktest::SampleInstallation install;
  dktest::TempDir work;
  dktest::TempDir src;
  dktest::TempDir dst;
};

TEST_F(FileExportCommand, JoinsIntoTheNamedFileAndReportsRefusals) {
  dktest::WriteFile(src / BASE, "A");
  dktest::WriteFile(src / (BASE + "2"), "C");
  dktest::WriteFile(src / (BASE + "1"), "B");

  dktest::RunResult ok = Export("local:" + (src / BASE), "local:" + (dst / "out.tgz"));
  EXPECT_EQ(0, ok.code) << ok.out;
  EXPECT_EQ("", ok.out);
  EXPECT_EQ("ABC", dktest::ReadFile(dst / "out.tgz"));

  dktest::RunResult again = Export("local:" + (src / BASE), dst / "out.tgz");
  EXPECT_EQ(153, again.code) << again.out;
  EXPECT_EQ("Repository error: file out.tgz exists\n", again.out);
  EXPECT_EQ("ABC", dktest::ReadFile(dst / "out.tgz"));

  // A destination URL without a storage part names no repository.
  dktest::RunResult noStorage = Export(src / BASE, "other.tgz");
  EXPECT_EQ(1, noStorage.code);
  EXPECT_EQ(0u, noStorage.out.find("Transport error: unable to connect to repository  ")) << noStorage.out;
}

}  // namespace
