#include "log/start_stop_logger.h"

#include <unistd.h>

#include "log/debug_log.h"
#include "log/text_formatter.h"

namespace ovrin {

StartStopLogger::StartStopLogger(const std::string& name, int argc, char* const* argv)
    : name_(name), pid_(::getpid()) {
  std::string commandLine;
  for (int i = 0; i < argc; ++i) {
    if (i) commandLine += " ";
    commandLine += sh_quote_arg(argv[i]);
  }
  theDebugLog->log(name_ + " started : " + commandLine);
}

StartStopLogger::~StartStopLogger() {
  std::string record = name_ + " finished. ";
  record += exitCode_ == -1 ? " (exit code is not reported)" : "Exit code: " + std::to_string(exitCode_);
  theDebugLog->log(record);
}

}  // namespace ovrin
