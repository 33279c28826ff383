#include "tests/support/ftp_support.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dktest {

namespace {

const char PYTHON[] = "/usr/bin/python3";

// Reads the first line the server prints (its port), waiting at most 15 s.
std::string ReadFirstLine(int fd) {
  std::string line;
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    int ready = poll(&p, 1, 15000);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) throw std::runtime_error("FTP test server did not report its port in time");
    char c;
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("FTP test server ended before reporting its port");
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace

FtpServer::FtpServer(const std::string& mode, const std::vector<FtpUser>& users, bool anonymous)
    : root_(dir_ / "root"), commandLog_(dir_ / "commands.log") {
  Shell("mkdir -p '" + root_ + "'");
  std::vector<std::string> args = {PYTHON, SourceDir() + "/tests/harness/ftp_server.py", "--root", root_,
                                   "--mode", mode, "--log", commandLog_};
  for (const FtpUser& user : users) {
    args.push_back("--user");
    args.push_back(user.login);
    args.push_back("--password");
    args.push_back(user.password);
  }
  if (anonymous) args.push_back("--anonymous");
  const std::string errPath = dir_ / "server.err";

  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(devnull, 0);
    dup2(out[1], 1);
    if (err >= 0) dup2(err, 2);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(PYTHON, argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string line;
  try {
    line = ReadFirstLine(out[0]);
  } catch (...) {
    close(out[0]);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("FTP test server failed to start: " + ReadFile(errPath));
  }
  close(out[0]);
  port_ = std::stoi(line);
}

FtpServer::~FtpServer() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

std::string FtpServer::Url(const std::string& path) const {
  return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> FtpServer::Commands() const {
  std::vector<std::string> lines;
  std::ifstream in(commandLog_);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

int ClosedLocalPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  struct sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    throw std::runtime_error("bind failed");
  }
  close(fd);
  return ntohs(addr.sin_port);
}

TestCertificates::TestCertificates() {
  const std::string d = "'" + dir_.path() + "'";
  const std::string quiet = " >/dev/null 2>&1";
  Shell("cd " + d + " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=dumpkeep test CA' "
        "-keyout ca.key -out ca.pem" + quiet);
  // Two certificates the CA signs: one for the test server's address, one for another host.
  const std::vector<std::pair<std::string, std::string>> signedOnes = {
      {"good", "subjectAltName=IP:127.0.0.1,DNS:localhost"}, {"wrong-host", "subjectAltName=DNS:elsewhere.invalid"}};
  for (const auto& one : signedOnes) {
    const std::string& kind = one.first;
    WriteFile(dir_ / (kind + ".ext"), one.second + "\n");
    Shell("cd " + d + " && openssl req -new -newkey rsa:2048 -nodes -subj '/CN=" + kind + "' -keyout " + kind +
          ".key -out " + kind + ".csr" + quiet + " && openssl x509 -req -in " + kind +
          ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile " + kind + ".ext -out " + kind + ".pem" +
          quiet);
  }
  Shell("cd " + d + " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=127.0.0.1' "
        "-addext 'subjectAltName=IP:127.0.0.1' -keyout self-signed.key -out self-signed.pem" + quiet);
}

namespace {

std::string FtpdDir() {
  const char* dir = std::getenv("DUMPKEEP_FTPD_DIR");
  return dir && *dir ? dir : "/opt/dumpkeep-ftpd";
}

// Waits for the server's greeting on `port`; false after `seconds` or when
// the process has ended.
bool AwaitGreeting(int port, pid_t pid, int seconds) {
  for (int tries = 0; tries < seconds * 20; ++tries) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      struct pollfd p = {fd, POLLIN, 0};
      char reply[4] = {0};
      const bool greeted = poll(&p, 1, 5000) > 0 && read(fd, reply, 3) == 3 && std::string(reply) == "220";
      close(fd);
      if (greeted) return true;
    } else if (fd >= 0) {
      close(fd);
    }
    usleep(50000);
  }
  return false;
}

}  // namespace

RealFtpServer::RealFtpServer(const std::string& kind, const std::string& cert, const std::string& key)
    : kind_(kind), root_(dir_ / "root") {
  const std::string binary = FtpdDir() + (kind == "pure-ftpd" ? "/usr/sbin/pure-ftpd" : "/usr/sbin/" + kind);
  if (access(binary.c_str(), X_OK) != 0) {
    throw std::runtime_error(binary + " is missing: run scripts/install_ftp_servers.sh");
  }
  // vsftpd refuses a top directory its user may write to; the others do not mind.
  Shell("mkdir -p '" + root_ + "' && chmod 755 '" + root_ + "' && chmod 711 '" + dir_.path() + "'");
  port_ = ClosedLocalPort();
  std::vector<std::string> args = {"/bin/bash", SourceDir() + "/tests/harness/real_ftpd.sh", kind, root_,
                                   std::to_string(port_), dir_ / "state"};
  if (!cert.empty()) {
    args.push_back(cert);
    args.push_back(key);
  }
  const std::string errPath = dir_ / "server.err";
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    setpgid(0, 0);  // the server's own children are killed with it
    int devnull = open("/dev/null", O_RDWR);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(devnull, 0);
    dup2(err >= 0 ? err : devnull, 1);
    dup2(err >= 0 ? err : devnull, 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv("/bin/bash", argv.data());
    _exit(127);
  }
  setpgid(pid_, pid_);
  if (!AwaitGreeting(port_, pid_, 30)) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    throw std::runtime_error(kind + " did not start: " + ReadFile(errPath));
  }
}

RealFtpServer::~RealFtpServer() {
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

void RealFtpServer::Share() const {
  Shell("find '" + root_ + "' -mindepth 1 -exec chmod a+rwX {} +");
}

std::string RealFtpServer::Url(const std::string& path, const std::string& scheme) const {
  return scheme + "://" + login() + "@127.0.0.1:" + std::to_string(port_) + path;
}

CapturedLog::CapturedLog() : previous_(ovrin::theDebugLog) { ovrin::theDebugLog = this; }

CapturedLog::~CapturedLog() { ovrin::theDebugLog = previous_; }

bool CapturedLog::Has(const std::string& text) const { return Count(text) > 0; }

int CapturedLog::Count(const std::string& text) const {
  int n = 0;
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) ++n;
  }
  return n;
}

}  // namespace dktest
