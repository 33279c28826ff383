// Loopback FTP servers for the transport tests: tests/harness/ftp_server.py
// run by Debian's python3 on 127.0.0.1 at a port of its own choosing, plus a
// log that keeps what the library writes.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

#include "log/debug_log.h"
#include "tests/support/test_support.h"

namespace dktest {

struct FtpUser {
  std::string login;
  std::string password;
};

// One server process serving a fresh directory; killed when the object ends.
// Modes: "normal", "windows", "refuse-login", "drop-download", "drop-upload",
// "stall", "hang-up" (see the harness script).
class FtpServer {
 public:
  explicit FtpServer(const std::string& mode = "normal", const std::vector<FtpUser>& users = {},
                     bool anonymous = false);
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  int port() const { return port_; }
  // The served directory (the users' home).
  const std::string& root() const { return root_; }
  // "ftp://127.0.0.1:PORT" followed by `path` (which should begin with '/').
  std::string Url(const std::string& path = "") const;
  // Every command line received so far, in order.
  std::vector<std::string> Commands() const;

 private:
  TempDir dir_;
  std::string root_;
  std::string commandLog_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A local port on which nothing listens (bound once, then released).
int ClosedLocalPort();

// Installs itself as the debug log (in debug mode) for its lifetime and keeps
// every line written to it.
class CapturedLog : public ovrin::DebugLog {
 public:
  CapturedLog();
  ~CapturedLog() override;
  void log(const std::string& text) override { lines.push_back(text); }
  void log(const boost::format& f) override { lines.push_back(f.str()); }
  void log(const ovrin::ExTraceable& e) override { lines.push_back(e.what()); }
  bool isVerboseMode() const override { return false; }
  bool isDebugMode() const override { return true; }
  // Whether some line contains `text`.
  bool Has(const std::string& text) const;
  // How many lines contain `text`.
  int Count(const std::string& text) const;

  std::vector<std::string> lines;

 private:
  ovrin::DebugLog* previous_;
};

}  // namespace dktest
