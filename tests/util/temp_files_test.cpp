#include "util/temp_files.h"

#include "errors/error_model.h"
#include "tests/support/test_support.h"

using namespace ovrin;

// Temporaries lie in the configured directory, guards remove them once; a failure names the template.
TEST(TempFiles, NamesLieInTheConfiguredDirectoryAndGuardsRemoveThemOnce) {
  dktest::SampleInstallation install;
  install.SetConfig("DUMP_TMP_D", install.tmp() + "/");
  EXPECT_EQ(install.tmp() + "/repo_transport_tmp_XXXXXX", initTempName("", "repo_transport_tmp_"));
  EXPECT_EQ("/x/p_XXXXXX", initTempName("/x", "p_"));
  const std::string file = GetTempFilePath(), dir = GetTempDirPath();
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
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp()));
  EXPECT_EQ("Can not create temporary file with the template '/nonexistent/dir/p_XXXXXX': No such file or directory.",
            dktest::ThrownText<ExTraceable>([] { TAV_getTempFileName("/nonexistent/dir", "p_"); }));
}
