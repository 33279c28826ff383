#include "log/debug_log.h"

#include <fstream>
#include <sstream>

#include <unistd.h>
#include <cstdlib>

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

// Replaces every ${NAME} of the variables in `text`.
std::string ExpandVariables(std::string text, const std::string& name, const std::string& value) {
  const std::string token = "${" + name + "}";
  for (size_t pos = text.find(token); pos != std::string::npos; pos = text.find(token, pos + value.size())) {
    text.replace(pos, token.size(), value);
  }
  return text;
}

}  // namespace

void Log4cppDebugLog::log(const std::string& text) { Logger().info(text); }

void Log4cppDebugLog::log(const boost::format& f) { log(f.str()); }

void Log4cppDebugLog::log(const ExTraceable& e) { log(formatPlainTextMessage(e)); }

void initializeLog4Cpp(bool debug) {
  const std::string logFile = theSession->getLogFileName();
  if (log4cppInitialized) return;
  // The stock configurator has no variable map: the properties text is read,
  // LOG_FILE_NAME expanded, and the result handed to the configurator.
  const std::string propertiesPath = files::getTavLogConfigFileName();
  std::ifstream in(propertiesPath, std::ios::binary);
  if (!in) {
    throw log4cpp::ConfigureFailure("File " + propertiesPath + " does not exist");
  }
  std::stringstream text;
  text << in.rdbuf();
  const std::string expanded = ExpandVariables(text.str(), "LOG_FILE_NAME", logFile);
  // The configurator reads only named files: hand it a private expanded copy.
  char name[] = "/tmp/dumpkeep_log4cpp_XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) throw log4cpp::ConfigureFailure("Unable to expand " + propertiesPath);
  bool written = ::write(fd, expanded.data(), expanded.size()) == static_cast<ssize_t>(expanded.size());
  ::close(fd);
  try {
    if (!written) throw log4cpp::ConfigureFailure("Unable to expand " + propertiesPath);
    log4cpp::PropertyConfigurator::configure(name);
  } catch (...) {
    ::unlink(name);
    throw;
  }
  ::unlink(name);
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

}  // namespace ovrin
