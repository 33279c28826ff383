// Panel database queries against the private MariaDB server of the test harness.
#include <mysql.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "hostlib/db.h"
#include "tests/support/test_support.h"

namespace {

using ovrin::GetNameFromDB;
using ovrin::QueryDb;

class Db : public ::testing::Test {
 protected:
  void SetUp() override {
    if (dktest::MysqlSocket().empty()) GTEST_FAIL() << "no test MariaDB server (DUMPKEEP_TEST_MYSQL_SOCKET unset)";
    install.reset(new dktest::SampleInstallation(dktest::MysqlAdminPassword()));
  }
  // Runs SQL as the server's superuser, outside the code under test.
  void Sql(const std::string& sql) {
    dktest::Shell("mariadb --no-defaults --socket='" + dktest::MysqlSocket() + "' -uroot ovr -e \"" + sql + "\"");
  }

  std::unique_ptr<dktest::SampleInstallation> install;
};

// Names come from the row of the object's table; other types never reach
// the database (without the password file no query could run).
TEST_F(Db, NamesOfResellersClientsAndDomainsById) {
  EXPECT_EQ("reseller-7", GetNameFromDB("reseller", 7));
  EXPECT_EQ("client-login-12", GetNameFromDB("client", 12));
  EXPECT_EQ("example-33.test", GetNameFromDB("domain", 33));
  EXPECT_EQ("", GetNameFromDB("client", 999));
  unlink((install->confDir() + "/.ovr.shadow").c_str());
  EXPECT_EQ("", GetNameFromDB("server", 1));
  EXPECT_THROW(GetNameFromDB("client", 12), std::logic_error);
}

// The connection's character set follows the mysql41_compatible flag of the
// panel (binary when unset or false), and so does the global flag.
TEST_F(Db, CharacterSetFollowsTheCompatibilityFlag) {
  struct { const char* sql; const char* charset; int flag; } cases[] = {
      {"REPLACE INTO misc VALUES ('mysql41_compatible', 'false')", "binary", 0},
      {"REPLACE INTO misc VALUES ('mysql41_compatible', 'true')", "utf8", 1},
      {"DELETE FROM misc WHERE param='mysql41_compatible'", "binary", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    Sql(c.sql);
    char error[1024];
    MYSQL* connection = ovrin_db_connect(error, sizeof(error));
    ASSERT_NE(nullptr, connection) << error;
    const std::string charset = get_param_from_bigquery("SELECT @@character_set_client", connection, 0);
    mysql_close(connection);
    EXPECT_EQ(c.charset, charset.substr(0, 4) == "utf8" ? "utf8" : charset);
    EXPECT_EQ(c.flag, mysql41_compatible);
  }
}

// Failures are reported, never crash: a bad query raises or gives null, a
// column past the row is no value, a refused login and a missing password
// file are named.
TEST_F(Db, FailuresAreReportedNeverCrash) {
  EXPECT_THROW(QueryDb("select no_such_column from clients"), std::logic_error);
  EXPECT_EQ(nullptr, get_param_from_bigquery("select broken(", nullptr, 0));
  EXPECT_STREQ("", get_param_from_bigquery("select login from clients where id=7", nullptr, 5));
  char error[256];
  dktest::WriteFile(install->confDir() + "/.ovr.shadow", "wrong-password\n");
  EXPECT_EQ(nullptr, ovrin_db_connect(error, sizeof(error)));
  EXPECT_EQ(0u, std::string(error).find("Unable to connect to Ovrin Database: ")) << error;
  EXPECT_NE(std::string::npos, dktest::ThrownText<std::logic_error>([] { QueryDb("select 1"); }).find("Access denied"));
  unlink((install->confDir() + "/.ovr.shadow").c_str());
  EXPECT_EQ(nullptr, ovrin_db_connect(error, sizeof(error)));
  EXPECT_EQ(0u, std::string(error).find("Unable to open admin password file: ")) << error;
}

}  // namespace
