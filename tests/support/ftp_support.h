// Loopback FTP servers for the tests: the fault-injecting tests/harness/ftp_server.py
// and Debian's real servers, each serving a fresh directory on 127.0.0.1.
#pragma once

#include <random>
#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/support/test_support.h"

namespace dktest {

struct FtpUser {
  std::string login;
  std::string password;
};

// One tests/harness/ftp_server.py process in the given mode ("normal",
// "drop-download", "drop-upload", "stall-download", "stall-upload", "stall",
// "hang-up", "throttle", "hostile-list": see the script); killed with the object.
class FtpServer {
 public:
  explicit FtpServer(const std::string& mode = "normal", const std::vector<FtpUser>& users = {},
                     bool anonymous = false);
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  int port() const { return port_; }
  const std::string& root() const { return root_; }  // the users' home
  // "ftp://127.0.0.1:PORT" followed by `path` (which should begin with '/').
  std::string Url(const std::string& path = "") const;
  // The command lines received so far, in order, from the `from`th on.
  std::vector<std::string> Commands(size_t from = 0) const;

 private:
  TempDir dir_;
  std::string root_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// `size` pseudo-random bytes from `seed`, which no text conversion leaves intact.
inline std::string Noise(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(gen() & 0xFF);
  return data;
}

// A local port on which nothing listens (bound once, then released).
int ClosedLocalPort();

// Certificates made with openssl: a private CA, a server certificate it signs
// for 127.0.0.1 ("good"), one it signs for another host only ("wrong-host")
// and one signed by nobody but itself for 127.0.0.1 ("self-signed").
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
// /opt/dumpkeep-ftpd) and run by tests/harness/real_ftpd.sh. A server that is
// missing or does not greet within 30 s makes the constructor throw, so its
// tests fail. With a certificate and key the server insists on TLS.
class RealFtpServer {
 public:
  explicit RealFtpServer(const std::string& kind, const std::string& cert = "", const std::string& key = "");
  ~RealFtpServer();
  RealFtpServer(const RealFtpServer&) = delete;
  RealFtpServer& operator=(const RealFtpServer&) = delete;

  const std::string& root() const { return root_; }  // vsftpd wants tests to work below it

  // Lets the server's unprivileged user change what a test has put below root().
  void Share() const;
  // SCHEME://LOGIN@127.0.0.1:PORT + path; the password is "pw" (vsftpd takes
  // "anonymous" only).
  std::string Url(const std::string& path, const std::string& scheme = "ftp") const;

 private:
  std::string kind_;
  TempDir dir_;
  std::string root_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace dktest
