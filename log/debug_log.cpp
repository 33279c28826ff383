#include "log/debug_log.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include <log4cpp/Appender.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/PropertyConfigurator.hh>

#include "log/session.h"
#include "log/product_paths.h"
#include "log/text_formatter.h"

namespace ovrin {

DebugLog* theDebugLog = nullptr;
bool log4cppInitialized = false;

namespace {

log4cpp::Category& Logger() {
  static log4cpp::Category& logger = log4cpp::Category::getInstance("p.log");
  return logger;
}

// Sets an environment variable for its lifetime and then puts back what was
// there before, so that child processes never see it.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    if (old) previous_.reset(new std::string(old));
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (previous_) {
      ::setenv(name_, previous_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::unique_ptr<std::string> previous_;
};

}  // namespace

void Log4cppDebugLog::log(const std::string& text) {
  // Progress watches log from threads of their own; lines never interleave.
  static std::mutex lineMutex;
  std::lock_guard<std::mutex> lock(lineMutex);
  Logger().info(text);
}

void Log4cppDebugLog::log(const boost::format& f) { log(f.str()); }

void Log4cppDebugLog::log(const ExTraceable& e) { log(formatPlainTextMessage(e)); }

void initializeLog4Cpp(bool debug) {
  const std::string logFile = theSession->getLogFileName();
  if (log4cppInitialized) return;
  // The stock configurator has no variable map, but it takes the value of
  // ${NAME} from the environment after it has split the text into lines,
  // stripped comments and trimmed blanks. So the session path reaches the
  // appenders byte for byte: a '#', a newline or a "${...}" in it is never
  // read as properties text, as it would be if it were pasted in.
  ScopedVariable variable("LOG_FILE_NAME", logFile);
  log4cpp::PropertyConfigurator::configure(files::getTavLogConfigFileName());
  if (!debug) {
    log4cpp::Category& root = log4cpp::Category::getRoot();
    if (log4cpp::Appender* a2 = root.getAppender("A2")) root.removeAppender(a2);
  }
  log4cppInitialized = true;
}

DebugLogLifetimeController::DebugLogLifetimeController(bool verbose, bool debug) {
  initializeLog4Cpp(debug);
  theDebugLog = new Log4cppDebugLog(verbose && !debug, debug);
}

DebugLogLifetimeController::~DebugLogLifetimeController() {
  delete theDebugLog;
  theDebugLog = nullptr;
}

void LogStep(const std::string& text) {
  if (theDebugLog) theDebugLog->log(text);
}

void LogVerboseMsg(const std::string& text) {
  if (theDebugLog) theDebugLog->log(text);
}

void LogError(const std::string& text) {
  if (theDebugLog) theDebugLog->log(text);
}

void LogMsg(const std::string& text) {
  if (theDebugLog && theDebugLog->isDebugMode()) theDebugLog->log(text);
}

void LogMsg(const ExTraceable& e) {
  if (theDebugLog) theDebugLog->log(e);
}

void LogMsg(const RepoLoggableException<ExTraceable>& e) {
  if (theDebugLog) theDebugLog->log(e.LoggablePart());
}

std::string LogCurrentFailure(const std::string& prefix) {
  try {
    throw;
  } catch (const ExTraceable& e) {
    LogMsg(e);
    return e.what();
  } catch (const RepoLoggableException<ExTraceable>& e) {
    LogMsg(e);
    return e.what();
  } catch (const std::exception& e) {
    LogError(prefix + e.what());
    return e.what();
  } catch (...) {
    LogError(prefix + "unknown error");
    return "unknown error";
  }
}

}  // namespace ovrin
