#include "hostlib/ovr_conf.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hostlib/messlog.h"

namespace ovrin {

std::string GetOvrConfDir() {
  const char* dir = std::getenv("OVR_CONF_DIR");
  return dir && *dir ? dir : "/etc/ovr";
}

std::string GetOvrConfFilePath() { return GetOvrConfDir() + "/ovr.conf"; }

std::string GetOvrShadowFilePath() { return GetOvrConfDir() + "/.ovr.shadow"; }

}  // namespace ovrin

namespace {

// Diagnostics of the parser go to the pluggable log at this level; with the
// default level they are not shown.
const int kParseLogLevel = 12;

const char* const theOvrConfNames[ovrin::OVR_CONF_MAX_POSSIBLE + 1] = {
    "_MIN_POSSIBLE_OVR_CONF_VAR_NAME",
    "OVRIN_MAILNAMES_D", "COURIER_IMAP_ROOT_D", "RBLSMTPD", "CGI_PHP_BIN", "CLIENT_PHP_BIN",
    "LIB_CRYPTO_PATH", "LIB_SSL_PATH", "AWSTATS_DOC_D", "AWSTATS_TOOLS_D", "AWSTATS_BIN_D",
    "AWSTATS_ETC_D", "CATALINA_HOME", "MAILMAN_VAR_D", "MAILMAN_ROOT_D", "PGSQL_DATA_D",
    "PGSQL_BIN_D", "MYSQL_BIN_D", "MYSQL_VAR_D", "LOGROTATE", "WEB_STAT",
    "DUMP_D", "DUMP_TMP_D", "NAMED_RUN_ROOT_D", "FTPD_CONF_INC", "HTTPD_SERVICE",
    "HTTPD_LOG_D", "HTTPD_INCLUDE_D", "HTTPD_CONF_D", "HTTPD_VHOSTS_D", "PRODUCT_ROOT_D",
    "_MAX_POSSIBLE_OVR_CONF_VAR_NAME",
};

const char* const theOvrConfDefauls[ovrin::OVR_CONF_MAX_POSSIBLE + 1] = {
    "_MIN_POSSIBLE_OVR_CONF_VAR_VALUE",
    "/var/qmail/mailnames", "/", "/usr/sbin/rblsmtpd", "dynamic", "/usr/local/ovr/bin/php-cli",
    "/lib/libcrypto.so", "/lib/libssl.so", "/var/www/html/awstats", "/usr/share/awstats",
    "/var/www/cgi-bin/awstats", "/etc/awstats", "/usr/share/tomcat5", "/var/lib/mailman",
    "/usr/lib/mailman", "/var/lib/pgsql/data", "/usr/bin", "/usr/bin", "/var/lib/mysql",
    "/usr/local/ovr/logrotate/sbin/logrotate", "/usr/bin/webalizer", "/var/lib/ovr/dumps", "/tmp",
    "/var/named/run-root", "/etc/proftpd.include", "httpd", "/var/log/httpd", "/etc/httpd/conf.d",
    "/etc/httpd/conf", "/var/www/vhosts", "/usr/local/ovr",
    "_MAX_POSSIBLE_OVR_CONF_VAR_VALUE",
};

conf_data* theOvrConfHash = nullptr;
const char* theOvrConfArray[ovrin::OVR_CONF_MAX_POSSIBLE + 1] = {};

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

int CompareEntries(const void* a, const void* b) {
  return std::strcmp(static_cast<const conf_entry*>(a)->name, static_cast<const conf_entry*>(b)->name);
}

conf_entry* Find(const conf_data* conf, const char* name) {
  // A file without a single setting has no table to search (bsearch may not
  // be handed a null array, even an empty one).
  if (conf->nmemb == 0) return nullptr;
  if (conf->finalized) {
    conf_entry key{const_cast<char*>(name), nullptr};
    return static_cast<conf_entry*>(std::bsearch(&key, conf->data, conf->nmemb, sizeof(conf_entry), CompareEntries));
  }
  for (size_t i = 0; i < conf->nmemb; ++i) {
    if (std::strcmp(conf->data[i].name, name) == 0) return &conf->data[i];
  }
  return nullptr;
}

// Stores one pair; the last definition of a name wins.
bool Store(conf_data* conf, const char* name, size_t nameLen, const char* value, size_t valueLen) {
  char* n = strndup(name, nameLen);
  char* v = strndup(value, valueLen);
  if (!n || !v) {
    std::free(n);
    std::free(v);
    errno = ENOMEM;
    ovr_log(kParseLogLevel, "Unable to read configuration: %s", std::strerror(ENOMEM));
    return false;
  }
  conf->finalized = false;
  if (conf_entry* existing = Find(conf, n)) {
    std::free(existing->value);
    existing->value = v;
    std::free(n);
    return true;
  }
  if (conf->nmemb == conf->size) {
    size_t size = conf->size ? conf->size * 2 : 20;
    void* grown = std::realloc(conf->data, size * sizeof(conf_entry));
    if (!grown) {
      std::free(n);
      std::free(v);
      errno = ENOMEM;
      ovr_log(kParseLogLevel, "Unable to form configuration: %s", std::strerror(ENOMEM));
      return false;
    }
    conf->data = static_cast<conf_entry*>(grown);
    conf->size = size;
  }
  conf->data[conf->nmemb++] = conf_entry{n, v};
  return true;
}

// Parses one line (without its newline) into the store; malformed lines are
// reported and skipped.
bool ParseLine(conf_data* conf, const char* line) {
  const char* p = line;
  while (*p && IsSpace(*p)) ++p;
  if (!*p || *p == '#') return true;
  const char* name = p;
  while (IsNameChar(*p)) ++p;
  const size_t nameLen = static_cast<size_t>(p - name);
  if (nameLen == 0 || !*p || !IsSpace(*p)) {
    ovr_log(kParseLogLevel, "Invalid variable definition %s\nExpected a space after variable name\n", name);
    return true;
  }
  while (*p && IsSpace(*p)) ++p;
  if (!*p || *p == '#') {
    ovr_log(kParseLogLevel, "Invalid variable definition %s\nExpected a value", name);
    return true;
  }
  const char* value = p;
  const char* end = std::strchr(value, '#');
  if (!end) end = value + std::strlen(value);
  while (end > value && IsSpace(end[-1])) --end;
  return Store(conf, name, nameLen, value, static_cast<size_t>(end - value));
}

}  // namespace

