// The diagnostic log of one run. Library code logs through the free functions
// below, which do nothing while no log is installed (theDebugLog is null).
#pragma once

#include <string>

#include <boost/format.hpp>

#include "errors/error_model.h"
#include "errors/loggable_exceptions.h"

namespace ovrin {

class DebugLog {
 public:
  virtual ~DebugLog() = default;
  virtual void log(const std::string& text) = 0;
  virtual void log(const boost::format& f) = 0;
  // Writes the plain-text rendering of the error with all its nested causes.
  virtual void log(const ExTraceable& e) = 0;
  virtual bool isVerboseMode() const = 0;
  virtual bool isDebugMode() const = 0;
};

// The log4cpp category "p.log", configured from the backup manager's
// properties file. Messages are written with priority INFO.
class Log4cppDebugLog : public DebugLog {
 public:
  Log4cppDebugLog(bool verbose, bool debug) : verbose_(verbose), debug_(debug) {}
  void log(const std::string& text) override;
  void log(const boost::format& f) override;
  void log(const ExTraceable& e) override;
  bool isVerboseMode() const override { return verbose_; }
  bool isDebugMode() const override { return debug_; }

 private:
  bool verbose_;
  bool debug_;
};

// The active log, owned by DebugLogLifetimeController; null when there is none.
extern DebugLog* theDebugLog;
extern bool log4cppInitialized;

// Configures log4cpp once per process from the properties file, with the
// variable LOG_FILE_NAME set to the session's log file; outside debug mode the
// appender "A2" is removed from the root category. Needs theSession.
void initializeLog4Cpp(bool debug);

// Installs a Log4cppDebugLog for its lifetime. Verbose mode holds only
// without debug mode.
class DebugLogLifetimeController {
 public:
  DebugLogLifetimeController(bool verbose, bool debug);
  ~DebugLogLifetimeController();
  DebugLogLifetimeController(const DebugLogLifetimeController&) = delete;
  DebugLogLifetimeController& operator=(const DebugLogLifetimeController&) = delete;
};

// Major steps; always written.
void LogStep(const std::string& text);
// Progress detail; always written.
void LogVerboseMsg(const std::string& text);
// Errors; always written.
void LogError(const std::string& text);
// Debug detail; written only in debug mode.
void LogMsg(const std::string& text);
// Errors as objects; always written, with all their levels.
void LogMsg(const ExTraceable& e);
void LogMsg(const RepoLoggableException<ExTraceable>& e);
// Logs the exception being handled (a tagged error with all its levels, any
// other one as an error line `prefix` + its text) and returns its text
// ("unknown error" for one that is no std::exception). Call only inside a
// catch block.
std::string LogCurrentFailure(const std::string& prefix = "");

}  // namespace ovrin
