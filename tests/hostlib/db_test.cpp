// Panel database queries against the private MariaDB server of the test harness.
#include <mysql.h>
#include <unistd.h>

#include <stdexcept>

#include "hostlib/db.h"
#include "tests/support/test_support.h"

using namespace ovrin;

struct Db : ::testing::Test {
  dktest::SampleInstallation install{dktest::MysqlAdminPassword()};
  void SetUp() override {
    if (dktest::MysqlSocket().empty()) GTEST_FAIL() << "no test MariaDB server (DUMPKEEP_TEST_MYSQL_SOCKET unset)";
  }
  std::string Shadow() const { return install.confDir() + "/.ovr.shadow"; }
};

// The connection's character set and the global flag follow the panel's mysql41_compatible setting.
TEST_F(Db, CharacterSetFollowsTheCompatibilityFlag) {
  struct { const char* sql; const char* charset; int flag; } cases[] = {
      {"REPLACE INTO misc VALUES ('mysql41_compatible', 'false')", "binary", 0},
      {"REPLACE INTO misc VALUES ('mysql41_compatible', 'true')", "utf8", 1},
      {"DELETE FROM misc WHERE param='mysql41_compatible'", "binary", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    dktest::Shell("mariadb --no-defaults --socket='" + dktest::MysqlSocket() + "' -uroot ovr -e \"" + c.sql + "\"");
    char error[1024];
    MYSQL* connection = ovrin_db_connect(error, sizeof(error));
    ASSERT_NE(nullptr, connection) << error;
    const std::string charset = get_param_from_bigquery("SELECT @@character_set_client", connection, 0);
    mysql_close(connection);
    EXPECT_EQ(c.charset, charset.substr(0, 4) == "utf8" ? "utf8" : charset);
    EXPECT_EQ(c.flag, mysql41_compatible);
  }
}

// Names come from the object's row, other types never reach the database; a bad query raises or gives
// null; a refused login and a missing password file are named.
TEST_F(Db, NamesByIdAndFailuresAreReported) {
  EXPECT_EQ("reseller-7", GetNameFromDB("reseller", 7));
  EXPECT_EQ("client-login-12", GetNameFromDB("client", 12));
  EXPECT_EQ("example-33.test", GetNameFromDB("domain", 33));
  EXPECT_EQ("", GetNameFromDB("client", 999));
  EXPECT_THROW(QueryDb("select no_such_column from clients"), std::logic_error);
  EXPECT_EQ(nullptr, get_param_from_bigquery("select broken(", nullptr, 0));
  EXPECT_STREQ("", get_param_from_bigquery("select login from clients where id=7", nullptr, 5));
  char error[256];
  dktest::WriteFile(Shadow(), "wrong-password\n");
  EXPECT_EQ(nullptr, ovrin_db_connect(error, sizeof(error)));
  EXPECT_EQ(0u, std::string(error).find("Unable to connect to Ovrin Database: ")) << error;
  EXPECT_NE(std::string::npos, dktest::ThrownText<std::logic_error>([] { QueryDb("select 1"); }).find("Access denied"));
  unlink(Shadow().c_str());
  EXPECT_EQ(nullptr, ovrin_db_connect(error, sizeof(error)));
  EXPECT_EQ(0u, std::string(error).find("Unable to open admin password file: ")) << error;
  EXPECT_EQ("", GetNameFromDB("server", 1));
  EXPECT_THROW(GetNameFromDB("client", 12), std::logic_error);
}