conf_data* conf_read_file_r(const char* path) {
  FILE* file = std::fopen(path, "r");
  if (!file) {
    ovr_log(kParseLogLevel, "unable to open configuration file %s: %s\n", path, std::strerror(errno));
    return nullptr;
  }
  conf_data* conf = static_cast<conf_data*>(std::calloc(1, sizeof(conf_data)));
  if (!conf) {
    std::fclose(file);
    messlog2(0, 0, "Not enough memory to allocate Ovrin runtime configuration structure\n");
    return nullptr;
  }
  char* line = nullptr;
  size_t capacity = 0;
  bool ok = true;
  ssize_t n;
  errno = 0;
  while ((n = getline(&line, &capacity, file)) >= 0) {
    // A NUL byte would cut the line short and leave a value nobody wrote
    // ("/\0srv/dumps" would make "/" the repository): the line is skipped.
    if (std::strlen(line) != static_cast<size_t>(n)) {
      ovr_log(kParseLogLevel, "Invalid variable definition %s\nThe line holds a NUL byte\n", line);
      errno = 0;
      continue;
    }
    // The newline stays: it is the white space that ends a bare name.
    if (!ParseLine(conf, line)) {
      ok = false;
      break;
    }
    errno = 0;
  }
  if (ok && std::ferror(file)) {
    ovr_log(kParseLogLevel, "Unable to read configuration file: %s", std::strerror(errno));
    ok = false;
  }
  std::free(line);
  std::fclose(file);
  if (!ok) {
    conf_free(conf);
    return nullptr;
  }
  if (conf->nmemb) std::qsort(conf->data, conf->nmemb, sizeof(conf_entry), CompareEntries);
  conf->finalized = true;
  return conf;
}

void conf_free(conf_data* conf) {
  if (!conf) return;
  for (size_t i = 0; i < conf->nmemb; ++i) {
    std::free(conf->data[i].name);
    std::free(conf->data[i].value);
  }
  std::free(conf->data);
  std::free(conf);
}

const char* conf_get_r(const conf_data* conf, const char* name) {
  if (!conf || !name) return nullptr;
  conf_entry* entry = Find(conf, name);
  return entry ? entry->value : nullptr;
}

namespace {

const conf_data* LoadedConf() {
  if (!theOvrConfHash) theOvrConfHash = conf_read_file_r(ovrin::GetOvrConfFilePath().c_str());
  return theOvrConfHash;
}

int IndexOf(const char* name) {
  for (int i = 1; i < ovrin::OVR_CONF_MAX_POSSIBLE; ++i) {
    if (std::strcmp(theOvrConfNames[i], name) == 0) return i;
  }
  return -1;
}

}  // namespace

const char* ovrConfGet(const char* name) { return conf_get_r(LoadedConf(), name); }

const char* ovrConfGetDefaultByIndex(int index) {
  if (index <= ovrin::OVR_CONF_MIN_POSSIBLE || index >= ovrin::OVR_CONF_MAX_POSSIBLE) return nullptr;
  if (theOvrConfArray[index]) return theOvrConfArray[index];
  if (const char* value = ovrConfGet(theOvrConfNames[index])) {
    theOvrConfArray[index] = value;
    return value;
  }
  return theOvrConfDefauls[index];
}

const char* ovrConfGetDefault(const char* name) {
  int index = name ? IndexOf(name) : -1;
  if (index < 0) {
    messlog2(0, 0, "variable '%s' isn't found neither in %s nor in compile-time defaults\n", name ? name : "",
             ovrin::GetOvrConfFilePath().c_str());
    return nullptr;
  }
  return ovrConfGetDefaultByIndex(index);
}

void ovrConfReset() {
  conf_free(theOvrConfHash);
  theOvrConfHash = nullptr;
  for (auto& value : theOvrConfArray) value = nullptr;
}

namespace ovrin {

std::string ReadConfigValue(const std::string& name) {
  const char* value = ovrConfGetDefault(name.c_str());
  return value ? value : "";
}

std::string GetLocalRepoPath() {
  const char* value = ovrConfGetDefaultByIndex(DUMP_D);
  return value ? value : "";
}

}  // namespace ovrin
