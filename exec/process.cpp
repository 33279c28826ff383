// Starting a child on three pipes and draining them with select.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "errors/system_error.h"
#include "exec/exec_cmd.h"
#include "hostlib/messlog.h"

namespace {

const size_t kChunk = 4096;

// One descriptor, closed when it goes out of scope unless closed earlier.
class Fd {
 public:
  Fd() = default;
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// A pipe whose parent-side end survives the run and whose child-side end is
// closed once the child holds its copy.
struct Pipe {
  Fd read;
  Fd write;
};

void MakePipe(Pipe& p) {
  int fds[2];
  if (::pipe(fds) != 0) messlog2(1, 3, "forkExecvGetOutErr: pipe() failed");
  p.read.reset(fds[0]);
  p.write.reset(fds[1]);
}

void SetNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    messlog2(1, 3, "forkExecvGetOutErr: fcntl(O_NONBLOCK) failed");
  }
}

// Writing to a child that has stopped reading its input must not kill this
// process: SIGPIPE is ignored while a run lasts, so the write fails with EPIPE.
// The child gets the disposition that was in force before.
class SigpipeIgnored {
 public:
  SigpipeIgnored() {
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    installed_ = ::sigaction(SIGPIPE, &ignore, &previous_) == 0;
  }
  ~SigpipeIgnored() {
    if (installed_) ::sigaction(SIGPIPE, &previous_, nullptr);
  }
  SigpipeIgnored(const SigpipeIgnored&) = delete;
  SigpipeIgnored& operator=(const SigpipeIgnored&) = delete;
  void RestoreInChild() const {
    if (installed_) ::sigaction(SIGPIPE, &previous_, nullptr);
  }

 private:
  struct sigaction previous_;
  bool installed_ = false;
};

const SigpipeIgnored* theSigpipeGuard = nullptr;

// Waits for the child, retrying interrupted waits. ECHILD (the system reaped
// the child itself) and any other failure end with -1.
int WaitForChild(pid_t pid) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -1;
}

// A started child that has not been waited for. When the run is abandoned by
// an exception the child is killed and reaped so that no orphan lingers.
class ChildGuard {
 public:
  explicit ChildGuard(pid_t pid) : pid_(pid) {}
  ~ChildGuard() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      WaitForChild(pid_);
    }
  }
  ChildGuard(const ChildGuard&) = delete;
  ChildGuard& operator=(const ChildGuard&) = delete;
  int Wait() {
    int code = WaitForChild(pid_);
    pid_ = -1;
    return code;
  }

 private:
  pid_t pid_;
};

// Ends the child after a failure of its set-up. _exit, not exit: nothing of
// the parent (static destructors, atexit handlers, stdio buffers) may run twice.
[[noreturn]] void ChildFail(const char* text) {
  messlog2(0, 3, "%s", text);
  ::_exit(1);
}

// Moves a descriptor that the child must wire to 0, 1 or 2 out of that range,
// so wiring one of them cannot overwrite another that is still needed.
int AboveStandard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD, 3);
  return moved < 0 ? fd : moved;
}

void CloseFrom3() {
  if (::close_range(3, ~0U, 0) == 0) return;
  long max = ::sysconf(_SC_OPEN_MAX);
  if (max < 0) max = 1024;
  for (long fd = 3; fd < max; ++fd) ::close(static_cast<int>(fd));
}

[[noreturn]] void RunChild(int in, int out, int err, const std::string& path, const ArgList& args, unsigned uid,
                           const std::map<std::string, std::string>& env, pid_t parent) {
  // A child never outlives this process: killed half way through an import,
  // a tar left running would go on writing. SIGTERM rather than SIGKILL, so
  // that a child running children of its own (the joining script) can end
  // them too. A parent already gone before this line is seen by getppid.
  if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) ::_exit(1);
  try {
    in = AboveStandard(in);
    out = AboveStandard(out);
    err = AboveStandard(err);
    dup2Custom(in, 0);
    dup2Custom(out, 1);
    dup2Custom(err, 2);
  } catch (const std::exception& e) {
    ChildFail(e.what());
  } catch (...) {
    ChildFail("dup2Custom failed");
  }
  CloseFrom3();
  if (theSigpipeGuard) theSigpipeGuard->RestoreInChild();
  if (uid != static_cast<unsigned>(-1) && ::setuid(uid) != 0) {
    ChildFail("forkExecvPipes: setuid() failed");
  }
  for (const auto& entry : env) {
    if (::setenv(entry.first.c_str(), entry.second.c_str(), 1) != 0) {
      ChildFail("forkExecvPipes: setenv() falied");
    }
  }
  ::execvp(path.c_str(), args.Argv());
  messlog2(0, 3, "forkExecvPipes: execv() failed: %s\n", std::strerror(errno));
  ::_exit(1);
}

const std::map<std::string, std::string>& EmptyEnv() {
  static const std::map<std::string, std::string> empty;
  return empty;
}

}  // namespace

