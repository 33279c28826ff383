#include "hostlib/ovr_conf.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

class OvrConf : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("OVR_CONF_DIR", dir.path().c_str(), 1);
    ovrConfReset();
  }
  void TearDown() override {
    unsetenv("OVR_CONF_DIR");
    ovrConfReset();
  }
  void Write(const std::string& text) {
    dktest::WriteFile(dir / "ovr.conf", text);
    ovrConfReset();
  }
  dktest::TempDir dir;
};

TEST_F(OvrConf, ValuesEndAtCommentsAndTrailingBlanks) {
  Write("  # comment line\n\nDUMP_D   /srv/dumps   # where dumps live\nPRODUCT_ROOT_D\t/opt/p\t\n");
  EXPECT_STREQ("/srv/dumps", ovrConfGet("DUMP_D"));
  EXPECT_EQ("/srv/dumps", ovrin::GetLocalRepoPath());
  EXPECT_EQ("/opt/p", ovrin::ReadConfigValue("PRODUCT_ROOT_D"));
}

TEST_F(OvrConf, MalformedLinesFallBackToDefaultsAndLastDefinitionWins) {
  Write("DUMP_D\nDUMP-D /bad\nDUMP_TMP_D   # no value\nHTTPD_SERVICE one\nHTTPD_SERVICE two\n");
  EXPECT_EQ(nullptr, ovrConfGet("DUMP_D"));
  EXPECT_EQ(nullptr, ovrConfGet("DUMP"));
  EXPECT_EQ("/var/lib/ovr/dumps", ovrin::GetLocalRepoPath());
  EXPECT_STREQ("/tmp", ovrConfGetDefault("DUMP_TMP_D"));
  EXPECT_STREQ("two", ovrConfGetDefault("HTTPD_SERVICE"));
}

TEST_F(OvrConf, MissingFileUsesCompiledDefaultsOnly) {
  EXPECT_EQ(nullptr, ovrConfGet("DUMP_TMP_D"));
  EXPECT_STREQ("/tmp", ovrConfGetDefault("DUMP_TMP_D"));
  EXPECT_STREQ("/usr/local/ovr", ovrConfGetDefaultByIndex(ovrin::PRODUCT_ROOT_D));
  EXPECT_EQ(nullptr, ovrConfGetDefaultByIndex(0));
  EXPECT_EQ(nullptr, ovrConfGetDefaultByIndex(31));
}

TEST_F(OvrConf, UnknownNamesAreReportedAndGiveNull) {
  testing::internal::CaptureStdout();
  const char* value = ovrConfGetDefault("NO_SUCH_VARIABLE");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(nullptr, value);
  EXPECT_NE(std::string::npos, out.find("variable 'NO_SUCH_VARIABLE' isn't found neither in " + (dir / "ovr.conf")));
}

TEST_F(OvrConf, VeryLongLinesAndManyEntriesAreRead) {
  std::string text = "HTTPD_LOG_D " + std::string(100000, 'x') + "\n";
  for (int i = 0; i < 500; ++i) text += "VAR_" + std::to_string(i) + " value" + std::to_string(i) + "\n";
  text += "DUMP_D /last\n";
  Write(text);
  EXPECT_EQ(100000u, std::string(ovrConfGet("HTTPD_LOG_D")).size());
  EXPECT_STREQ("value499", ovrConfGet("VAR_499"));
  EXPECT_STREQ("/last", ovrConfGetDefault("DUMP_D"));
}

TEST_F(OvrConf, FoundValuesAreCachedUntilReset) {
  Write("DUMP_D /first\n");
  EXPECT_STREQ("/first", ovrConfGetDefault("DUMP_D"));
  dktest::WriteFile(dir / "ovr.conf", "DUMP_D /second\n");
  EXPECT_STREQ("/first", ovrConfGetDefault("DUMP_D"));
  ovrConfReset();
  EXPECT_STREQ("/second", ovrConfGetDefault("DUMP_D"));
}

TEST(OvrConfDir, EnvironmentRelocatesTheConfigurationDirectory) {
  unsetenv("OVR_CONF_DIR");
  EXPECT_EQ("/etc/ovr/ovr.conf", ovrin::GetOvrConfFilePath());
  setenv("OVR_CONF_DIR", "", 1);
  EXPECT_EQ("/etc/ovr/.ovr.shadow", ovrin::GetOvrShadowFilePath());
  setenv("OVR_CONF_DIR", "/x/etc", 1);
  EXPECT_EQ("/x/etc/ovr.conf", ovrin::GetOvrConfFilePath());
  unsetenv("OVR_CONF_DIR");
}

}  // namespace
