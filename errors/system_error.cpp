#include "errors/system_error.h"

#include <cstring>

namespace ovrin {

SystemError::SystemError(const std::string& message, int error)
    : std::runtime_error(message), error_(error) {}

const char* SystemError::what() const noexcept {
  try {
    if (full_.empty()) {
      std::string message = std::runtime_error::what();
      std::string text = std::strerror(error_);
      full_ = message.empty() ? text : message + ": " + text;
    }
    return full_.c_str();
  } catch (...) {
    return std::runtime_error::what();
  }
}

void throwSystemError(const std::string& message, int error) {
  switch (error) {
    case 1: throw ExSystemError<1>(message);
    case 2: throw ExSystemError<2>(message);
    case 4: throw ExSystemError<4>(message);
    case 10: throw ExSystemError<10>(message);
    case 11: throw ExSystemError<11>(message);
    default: throw SystemError(message, error);
  }
}

}  // namespace ovrin
