#include "tests/support/test_support.h"

#include <cstdio>
#include <functional>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "hostlib/ovr_conf.h"

namespace fs = boost::filesystem;

namespace dktest {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/dumpkeep_test_XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed for " + templ);
  path_ = buffer.data();
}

TempDir::~TempDir() {
  boost::system::error_code ec;
  // Tests may leave read-only entries behind; make them removable first.
  Shell("chmod -R u+rwx '" + path_ + "' 2>/dev/null || true");
  fs::remove_all(path_, ec);
}

SampleInstallation::SampleInstallation(const std::string& dbPassword) {
  std::string command = SourceDir() + "/sample/make_sample_installation.sh '" + dir_.path() + "'";
  if (!dbPassword.empty()) command += " '" + dbPassword + "'";
  Shell(command);
  const char* old = std::getenv("OVR_CONF_DIR");
  hadConfDir_ = old != nullptr;
  if (old) oldConfDir_ = old;
  setenv("OVR_CONF_DIR", confDir().c_str(), 1);
  ovrConfReset();
}

SampleInstallation::~SampleInstallation() {
  if (hadConfDir_) {
    setenv("OVR_CONF_DIR", oldConfDir_.c_str(), 1);
  } else {
    unsetenv("OVR_CONF_DIR");
  }
  ovrConfReset();
}

void SampleInstallation::SetConfig(const std::string& name, const std::string& value) {
  std::ofstream out(confDir() + "/ovr.conf", std::ios::app);
  out << name << " " << value << "\n";
  out.close();
  ovrConfReset();
}

namespace {

void Drain(int outFd, int errFd, std::string& out, std::string& err) {
  struct pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? out : err).append(buffer, n);
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env, const std::string& cwd) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    for (const auto& kv : env) {
      if (kv.second == "\x01unset") {
        unsetenv(kv.first.c_str());
      } else {
        setenv(kv.first.c_str(), kv.second.c_str(), 1);
      }
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(program.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  RunResult result;
  Drain(outPipe[0], errPipe[0], result.out, result.err);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

RunResult RunDumpkeep(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                      const std::string& cwd) {
  return Run(DumpkeepBinary(), args, env, cwd);
}

std::string Shell(const std::string& command) {
  RunResult r = Run("/bin/sh", {"-c", command});
  if (r.code != 0) {
    ADD_FAILURE() << "command failed (" << r.code << "): " << command << "\n" << r.err;
  }
  return r.out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListTree(const std::string& dir) {
  std::vector<std::string> result;
  boost::system::error_code ec;
  if (!fs::is_directory(dir, ec)) return result;
  for (fs::recursive_directory_iterator it(dir, ec), end; it != end; it.increment(ec)) {
    if (ec) break;
    std::string rel = it->path().string().substr(dir.size() + 1);
    if (fs::is_directory(fs::symlink_status(it->path()))) rel += "/";
    result.push_back(rel);
  }
  std::sort(result.begin(), result.end());
  return result;
}

std::vector<std::string> SnapshotTree(const std::string& dir) {
  std::vector<std::string> result;
  for (const std::string& rel : ListTree(dir)) {
    struct stat st;
    const std::string full = dir + "/" + rel;
    if (::lstat(full.c_str(), &st) != 0) continue;
    char mode[16];
    std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(st.st_mode));
    std::string line = rel + " mode=" + mode;
    if (S_ISREG(st.st_mode)) {
      line += " size=" + std::to_string(st.st_size) + " hash=" + std::to_string(std::hash<std::string>()(ReadFile(full)));
    }
    result.push_back(line);
  }
  return result;
}

std::string SourceDir() { return DUMPKEEP_SOURCE_DIR; }
std::string DumpkeepBinary() { return DUMPKEEP_BINARY; }

std::string MysqlSocket() {
  const char* s = std::getenv("DUMPKEEP_TEST_MYSQL_SOCKET");
  return s ? s : "";
}

std::string MysqlAdminPassword() {
  const char* s = std::getenv("DUMPKEEP_TEST_MYSQL_PASSWORD");
  return s ? s : "";
}

}  // namespace dktest
