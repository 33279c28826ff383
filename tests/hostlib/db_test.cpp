// Panel database queries against the private MariaDB server of the test harness.
#include <mysql.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>

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

TEST_F(Db, NamesOfResellersClientsAndDomainsById) {
  EXPECT_EQ("reseller-7", GetNameFromDB("reseller", 7));
  EXPECT_EQ("client-login-12", GetNameFromDB("client", 12));
  EXPECT_EQ("example-33.test", GetNameFromDB("domain", 33));
  EXPECT_EQ("", GetNameFromDB("client", 999));  // no such row
  // Other types never reach the database: without a password no query could run.
  unlink((install->confDir() + "/.ovr.shadow").c_str());
  EXPECT_EQ("", GetNameFromDB("server", 1));
  EXPECT_THROW(GetNameFromDB("client", 12), std::logic_error);
}

TEST_F(Db, CharacterSetFollowsTheCompatibilityFlag) {
  char error[1024];
  auto charsetAfterConnect = [&]() {
    MYSQL* connection = ovrin_db_connect(error, sizeof(error));
    EXPECT_NE(nullptr, connection) << error;
    if (!connection) return std::string();
    std::string charset = get_param_from_bigquery("SELECT @@character_set_client", connection, 0);
    mysql_close(connection);
    return charset;
  };
  Sql("REPLACE INTO misc VALUES ('mysql41_compatible', 'false')");
  EXPECT_EQ("binary", charsetAfterConnect());
  EXPECT_EQ(0, mysql41_compatible);
  Sql("REPLACE INTO misc VALUES ('mysql41_compatible', 'true')");
  EXPECT_EQ("utf8", charsetAfterConnect().substr(0, 4));
  EXPECT_EQ(1, mysql41_compatible);
  Sql("DELETE FROM misc WHERE param='mysql41_compatible'");
  EXPECT_EQ("binary", charsetAfterConnect());
  EXPECT_EQ(0, mysql41_compatible);
}

TEST_F(Db, FailuresAreReportedNeverCrash) {
  EXPECT_THROW(QueryDb("select no_such_column from clients"), std::logic_error);
  EXPECT_EQ(nullptr, get_param_from_bigquery("select broken(", nullptr, 0));
  // An out-of-range column is no value, not a read past the row.
  EXPECT_STREQ("", get_param_from_bigquery("select login from clients where id=7", nullptr, 5));

  char error[256];
  dktest::WriteFile(install->confDir() + "/.ovr.shadow", "wrong-password\n");
  EXPECT_EQ(nullptr, ovrin_db_connect(error, sizeof(error)));
  EXPECT_EQ(0u, std::string(error).find("Unable to connect to Ovrin Database: ")) << error;
  try {
    QueryDb("select 1");
    ADD_FAILURE() << "no error for a refused login";
  } catch (const std::logic_error& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("Access denied")) << e.what();
  }

  unlink((install->confDir() + "/.ovr.shadow").c_str());
  EXPECT_EQ(nullptr, ovrin_db_connect(error, sizeof(error)));
  EXPECT_EQ(0u, std::string(error).find("Unable to open admin password file: ")) << error;
}

}  // namespace
