// Writes the start record of a run (with its quoted command line) on
// construction and the stop record (with the exit code) on destruction.
// theDebugLog must exist for the whole lifetime of the object.
#pragma once

#include <string>

namespace ovrin {

class StartStopLogger {
 public:
  StartStopLogger(const std::string& name, int argc, char* const* argv);
  ~StartStopLogger();
  StartStopLogger(const StartStopLogger&) = delete;
  StartStopLogger& operator=(const StartStopLogger&) = delete;
  void setExitCode(int code) { exitCode_ = code; }

 private:
  std::string name_;
  int pid_;
  int exitCode_ = -1;
};

}  // namespace ovrin
