#include "hostlib/messlog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_logLevel = 6;

// vsnprintf into a 4096-byte buffer, grown to the exact length when longer.
bool FormatMessage(std::string& out, const char* format, va_list args) {
  std::vector<char> buffer(4096);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(buffer.data(), buffer.size(), format, copy);
  va_end(copy);
  if (n < 0) return false;
  if (static_cast<size_t>(n) >= buffer.size()) {
    buffer.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
  }
  out.assign(buffer.data(), static_cast<size_t>(n));
  return true;
}

void WriteLine(FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void messlog2(int exitCode, int /*level*/, const char* format, ...) {
  const int savedErrno = errno;
  std::string text;
  va_list args;
  va_start(args, format);
  bool ok;
  try {
    ok = FormatMessage(text, format, args);
  } catch (...) {
    ok = false;
  }
  va_end(args);
  if (!ok) {
    text = "Can't allocate memory for error message";
  } else if (savedErrno != 0) {
    text += "\nSystem error " + std::to_string(savedErrno) + ": " + std::strerror(savedErrno);
  }
  WriteLine(stderr, text);
  WriteLine(stdout, text);
  if (exitCode != 0) std::exit(exitCode);
}

void ovr_log(int level, const char* format, ...) {
  if (level > g_logLevel) return;
  std::string text;
  va_list args;
  va_start(args, format);
  bool ok = FormatMessage(text, format, args);
  va_end(args);
  if (!ok) return;
  text += "\n";
  std::fputs(text.c_str(), stderr);
  std::fputs(text.c_str(), stdout);
  std::fflush(stderr);
  std::fflush(stdout);
}

void ovr_set_log_level(int level) { g_logLevel = level; }
