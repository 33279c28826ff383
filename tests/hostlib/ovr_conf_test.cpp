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

// A value ends at a comment or trailing blanks; a line without a value or
// with a bad name defines nothing; the last definition wins; a very long
// line and hundreds of entries are read whole.
TEST_F(OvrConf, LinesAreReadUpToCommentsAndBlanks) {
  std::string text = "  # comment line\n\nDUMP_D   /srv/dumps   # where dumps live\nPRODUCT_ROOT_D\t/opt/p\t\n"
                     "HTTPD_LOG_D\nHTTPD-CONF_D /bad\nDUMP_TMP_D   # no value\nHTTPD_SERVICE one\nHTTPD_SERVICE two\n"
                     "HTTPD_VHOSTS_D " + std::string(100000, 'x') + "\n";
  for (int i = 0; i < 500; ++i) text += "VAR_" + std::to_string(i) + " value" + std::to_string(i) + "\n";
  Write(text + "HTTPD_INCLUDE_D /last\n");
  EXPECT_STREQ("/srv/dumps", ovrConfGet("DUMP_D"));
  EXPECT_EQ("/srv/dumps", ovrin::GetLocalRepoPath());
  EXPECT_EQ("/opt/p", ovrin::ReadConfigValue("PRODUCT_ROOT_D"));
  for (const char* undefined : {"HTTPD_LOG_D", "HTTPD", "HTTPD-CONF_D", "DUMP_TMP_D"}) {
    EXPECT_EQ(nullptr, ovrConfGet(undefined)) << undefined;
  }
  EXPECT_STREQ("/tmp", ovrConfGetDefault("DUMP_TMP_D"));
  EXPECT_STREQ("two", ovrConfGetDefault("HTTPD_SERVICE"));
  EXPECT_EQ(std::string(100000, 'x'), ovrConfGet("HTTPD_VHOSTS_D"));
  EXPECT_STREQ("value499", ovrConfGet("VAR_499"));
  EXPECT_STREQ("/last", ovrConfGetDefault("HTTPD_INCLUDE_D"));
}

// Without a file only the compiled defaults answer; an unknown name gives
// null and says where it was looked for: in OVR_CONF_DIR, or /etc/ovr when
// that is unset or empty.
TEST_F(OvrConf, MissingFileUsesCompiledDefaultsOnly) {
  EXPECT_EQ(nullptr, ovrConfGet("DUMP_TMP_D"));
  EXPECT_STREQ("/tmp", ovrConfGetDefault("DUMP_TMP_D"));
  EXPECT_EQ("/var/lib/ovr/dumps", ovrin::GetLocalRepoPath());
  EXPECT_STREQ("/usr/local/ovr", ovrConfGetDefaultByIndex(ovrin::PRODUCT_ROOT_D));
  EXPECT_EQ(nullptr, ovrConfGetDefaultByIndex(0));
  EXPECT_EQ(nullptr, ovrConfGetDefaultByIndex(31));
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, ovrConfGetDefault("NO_SUCH_VARIABLE"));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find(
                                   "variable 'NO_SUCH_VARIABLE' isn't found neither in " + (dir / "ovr.conf")));
  setenv("OVR_CONF_DIR", "", 1);
  EXPECT_EQ("/etc/ovr/.ovr.shadow", ovrin::GetOvrShadowFilePath());
  unsetenv("OVR_CONF_DIR");
  EXPECT_EQ("/etc/ovr/ovr.conf", ovrin::GetOvrConfFilePath());
}

// Values found are cached until the cache is reset.
TEST_F(OvrConf, FoundValuesAreCachedUntilReset) {
  Write("DUMP_D /first\n");
  EXPECT_STREQ("/first", ovrConfGetDefault("DUMP_D"));
  dktest::WriteFile(dir / "ovr.conf", "DUMP_D /second\n");
  EXPECT_STREQ("/first", ovrConfGetDefault("DUMP_D"));
  ovrConfReset();
  EXPECT_STREQ("/second", ovrConfGetDefault("DUMP_D"));
}

}  // namespace
