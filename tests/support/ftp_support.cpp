#include "tests/support/ftp_support.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dktest {

namespace {

// Starts `args` in a process group of its own, standard output to `outPath`
// and standard error to `errPath`.
pid_t Spawn(std::vector<std::string> args, const std::string& outPath, const std::string& errPath) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    setpgid(0, 0);
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  return pid;
}

// Kills the process group of `pid` and reaps `pid`.
void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

bool Ended(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == pid; }

// Whether a server on local `port` greets with 220 within 5 s.
bool Greets(int port) {
  return Run("/bin/bash", {"-c", "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port) + " && timeout 5 head -c 3 <&3"})
             .out == "220";
}

}  // namespace

FtpServer::FtpServer(const std::string& mode, const std::vector<FtpUser>& users, bool anonymous)
    : root_(dir_ / "root") {
  Shell("mkdir -p '" + root_ + "'");
  std::vector<std::string> args = {"/usr/bin/python3", SourceDir() + "/tests/harness/ftp_server.py", "--root", root_,
                                   "--mode", mode, "--log", dir_ / "commands.log"};
  for (const FtpUser& user : users) {
    args.insert(args.end(), {"--user", user.login, "--password", user.password});
  }
  if (anonymous) args.push_back("--anonymous");
  pid_ = Spawn(args, dir_ / "port", dir_ / "server.err");
  // The script prints its port once it accepts connections.
  for (int tries = 0; tries < 300 && !Ended(pid_); ++tries) {
    const std::string line = ReadFile(dir_ / "port");
    if (!line.empty() && line.back() == '\n') {
      port_ = std::stoi(line);
      return;
    }
    usleep(50000);
  }
  Stop(pid_);
  throw std::runtime_error("FTP test server failed to start: " + ReadFile(dir_ / "server.err"));
}

FtpServer::~FtpServer() { Stop(pid_); }

std::string FtpServer::Url(const std::string& path) const {
  return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> FtpServer::Commands(size_t from) const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(dir_ / "commands.log"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return std::vector<std::string>(lines.begin() + std::min(from, lines.size()), lines.end());
}

int ClosedLocalPort() {
  return std::stoi(Run("/usr/bin/python3", {"-c", "import socket; s = socket.socket(); s.bind(('127.0.0.1', 0)); "
                                                  "print(s.getsockname()[1])"}).out);
}

TestCertificates::TestCertificates() {
  const std::string req = "cd '" + dir_.path() + "' && openssl req -newkey rsa:2048 -nodes -days 2 ";
  const std::string quiet = " >/dev/null 2>&1";
  Shell(req + "-x509 -subj '/CN=dumpkeep test CA' -keyout ca.key -out ca.pem" + quiet);
  // Two certificates the CA signs: one for the test server's address, one for another host.
  for (const auto& one :
       std::vector<std::pair<std::string, std::string>>{{"good", "subjectAltName=IP:127.0.0.1,DNS:localhost"},
                                                        {"wrong-host", "subjectAltName=DNS:elsewhere.invalid"}}) {
    const std::string& kind = one.first;
    WriteFile(dir_ / (kind + ".ext"), one.second + "\n");
    Shell(req + "-subj '/CN=" + kind + "' -keyout " + kind + ".key -out " + kind + ".csr" + quiet +
          " && openssl x509 -req -in " + kind + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile " +
          kind + ".ext -out " + kind + ".pem" + quiet);
  }
  Shell(req + "-x509 -subj '/CN=127.0.0.1' -addext 'subjectAltName=IP:127.0.0.1' -keyout self-signed.key "
        "-out self-signed.pem" + quiet);
}

RealFtpServer::RealFtpServer(const std::string& kind, const std::string& cert, const std::string& key)
    : kind_(kind), root_(dir_ / "root") {
  const char* ftpd = std::getenv("DUMPKEEP_FTPD_DIR");
  const std::string binary = (ftpd && *ftpd ? ftpd : "/opt/dumpkeep-ftpd") + std::string("/usr/sbin/") + kind;
  if (access(binary.c_str(), X_OK) != 0) {
    throw std::runtime_error(binary + " is missing: run scripts/install_ftp_servers.sh");
  }
  // vsftpd refuses a top directory its user may write to; the others do not mind.
  Shell("mkdir -p '" + root_ + "' && chmod 755 '" + root_ + "' && chmod 711 '" + dir_.path() + "'");
  port_ = ClosedLocalPort();
  std::vector<std::string> args = {"/bin/bash", SourceDir() + "/tests/harness/real_ftpd.sh", kind, root_,
                                   std::to_string(port_), dir_ / "state"};
  if (!cert.empty()) args.insert(args.end(), {cert, key});
  pid_ = Spawn(args, dir_ / "server.out", dir_ / "server.err");
  for (int tries = 0; tries < 600 && !Ended(pid_); ++tries) {
    if (Greets(port_)) return;
    usleep(50000);
  }
  Stop(pid_);
  throw std::runtime_error(kind + " did not start: " + ReadFile(dir_ / "server.out") + ReadFile(dir_ / "server.err"));
}

RealFtpServer::~RealFtpServer() { Stop(pid_); }

void RealFtpServer::Share() const { Shell("find '" + root_ + "' -mindepth 1 -exec chmod a+rwX {} +"); }

std::string RealFtpServer::Url(const std::string& path, const std::string& scheme) const {
  const std::string login = kind_ == "vsftpd" ? "anonymous" : "dk";
  return scheme + "://" + login + "@127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace dktest
