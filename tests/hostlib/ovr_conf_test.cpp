#include "hostlib/ovr_conf.h"

#include "tests/support/test_support.h"

// Without a file the compiled defaults answer and an unknown name says where it was looked for; in a file
// values end at comments or blanks, the last definition wins, and values are cached until reset.
TEST(OvrConf, DefaultsAndFileValuesUpToCommentsAndBlanks) {
  dktest::TempDir dir;
  setenv("OVR_CONF_DIR", dir.path().c_str(), 1);
  ovrConfReset();
  EXPECT_EQ(nullptr, ovrConfGet("PRODUCT_ROOT_D"));
  EXPECT_EQ("/var/lib/ovr/dumps", ovrin::GetLocalRepoPath());
  EXPECT_STREQ("/usr/local/ovr", ovrConfGetDefaultByIndex(ovrin::PRODUCT_ROOT_D));
  EXPECT_EQ(nullptr, ovrConfGetDefaultByIndex(0));
  EXPECT_EQ(nullptr, ovrConfGetDefaultByIndex(31));
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, ovrConfGetDefault("NO_SUCH_VARIABLE"));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find(
                                   "variable 'NO_SUCH_VARIABLE' isn't found neither in " + (dir / "ovr.conf")));
  std::string text = "  # comment line\n\nDUMP_D   /srv/dumps   # where dumps live\nPRODUCT_ROOT_D\t/opt/p\t\n"
                     "HTTPD_LOG_D\nHTTPD-CONF_D /bad\nDUMP_TMP_D   # no value\nHTTPD_SERVICE one\nHTTPD_SERVICE two\n"
                     "HTTPD_VHOSTS_D " + std::string(100000, 'x') + "\n";
  for (int i = 0; i < 500; ++i) text += "VAR_" + std::to_string(i) + " value" + std::to_string(i) + "\n";
  dktest::WriteFile(dir / "ovr.conf", text + "HTTPD_INCLUDE_D /last\n");
  ovrConfReset();
  EXPECT_STREQ("/srv/dumps", ovrConfGet("DUMP_D"));
  EXPECT_STREQ("/opt/p", ovrConfGetDefault("PRODUCT_ROOT_D"));
  for (const char* undefined : {"HTTPD_LOG_D", "HTTPD", "HTTPD-CONF_D", "DUMP_TMP_D"}) {
    EXPECT_EQ(nullptr, ovrConfGet(undefined)) << undefined;
  }
  EXPECT_STREQ("/tmp", ovrConfGetDefault("DUMP_TMP_D"));
  EXPECT_STREQ("two", ovrConfGetDefault("HTTPD_SERVICE"));
  EXPECT_EQ(std::string(100000, 'x'), ovrConfGet("HTTPD_VHOSTS_D"));
  EXPECT_STREQ("value499", ovrConfGet("VAR_499"));
  EXPECT_STREQ("/last", ovrConfGetDefault("HTTPD_INCLUDE_D"));
  dktest::WriteFile(dir / "ovr.conf", "HTTPD_INCLUDE_D /second\n");
  EXPECT_STREQ("/last", ovrConfGetDefault("HTTPD_INCLUDE_D"));
  ovrConfReset();
  EXPECT_STREQ("/second", ovrConfGetDefault("HTTPD_INCLUDE_D"));
  setenv("OVR_CONF_DIR", "", 1);
  EXPECT_EQ("/etc/ovr/.ovr.shadow", ovrin::GetOvrShadowFilePath());
  unsetenv("OVR_CONF_DIR");
  ovrConfReset();
  EXPECT_EQ("/etc/ovr/ovr.conf", ovrin::GetOvrConfFilePath());
}
