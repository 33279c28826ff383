// The four exception classes with a numeric status that the command line
// catches by class and maps to exit codes. Each holds its tagged error as a
// part rather than as a public base, so a handler for ExTraceable does not
// catch them, while a handler for std::exception still does.
#pragma once

#include <string>

#include "errors/error_model.h"

// A std::exception whose tagged part can be logged.
template <class T>
class RepoLoggableException : public std::exception {
 public:
  ~RepoLoggableException() override = default;
  // The tagged error inside this exception; owned by it.
  virtual T& LoggablePart() = 0;
  virtual const T& LoggablePart() const = 0;
};

namespace ovrin {

const char* RepositoryError(bool codeName);  // "Repository error: %1%"
const char* TransportError(bool codeName);   // "Transport error: %1%"
const char* ImportError(bool codeName);      // "Import error: %1%"
const char* CurlError(bool codeName);        // "Curl error: %1%"

template <ErrorTag Tag>
class LoggableException : public RepoLoggableException<ExTraceable> {
 public:
  LoggableException(const std::string& message, const std::string& file, const std::string& context,
                    int line, int status = 0)
      : status(status), error_(context, file, line) {
    error_ % message;
  }

  const char* what() const noexcept override { return error_.what(); }
  ExTraceable& LoggablePart() override { return error_; }
  const ExTraceable& LoggablePart() const override { return error_; }
  Exc<Tag>& Error() { return error_; }

  int status;

 private:
  Exc<Tag> error_;
};

class RepositoryException : public LoggableException<&RepositoryError> {
  using LoggableException::LoggableException;
};
class TransportException : public LoggableException<&TransportError> {
  using LoggableException::LoggableException;
};
class ImportException : public LoggableException<&ImportError> {
  using LoggableException::LoggableException;
};
class CurlException : public LoggableException<&CurlError> {
  using LoggableException::LoggableException;
};

}  // namespace ovrin

// Constructs a loggable exception at the current source location:
// throw OVRIN_EXCEPTION(RepositoryException, "text", 2);
#define OVRIN_EXCEPTION(cls, message, status) \
  ::ovrin::cls((message), __FILE__, BOOST_CURRENT_FUNCTION, __LINE__, (status))
