// Loopback FTP servers for the tests: the fault-injecting tests/harness/ftp_server.py and Debian's.
#pragma once

#include <random>
#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/support/test_support.h"

namespace dktest {

struct FtpUser { std::string login, password; };

// A server process serving root(), a fresh directory, on 127.0.0.1; killed with the object.
class ServerProcess {
 public:
  int port() const { return port_; }
  const std::string& root() const { return root_; }

 protected:
  ServerProcess() : root_(dir_ / "root") {}
  ~ServerProcess();
  TempDir dir_;
  std::string root_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// tests/harness/ftp_server.py in `mode` (see the script).
class FtpServer : public ServerProcess {
 public:
  explicit FtpServer(const std::string& mode = "normal", const std::vector<FtpUser>& users = {{"dk", "pw"}},
                     bool anonymous = false);
  std::string Url(const std::string& path = "", const std::string& login = "") const;
  // The command lines received so far, from the `from`th on.
  std::vector<std::string> Commands(size_t from = 0) const;
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
// When the server drops an upload's data connection, libcurl reports either
// the failed send or the failed reply, whichever notices first: `out` with
// the latter spelled as the former.
std::string OneDroppedUploadText(std::string out);

// A CA, and certificates it signs for 127.0.0.1 ("good") or another host ("wrong-host"), or nobody does.
class TestCertificates {
 public:
  TestCertificates();
  std::string CaFile() const { return dir_ / "ca.pem"; }
  std::string Cert(const std::string& kind) const { return dir_ / (kind + ".pem"); }
  std::string Key(const std::string& kind) const { return dir_ / (kind + ".key"); }

 private:
  TempDir dir_;
};

// "vsftpd", "proftpd" or "pure-ftpd" run by tests/harness/real_ftpd.sh (see there); one that does
// not greet within 30 s throws. With a certificate and key, TLS only.
class RealFtpServer : public ServerProcess {
 public:
  explicit RealFtpServer(const std::string& kind, const std::string& cert = "", const std::string& key = "");
  // Lets the server's unprivileged user change what a test has put below root().
  void Share() const;
  // SCHEME://LOGIN@127.0.0.1:PORT + path; the password is "pw" (vsftpd takes "anonymous" only).
  std::string Url(const std::string& path, const std::string& scheme = "ftp") const;

 private:
  std::string kind_;
};

}  // namespace dktest
