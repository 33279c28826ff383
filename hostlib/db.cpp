#include "hostlib/db.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <mysql.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostlib/ovr_conf.h"
#include "log/debug_log.h"

int mysql41_compatible = -1;

namespace {

const unsigned PASSWORD_MAX = 99;
const size_t RESULT_BUFFER_SIZE = 4096;
char resultBuffer[RESULT_BUFFER_SIZE];

void Report(char* error, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
void Report(char* error, size_t size, const char* format, ...) {
  if (error == nullptr || size == 0) return;
  va_list args;
  va_start(args, format);
  vsnprintf(error, size, format, args);
  va_end(args);
}

void ReportStage(MYSQL* connection, const char* stage, char* error, size_t size) {
  unsigned number = mysql_errno(connection);
  if (number != 0) {
    Report(error, size, "DB error (%s) %u: %s", stage, number, mysql_error(connection));
  } else {
    Report(error, size, "DB error (%s): unknown error", stage);
  }
}

struct ResultDeleter {
  void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};
typedef std::unique_ptr<MYSQL_RES, ResultDeleter> ResultHolder;

// The administrator password: the first line of the password file, at most
// PASSWORD_MAX characters, without its line end.
bool ReadAdminPassword(std::string& password, char* error, size_t size) {
  const std::string path = ovrin::GetOvrShadowFilePath();
  FILE* file = fopen(path.c_str(), "r");
  if (file == nullptr) {
    Report(error, size, "Unable to open admin password file: %s", strerror(errno));
    return false;
  }
  char line[PASSWORD_MAX + 2];
  bool ok = fgets(line, sizeof(line), file) != nullptr;
  int readErrno = errno;
  fclose(file);
  if (!ok) {
    Report(error, size, "Unable to read admin password file: %s", strerror(readErrno ? readErrno : EIO));
    return false;
  }
  password.assign(line, strnlen(line, PASSWORD_MAX));
  while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) password.pop_back();
  return true;
}

// Fails (false, message in `error`) at the first stage the server refuses.
bool SetUpConnection(MYSQL* connection, char* error, size_t size) {
  mysql_query(connection, "set foreign_key_checks=0");
  if (mysql_query(connection, "SHOW VARIABLES LIKE 'version'") != 0) {
    ReportStage(connection, "query version", error, size);
    return false;
  }
  ResultHolder result(mysql_store_result(connection));
  if (!result) {
    ReportStage(connection, "store query result", error, size);
    return false;
  }
  MYSQL_ROW row = mysql_fetch_row(result.get());
  if (row == nullptr) {
    ReportStage(connection, "fetch version row", error, size);
    return false;
  }
  if (mysql_num_fields(result.get()) < 2 || row[1] == nullptr) {
    ReportStage(connection, "empty version result", error, size);
    return false;
  }
  const std::string version = row[1];
  result.reset();
  if (version.compare(0, 2, "3.") == 0 || version.compare(0, 4, "4.0.") == 0) {
    mysql41_compatible = 0;
    return true;
  }

  if (mysql_query(connection, "SELECT val FROM misc WHERE param='mysql41_compatible'") != 0) {
    ReportStage(connection, "mysql41 compatible query", error, size);
    return false;
  }
  result.reset(mysql_store_result(connection));
  bool compatible = false;
  if (result) {
    MYSQL_ROW flag = mysql_fetch_row(result.get());
    compatible = flag != nullptr && flag[0] != nullptr && flag[0][0] != '\0' && strcmp(flag[0], "false") != 0;
  }
  result.reset();
  mysql41_compatible = compatible ? 1 : 0;
  if (mysql_query(connection, compatible ? "SET NAMES utf8" : "SET NAMES binary") != 0) {
    ReportStage(connection, "set names query", error, size);
    return false;
  }
  return mysql_errno(connection) == 0;
}

}  // namespace

MYSQL* ovrin_db_connect(char* error, size_t size) {
  if (error != nullptr && size > 0) error[0] = '\0';
  std::string password;
  if (!ReadAdminPassword(password, error, size)) return nullptr;

  MYSQL* connection = mysql_init(nullptr);
  if (connection == nullptr) {
    Report(error, size, "Unable to initialize MySQL connection structure: %s", strerror(errno ? errno : ENOMEM));
    return nullptr;
  }
  if (mysql_real_connect(connection, "localhost", "admin", password.c_str(), "ovr", 0, nullptr, 0) == nullptr) {
    Report(error, size, "Unable to connect to Ovrin Database: %s", mysql_error(connection));
    mysql_close(connection);
    return nullptr;
  }
  if (!SetUpConnection(connection, error, size)) {
    mysql_close(connection);
    return nullptr;
  }
  return connection;
}

const char* get_param_from_bigquery(const char* query, MYSQL* connection, unsigned column) {
  MYSQL* own = nullptr;
  if (connection == nullptr) {
    std::vector<char> error(4097, '\0');
    own = ovrin_db_connect(error.data(), error.size());
    if (own == nullptr) {
      ovrin::LogError(std::string("Unable to connect to the mysql database: ") + error.data());
      return nullptr;
    }
    connection = own;
  }
  const char* answer = nullptr;
  if (mysql_query(connection, query) != 0) {
    ovrin::LogError(std::string("Unable to query parameter by query ") + query + ": " + mysql_error(connection));
  } else {
    ResultHolder result(mysql_store_result(connection));
    resultBuffer[0] = '\0';
    if (result) {
      MYSQL_ROW row = mysql_fetch_row(result.get());
      if (row != nullptr && column < mysql_num_fields(result.get()) && row[column] != nullptr) {
        snprintf(resultBuffer, RESULT_BUFFER_SIZE, "%s", row[column]);
      }
      answer = resultBuffer;
    } else if (mysql_field_count(connection) == 0) {
      answer = resultBuffer;  // a statement without a result set: no row
    } else {
      ovrin::LogError(std::string("Unable to query parameter by query ") + query + ": " + mysql_error(connection));
    }
  }
  if (own != nullptr) mysql_close(own);
  return answer;
}

namespace ovrin {

std::string QueryDb(const std::string& query) {
  std::vector<char> error(1024, '\0');
  MYSQL* connection = ovrin_db_connect(error.data(), error.size());
  if (connection == nullptr) {
    throw std::logic_error("Unable to connect to the panel database: " + std::string(error.data()));
  }
  const char* value = get_param_from_bigquery(query.c_str(), connection, 0);
  std::string text = value ? value : "";
  std::string failure = value ? "" : mysql_error(connection);
  mysql_close(connection);
  if (value == nullptr) throw std::logic_error("Unable to query the panel database by '" + query + "': " + failure);
  return text;
}

std::string GetNameFromDB(const std::string& objectType, int id) {
  if (objectType == "reseller" || objectType == "client") {
    return QueryDb("select login from clients where id=" + std::to_string(id));
  }
  if (objectType == "domain") return QueryDb("select name from domains where id=" + std::to_string(id));
  return "";
}

}  // namespace ovrin
