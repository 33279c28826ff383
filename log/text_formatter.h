// Plain-text rendering of tagged errors and shell quoting of command lines.
#pragma once

#include <string>

#include "errors/error_model.h"

namespace ovrin {

// Renders each level of an error as "code: message [file:line]" and joins the
// levels, outermost first, with "\nInner exception:\n".
class TextMsgFormatter : public ExInfoVisitor {
 public:
  void setCode(const std::string& code) override { code_ = code; }
  void setMessage(const std::string& message) override { message_ = message; }
  void setContext(const std::string& context) override { context_ = context; }
  void setFile(const std::string& file) override { file_ = file; }
  void setLine(int line) override { line_ = line; }
  void advanceToInnerException() override;
  // The rendering so far plus the current level.
  std::string getText() const;

 private:
  std::string RenderLevel() const;
  std::string text_;
  std::string code_, context_, file_;
  int line_ = 0;
  std::string message_;
};

std::string formatPlainTextMessage(const ExTraceable& e);

// Each shell-special byte preceded by a backslash, each newline as "'\n'".
std::string sh_quote(const std::string& text);
// sh_quote, with an empty argument written as ''.
std::string sh_quote_arg(const std::string& text);

}  // namespace ovrin
