#include "log/session.h"

#include "errors/error_model.h"
#include "tests/support/test_support.h"

using namespace ovrin;

// A session makes missing directories with mode 0750, keeps the mode of an existing one, and reports a
// regular file where the session or its archives directory should be.
TEST(Session, CreatesMissingDirectoriesWithMode0750AndReportsFilesInTheWay) {
  dktest::TempDir dir;
  const std::string modes = "cd '" + dir.path() + "' && stat -c %a a a/b a/b/session a/b/session/archives";
  {
    SessionLifetimeController controller(dir / "a/b/session");
    ASSERT_NE(nullptr, theSession);
    EXPECT_EQ(dir / "a/b/session/migration.log", theSession->getLogFileName());
  }
  EXPECT_EQ(nullptr, theSession);
  EXPECT_EQ("750\n750\n750\n750\n", dktest::Shell(modes));
  dktest::Shell("rmdir '" + (dir / "a/b/session/archives") + "' && chmod 711 '" + (dir / "a/b/session") + "'");
  SessionFiles again(dir / "a/b/session");
  EXPECT_EQ("750\n750\n711\n750\n", dktest::Shell(modes));
  dktest::WriteFile(dir / "file", "x");
  dktest::WriteFile(dir / "s/archives", "x");
  EXPECT_EQ("Unable to create session: Unable to create session directory",
            dktest::ThrownText<ExTraceable>([&] { SessionFiles session(dir / "file"); }));
  EXPECT_EQ("Unable to create session: Unable to create session archives directory",
            dktest::ThrownText<ExTraceable>([&] { SessionFiles session(dir / "s"); }));
}
