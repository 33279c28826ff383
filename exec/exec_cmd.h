// Runs external programs with captured output. Arguments reach the program as
// separate words; no shell is involved. An object is run once.
#pragma once

#include <sys/types.h>

#include <map>
#include <new>
#include <string>

#include "errors/error_model.h"

// The argument vector handed to execvp: owned C strings ending with a null entry.
class ArgList {
 public:
  explicit ArgList(const std::string& program);
  ~ArgList();
  ArgList(const ArgList& other);
  ArgList& operator=(const ArgList&) = delete;
  void Append(const std::string& arg);
  char* const* Argv() const { return argv_; }
  size_t Size() const { return count_; }  // entries before the null

 private:
  char** argv_;
  size_t count_;
  size_t capacity_;
};

namespace ovrin {

class CmdLine {
 public:
  virtual ~CmdLine() = default;
  virtual CmdLine& operator<<(const std::string& arg) = 0;
  virtual void setEnv(const std::string& name, const std::string& value) = 0;
};

class ExecCmd : public CmdLine {
 public:
  // "Execution of %1% failed with return code %2%.\n%3%%4%%5%"
  static const char* Failed(bool codeName);

  explicit ExecCmd(const std::string& path);
  ExecCmd(const ExecCmd& other) = default;

  ExecCmd& operator<<(const std::string& arg) override;
  ExecCmd& operator<<(const char* arg) { return *this << std::string(arg); }
  void setEnv(const std::string& name, const std::string& value) override;
  void setUid(uid_t uid) { uid_ = uid; }
  void setInput(const std::string& input) { input_ = input; }

  // Runs; a non-zero exit status raises ExecCmd::Failed. Returns 0.
  virtual int exec();
  // Runs and returns the exit status (-1 when killed by a signal); raises
  // only SystemError from the process machinery.
  virtual int exec(std::nothrow_t);
  virtual int execCmdLine();

  // The command line, each argument shell-quoted, '' for an empty one.
  std::string getString() const;
  [[noreturn]] void reportError() const;

  const std::map<std::string, std::string>& env() const { return env_; }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  int returnCode() const { return returnCode_; }
  bool started() const { return started_; }
  bool finished() const { return finished_; }
  int lastErrno() const { return lastErrno_; }

 private:
  ArgList args_;
  std::string path_;
  std::string input_;
  std::map<std::string, std::string> env_;
  std::string out_;
  std::string err_;
  bool started_ = false;
  bool finished_ = false;
  int lastErrno_ = 0;
  int returnCode_ = -1;
  uid_t uid_ = static_cast<uid_t>(-1);
};

// ExecCmd that writes the command line, the outcome and the output to the debug log.
class tLogExecCmd : public ExecCmd {
 public:
  using ExecCmd::ExecCmd;
  int exec() override;
  int exec(std::nothrow_t) override;
};

// "The return code was N \nThe output on STDOUT was: \n..." for the debug log.
std::string getReport(const ExecCmd& cmd);

}  // namespace ovrin

// Process helpers: run `path` with `args`, feed `input`, collect both outputs
// completely; return the exit status (0-255) or -1.
int forkExecvGetInOutErrSuidEnv(std::string input, std::string& out, std::string& err, const std::string& path,
                                const ArgList& args, unsigned uid, const std::map<std::string, std::string>& env);
int forkExecvGetOutErrSuidEnv(std::string& out, std::string& err, const std::string& path, const ArgList& args,
                              unsigned uid, const std::map<std::string, std::string>& env);
int forkExecvGetOutErrSuid(std::string& out, std::string& err, const std::string& path, const ArgList& args,
                           unsigned uid);
int forkExecvGetOutErr(std::string& out, std::string& err, const std::string& path, const ArgList& args);
int forkExecvGetOut(std::string& out, const std::string& path, const ArgList& args);
pid_t forkExecvPipes(int in, int out, int err, const std::string& path, const ArgList& args, unsigned uid,
                     const std::map<std::string, std::string>& env);
bool readToString(int fd, std::string& s);
void writeFromString(int fd, std::string& s);
void dup2Custom(int from, int to);