void dup2Custom(int from, int to) {
  if (from == to) return;
  if (from == -1) {
    from = ::open("/dev/null", O_RDWR);
    if (from < 0) ovrin::throwSystemError("dup2Custom failed", errno);
    if (from == to) return;
  }
  int r;
  do {
    r = ::dup2(from, to);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    int saved = errno;
    ::close(from);
    ovrin::throwSystemError("dup2Custom failed", saved);
  }
  ::close(from);
}

bool readToString(int fd, std::string& s) {
  char buffer[kChunk];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      s.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      return false;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return true;
    } else {
      ovrin::throwSystemError("readToString failed", errno);
    }
  }
}

void writeFromString(int fd, std::string& s) {
  while (!s.empty()) {
    ssize_t n = ::write(fd, s.data(), s.size());
    if (n >= 0) {
      s.erase(0, static_cast<size_t>(n));
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return;
    } else if (errno == EPIPE) {
      // The child closed its input: the rest can never be delivered.
      s.clear();
      return;
    } else {
      ovrin::throwSystemError("writeToString failed", errno);
    }
  }
}

pid_t forkExecvPipes(int in, int out, int err, const std::string& path, const ArgList& args, unsigned uid,
                     const std::map<std::string, std::string>& env) {
  // Output the parent has buffered must not be written a second time by the child.
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) ovrin::throwSystemError("forkExecvPipes: fork() failed", errno);
  if (pid == 0) RunChild(in, out, err, path, args, uid, env, parent);
  return pid;
}

int forkExecvGetInOutErrSuidEnv(std::string input, std::string& out, std::string& err, const std::string& path,
                                const ArgList& args, unsigned uid, const std::map<std::string, std::string>& env) {
  Pipe inPipe, outPipe, errPipe;
  MakePipe(inPipe);
  MakePipe(outPipe);
  MakePipe(errPipe);
  Fd& inEnd = inPipe.write;
  Fd& outEnd = outPipe.read;
  Fd& errEnd = errPipe.read;
  SetNonBlocking(inEnd.get());
  SetNonBlocking(outEnd.get());
  SetNonBlocking(errEnd.get());
  const int maxFd = std::max({inEnd.get(), outEnd.get(), errEnd.get()});

  SigpipeIgnored sigpipe;
  theSigpipeGuard = &sigpipe;
  pid_t pid;
  try {
    pid = forkExecvPipes(inPipe.read.get(), outPipe.write.get(), errPipe.write.get(), path, args, uid, env);
  } catch (...) {
    theSigpipeGuard = nullptr;
    throw;
  }
  theSigpipeGuard = nullptr;
  ChildGuard child(pid);
  inPipe.read.Close();
  outPipe.write.Close();
  errPipe.write.Close();

  while (inEnd.open() || outEnd.open() || errEnd.open()) {
    fd_set wantRead, wantWrite;
    FD_ZERO(&wantRead);
    FD_ZERO(&wantWrite);
    if (outEnd.open()) FD_SET(outEnd.get(), &wantRead);
    if (errEnd.open()) FD_SET(errEnd.get(), &wantRead);
    if (inEnd.open()) FD_SET(inEnd.get(), &wantWrite);
    fd_set readSet = wantRead, writeSet = wantWrite;
    if (::select(maxFd + 1, &readSet, &writeSet, nullptr, nullptr) < 0) {
      if (errno != EINTR) ovrin::throwSystemError("forkExecvGetOutErr: select() failed", errno);
      // Interrupted: every open end is tried; all are non-blocking, so none waits.
      readSet = wantRead;
      writeSet = wantWrite;
    }
    if (inEnd.open() && FD_ISSET(inEnd.get(), &writeSet)) {
      writeFromString(inEnd.get(), input);
      if (input.empty()) inEnd.Close();
    }
    if (outEnd.open() && FD_ISSET(outEnd.get(), &readSet)) {
      if (!readToString(outEnd.get(), out)) outEnd.Close();
    }
    if (errEnd.open() && FD_ISSET(errEnd.get(), &readSet)) {
      if (!readToString(errEnd.get(), err)) errEnd.Close();
    }
  }
  return child.Wait();
}

int forkExecvGetOutErrSuidEnv(std::string& out, std::string& err, const std::string& path, const ArgList& args,
                              unsigned uid, const std::map<std::string, std::string>& env) {
  return forkExecvGetInOutErrSuidEnv(std::string(), out, err, path, args, uid, env);
}

int forkExecvGetOutErrSuid(std::string& out, std::string& err, const std::string& path, const ArgList& args,
                           unsigned uid) {
  return forkExecvGetOutErrSuidEnv(out, err, path, args, uid, EmptyEnv());
}

int forkExecvGetOutErr(std::string& out, std::string& err, const std::string& path, const ArgList& args) {
  return forkExecvGetOutErrSuid(out, err, path, args, static_cast<unsigned>(-1));
}

int forkExecvGetOut(std::string& out, const std::string& path, const ArgList& args) {
  std::string dropped;
  return forkExecvGetOutErr(out, dropped, path, args);
}
