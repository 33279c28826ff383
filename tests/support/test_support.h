// Shared helpers of the test programs: scratch directories, a sample
// installation of the panel, running the built binary, file shortcuts.
#pragma once

#include <algorithm>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace dktest {

// A fresh directory under the system temporary area, removed with its tree.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A sample installation (product root, panel configuration, empty local
// repository) made by sample/make_sample_installation.sh in its own scratch
// directory. While it lives, OVR_CONF_DIR points at it and the configuration
// cache of this process is reset, so library code sees its paths.
class SampleInstallation {
 public:
  explicit SampleInstallation(const std::string& dbPassword = "");
  ~SampleInstallation();
  const std::string& root() const { return dir_.path(); }
  std::string confDir() const { return root() + "/etc"; }
  std::string productRoot() const { return root() + "/product"; }
  std::string dumps() const { return root() + "/dumps"; }
  std::string tmp() const { return root() + "/tmp"; }
  // Appends "NAME VALUE" to the panel configuration and resets the cache.
  void SetConfig(const std::string& name, const std::string& value);

 private:
  TempDir dir_;
  std::string oldConfDir_;
  bool hadConfDir_;
};

struct RunResult {
  std::string out;  // standard output
  std::string err;  // standard error
  int code = -1;    // exit code, -1 when killed by a signal
};

// Runs `program` with `args` (no shell), extra environment `env` (a value of
// "\x01unset" removes the variable) and working directory `cwd` (empty: unchanged).
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env = {}, const std::string& cwd = "");
// Runs the built dumpkeep binary.
RunResult RunDumpkeep(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
                      const std::string& cwd = "");
// Runs `command` through /bin/sh -c; fails the test when it exits non-zero.
std::string Shell(const std::string& command);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);  // creates parents
bool Exists(const std::string& path);                                 // lstat succeeds
// Every path below `dir`, relative to it, sorted; directories end with '/'.
std::vector<std::string> ListTree(const std::string& dir);
// ListTree with each entry's mode, and each file's size and a hash of its
// bytes: two equal snapshots mean nothing was added, removed or changed.
std::vector<std::string> SnapshotTree(const std::string& dir);

std::string SourceDir();  // the project's source tree
std::string DumpkeepBinary();

// The loopback MariaDB server started by the test harness
// (scripts/start_test_mariadb.sh). A test that needs it and finds
// DUMPKEEP_TEST_MYSQL_SOCKET unset fails: a missing server never lets a run
// read as green.
std::string MysqlSocket();  // DUMPKEEP_TEST_MYSQL_SOCKET
std::string MysqlAdminPassword();  // DUMPKEEP_TEST_MYSQL_PASSWORD

inline std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// Runs `body`, which must throw an `E`; returns its what() text. Another
// exception, or none, fails the calling test and returns "".
template <class E = std::exception, class Body>
std::string ThrownText(Body&& body) {
  try {
    body();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
    return "";
  }
  ADD_FAILURE() << "nothing was thrown";
  return "";
}

}  // namespace dktest
