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

TEST(Session, CreatesMissingParentsAndArchivesWithMode0750) {
  dktest::TempDir dir;
  const std::string path = dir / "a/b/session";
  {
    SessionLifetimeController controller(path);
    ASSERT_NE(nullptr, theSession);
    EXPECT_EQ(path + "/migration.log", theSession->getLogFileName());
  }
  EXPECT_EQ(nullptr, theSession);
  for (const std::string& p : {dir / "a", dir / "a/b", path, path + "/archives"}) {
    EXPECT_EQ(0750u, ModeOf(p)) << p;
  }
}

TEST(Session, ExistingSessionIsUsedUnchanged) {
  dktest::TempDir dir;
  chmod(dir.path().c_str(), 0711);
  SessionFiles session(dir.path());
  EXPECT_EQ(0711u, ModeOf(dir.path()));
  EXPECT_EQ(0750u, ModeOf(dir / "archives"));
}

TEST(Session, RegularFilesInTheWayAreReported) {
  dktest::TempDir dir;
  dktest::WriteFile(dir / "file", "x");
  try {
    SessionFiles session(dir / "file");
    FAIL() << "a regular file cannot be a session";
  } catch (const ExTraceable& e) {
    EXPECT_STREQ("Unable to create session: Unable to create session directory", e.what());
  }
  dktest::WriteFile(dir / "s/archives", "x");
  try {
    SessionFiles session(dir / "s");
    FAIL() << "archives must be a directory";
  } catch (const ExTraceable& e) {
    EXPECT_STREQ("Unable to create session: Unable to create session archives directory", e.what());
  }
}

}  // namespace
}  // namespace ovrin
