#include "log/session.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "errors/error_model.h"
#include "tests/support/test_support.h"

namespace ovrin {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(0, stat(path.c_str(), &st)) << path;
  return st.st_mode & 07777;
}

// A session makes its missing parents and archives directory with mode 0750;
// an existing session directory keeps its mode and gets archives again.
TEST(Session, CreatesMissingDirectoriesWithMode0750AndKeepsExistingOnes) {
  dktest::TempDir dir;
  const std::string path = dir / "a/b/session";
  {
    SessionLifetimeController controller(path);
    ASSERT_NE(nullptr, theSession);
    EXPECT_EQ(path + "/migration.log", theSession->getLogFileName());
  }
  EXPECT_EQ(nullptr, theSession);
  for (const std::string& p : {dir / "a", dir / "a/b", path, path + "/archives"}) EXPECT_EQ(0750u, ModeOf(p)) << p;
  ASSERT_EQ(0, rmdir((path + "/archives").c_str()));
  ASSERT_EQ(0, chmod(path.c_str(), 0711));
  SessionFiles again(path);
  EXPECT_EQ(0711u, ModeOf(path));
  EXPECT_EQ(0750u, ModeOf(path + "/archives"));
}

// A regular file where the session or its archives directory should be is reported.
TEST(Session, RegularFilesInTheWayAreReported) {
  dktest::TempDir dir;
  dktest::WriteFile(dir / "file", "x");
  EXPECT_EQ("Unable to create session: Unable to create session directory",
            dktest::ThrownText<ExTraceable>([&] { SessionFiles session(dir / "file"); }));
  dktest::WriteFile(dir / "s/archives", "x");
  EXPECT_EQ("Unable to create session: Unable to create session archives directory",
            dktest::ThrownText<ExTraceable>([&] { SessionFiles session(dir / "s"); }));
}

}  // namespace
}  // namespace ovrin
