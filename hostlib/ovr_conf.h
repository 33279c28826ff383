// The panel configuration file ("ovr.conf" in the panel configuration
// directory) with its table of known variables and compiled-in defaults.
// Results are borrowed C strings owned by the process-wide store or the
// defaults table; callers never free them.
#pragma once

#include <stddef.h>

#include <string>

namespace ovrin {

// Indices of the known variables; slots 0 and 31 are sentinels.
enum OvrConfIndex {
  OVR_CONF_MIN_POSSIBLE = 0,
  OVRIN_MAILNAMES_D = 1,
  COURIER_IMAP_ROOT_D,
  RBLSMTPD,
  CGI_PHP_BIN,
  CLIENT_PHP_BIN,
  LIB_CRYPTO_PATH,
  LIB_SSL_PATH,
  AWSTATS_DOC_D,
  AWSTATS_TOOLS_D,
  AWSTATS_BIN_D,
  AWSTATS_ETC_D,
  CATALINA_HOME,
  MAILMAN_VAR_D,
  MAILMAN_ROOT_D,
  PGSQL_DATA_D,
  PGSQL_BIN_D,
  MYSQL_BIN_D,
  MYSQL_VAR_D,
  LOGROTATE,
  WEB_STAT,
  DUMP_D = 21,
  DUMP_TMP_D = 22,
  NAMED_RUN_ROOT_D,
  FTPD_CONF_INC,
  HTTPD_SERVICE,
  HTTPD_LOG_D,
  HTTPD_INCLUDE_D,
  HTTPD_CONF_D,
  HTTPD_VHOSTS_D,
  PRODUCT_ROOT_D = 30,
  OVR_CONF_MAX_POSSIBLE = 31,
};

// The directory holding the configuration file and the administrator password
// file: the environment variable OVR_CONF_DIR when set and non-empty, else "/etc/ovr".
std::string GetOvrConfDir();
// GetOvrConfDir() + "/ovr.conf".
std::string GetOvrConfFilePath();
// GetOvrConfDir() + "/.ovr.shadow".
std::string GetOvrShadowFilePath();

}  // namespace ovrin

// One loaded configuration file.
struct conf_entry {
  char* name;
  char* value;
};
struct conf_data {
  conf_entry* data;
  size_t size;
  size_t nmemb;
  bool finalized;
};

// Reads `path` into a new store; null on failure (the reason goes to the
// pluggable log function). The caller frees it with conf_free.
conf_data* conf_read_file_r(const char* path);
void conf_free(conf_data* conf);
// The value of `name` in `conf`, or null.
const char* conf_get_r(const conf_data* conf, const char* name);

// The file's value or null (no default).
const char* ovrConfGet(const char* name);
// Known variables only: cached value, else the file's value (then cached),
// else the compiled-in default. Unknown names print a console message and give null.
const char* ovrConfGetDefault(const char* name);
const char* ovrConfGetDefaultByIndex(int index);
// Forgets the loaded store and the value cache (tests reconfigure between cases).
void ovrConfReset();

namespace ovrin {
// ovrConfGetDefault(name) as a string, "" for null.
std::string ReadConfigValue(const std::string& name);
// The local dump storage root (DUMP_D), "" for null.
std::string GetLocalRepoPath();
}  // namespace ovrin
