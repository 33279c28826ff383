// Failures of system calls, carrying errno. ExSystemError<N> exists for the
// errno values callers want to catch by value: EPERM, ENOENT, EINTR, ECHILD, EAGAIN.
#pragma once

#include <stdexcept>
#include <string>

namespace ovrin {

class SystemError : public std::runtime_error {
 public:
  SystemError(const std::string& message, int error);
  // "message: strerror(error)", or only the strerror text for an empty message.
  const char* what() const noexcept override;
  int Errno() const { return error_; }

 private:
  int error_;
  mutable std::string full_;
};

template <int N>
class ExSystemError : public SystemError {
 public:
  explicit ExSystemError(const std::string& message) : SystemError(message, N) {}
};

// Throws ExSystemError<error> for errno 1, 2, 4, 10 and 11, else SystemError.
[[noreturn]] void throwSystemError(const std::string& message, int error);

// Plain stream failures used while copying between streams.
class InputStreamException : public std::exception {
 public:
  const char* what() const noexcept override { return "Input stream error"; }
};

class OutputStreamException : public std::exception {
 public:
  const char* what() const noexcept override { return "Output stream error"; }
};

}  // namespace ovrin
