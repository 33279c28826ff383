#include "util/temp_files.h"

#include <gtest/gtest.h>

#include "errors/error_model.h"
#include "tests/support/test_support.h"

namespace ovrin {
namespace {

TEST(TempFiles, TemplateUsesConfiguredDirectoryWithOneSlash) {
  dktest::SampleInstallation install;
  install.SetConfig("DUMP_TMP_D", install.tmp() + "/");
  EXPECT_EQ(install.tmp() + "/repo_transport_tmp_XXXXXX", initTempName("", "repo_transport_tmp_"));
  EXPECT_EQ("/x/p_XXXXXX", initTempName("/x", "p_"));
}

TEST(TempFiles, GuardsRemoveWhatTheyHoldExactlyOnce) {
  dktest::SampleInstallation install;
  std::string file = GetTempFilePath();
  std::string dir = GetTempDirPath();
  EXPECT_EQ(0u, file.find(install.tmp() + "/repo_transport_tmp_"));
  dktest::WriteFile(dir + "/sub/inner.txt", "data");
  {
    std::vector<TempFileGuard> guards;
    guards.emplace_back(file);
    guards.emplace_back(GetTempFilePath());  // reallocation moves guards; nothing removed twice
    guards.emplace_back(GetTempFilePath());
    TempDirGuard dirGuard(dir);
    EXPECT_TRUE(dktest::Exists(file));
  }
  EXPECT_FALSE(dktest::Exists(file));
  EXPECT_FALSE(dktest::Exists(dir));
  EXPECT_TRUE(dktest::ListTree(install.tmp()).empty());
}

TEST(TempFiles, FailureNamesTheTemplate) {
  dktest::SampleInstallation install;
  try {
    TAV_getTempFileName("/nonexistent/dir", "p_");
    FAIL() << "expected CantCreateTempFile";
  } catch (const ExTraceable& e) {
    EXPECT_EQ("Can not create temporary file with the template '/nonexistent/dir/p_XXXXXX': "
              "No such file or directory.",
              std::string(e.what()));
  }
}

}  // namespace
}  // namespace ovrin
