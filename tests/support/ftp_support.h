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
// "stall", "hang-up", "stall-download", "stall-upload", "throttle",
// "hostile-list" (see the harness script).
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

// Certificates made with openssl for the TLS tests, in a folder of their own:
// a private CA, a server certificate it signs for 127.0.0.1 ("good"), one it
// signs for another host only ("wrong-host") and one signed by nobody but
// itself for 127.0.0.1 ("self-signed"). Each server pair is Cert(kind) and
// Key(kind).
class TestCertificates {
 public:
  TestCertificates();
  std::string CaFile() const { return dir_ / "ca.pem"; }
  std::string Cert(const std::string& kind) const { return dir_ / (kind + ".pem"); }
  std::string Key(const std::string& kind) const { return dir_ / (kind + ".key"); }

 private:
  TempDir dir_;
};

// One of Debian's FTP servers ("vsftpd", "proftpd", "pure-ftpd"), unpacked by
// scripts/install_ftp_servers.sh into DUMPKEEP_FTPD_DIR (default
// /opt/dumpkeep-ftpd) and run by tests/harness/real_ftpd.sh in the
// foreground on 127.0.0.1, serving a fresh directory. A server that is not
// there or does not greet within 30 s makes the constructor throw, so its
// tests fail. With a certificate and key the server insists on TLS. The
// whole process group is killed when the object ends.
class RealFtpServer {
 public:
  explicit RealFtpServer(const std::string& kind, const std::string& cert = "", const std::string& key = "");
  ~RealFtpServer();
  RealFtpServer(const RealFtpServer&) = delete;
  RealFtpServer& operator=(const RealFtpServer&) = delete;

  const std::string& kind() const { return kind_; }
  int port() const { return port_; }
  // The served directory. vsftpd refuses a writable top directory, so tests
  // work in sub-directories of it.
  const std::string& root() const { return root_; }
  // The login the server accepts ("anonymous" for vsftpd, else "dk"); the
  // password is "pw".
  std::string login() const { return kind_ == "vsftpd" ? "anonymous" : "dk"; }
  // Lets the server's unprivileged user change everything below root(); to
  // be called after a test has put files there.
  void Share() const;
  // SCHEME + "://" + login() + "@127.0.0.1:PORT" + path.
  std::string Url(const std::string& path, const std::string& scheme = "ftp") const;

 private:
  std::string kind_;
  TempDir dir_;
  std::string root_;
  pid_t pid_ = -1;
  int port_ = 0;
};

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
