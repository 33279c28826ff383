#include "tests/support/ftp_support.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dktest {

namespace {

// Starts `args` in a process group of its own, standard output to `out` and standard error to `err`.
pid_t Spawn(std::vector<std::string> args, const std::string& out, const std::string& err) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    setpgid(0, 0);
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  return pid;
}

bool Ended(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == pid; }

}  // namespace

ServerProcess::~ServerProcess() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL), kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) continue;
}

FtpServer::FtpServer(const std::string& mode, const std::vector<FtpUser>& users, bool anonymous) {
  Shell("mkdir -p '" + root_ + "'");
  std::vector<std::string> args = {"/usr/bin/python3", SourceDir() + "/tests/harness/ftp_server.py", "--root", root_,
                                   "--mode", mode, "--log", dir_ / "commands.log"};
  for (const FtpUser& user : users) args.insert(args.end(), {"--user", user.login, "--password", user.password});
  if (anonymous) args.push_back("--anonymous");
  pid_ = Spawn(args, dir_ / "port", dir_ / "server.err");
  // The script prints its port once it accepts connections.
  for (int tries = 0; tries < 300 && !Ended(pid_); ++tries, usleep(50000)) {
    const std::string line = ReadFile(dir_ / "port");
    if (!line.empty() && line.back() == '\n') {
      port_ = std::stoi(line);
      return;
    }
  }
  throw std::runtime_error("FTP test server failed to start: " + ReadFile(dir_ / "server.err"));
}

std::string FtpServer::Url(const std::string& path, const std::string& login) const {
  return "ftp://" + (login.empty() ? "" : login + "@") + "127.0.0.1:" + std::to_string(port_) + path;
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
  const std::string req = "cd '" + dir_.path() + "' && openssl req -newkey rsa:2048 -nodes -days 2 -subj '/CN=";
  Shell(req + "dumpkeep test CA' -x509 -keyout ca.key -out ca.pem 2>/dev/null");
  Shell(req + "127.0.0.1' -x509 -addext subjectAltName=IP:127.0.0.1 -keyout self-signed.key -out self-signed.pem "
        "2>/dev/null");
  for (const std::string kind : {"good", "wrong-host"}) {
    const std::string names = kind == "good" ? "IP:127.0.0.1,DNS:localhost" : "DNS:elsewhere.invalid";
    Shell(req + kind + "' -keyout " + kind + ".key -out " + kind + ".csr 2>/dev/null && echo subjectAltName=" +
          names + " > " + kind + ".ext && openssl x509 -req -in " + kind + ".csr -CA ca.pem -CAkey ca.key " +
          "-CAcreateserial -days 2 -extfile " + kind + ".ext -out " + kind + ".pem 2>/dev/null");
  }
}

RealFtpServer::RealFtpServer(const std::string& kind, const std::string& cert, const std::string& key) : kind_(kind) {
  // vsftpd refuses a top directory its user may write to; the others do not mind.
  Shell("mkdir -p '" + root_ + "' && chmod 755 '" + root_ + "' && chmod 711 '" + dir_.path() + "'");
  port_ = ClosedLocalPort();
  std::vector<std::string> args = {"/bin/bash", SourceDir() + "/tests/harness/real_ftpd.sh", kind, root_,
                                   std::to_string(port_), dir_ / "state"};
  if (!cert.empty()) args.insert(args.end(), {cert, key});
  pid_ = Spawn(args, dir_ / "server.out", dir_ / "server.err");
  // Up once it greets with 220.
  const std::string greets = "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port_) + " && timeout 5 head -c 3 <&3";
  for (int tries = 0; tries < 600 && !Ended(pid_); ++tries, usleep(50000)) {
    if (Run("/bin/bash", {"-c", greets}).out == "220") return;
  }
  throw std::runtime_error(kind + " did not start: " + ReadFile(dir_ / "server.out") + ReadFile(dir_ / "server.err"));
}

void RealFtpServer::Share() const { Shell("find '" + root_ + "' -mindepth 1 -exec chmod a+rwX {} +"); }

std::string OneDroppedUploadText(std::string out) {
  const std::string reply = "Failure when receiving data from the peer", send = "Failed sending data to the peer";
  const size_t at = out.find(reply);
  if (at != std::string::npos) out.replace(at, reply.size(), send);
  return out;
}

std::string RealFtpServer::Url(const std::string& path, const std::string& scheme) const {
  return scheme + "://" + (kind_ == "vsftpd" ? "anonymous" : "dk") + "@127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace dktest
