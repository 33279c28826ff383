#include "log/text_formatter.h"

#include <boost/format.hpp>

namespace ovrin {

void TextMsgFormatter::advanceToInnerException() { text_ += RenderLevel() + "\nInner exception:\n"; }

std::string TextMsgFormatter::getText() const { return text_ + RenderLevel(); }

std::string TextMsgFormatter::RenderLevel() const {
  return (boost::format("%1%: %2% [%3%:%4%]") % code_ % message_ % file_ % line_).str();
}

std::string formatPlainTextMessage(const ExTraceable& e) {
  TextMsgFormatter formatter;
  e.accept(formatter);
  return formatter.getText();
}

namespace {

enum EscapeAction : unsigned char { kCopy = 0, kEscape = 1, kQuote = 2 };

struct ShellEscapeTable {
  EscapeAction entries[256];
  ShellEscapeTable() {
    for (auto& e : entries) e = kCopy;
    for (unsigned char c : std::string("\t \"#$&'()*;<>?[\\`|~")) entries[c] = kEscape;
    entries[static_cast<unsigned char>('\n')] = kQuote;
  }
};

const ShellEscapeTable shell_escape_chars;

}  // namespace

std::string sh_quote(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    switch (shell_escape_chars.entries[static_cast<unsigned char>(c)]) {
      case kEscape: result += '\\'; result += c; break;
      case kQuote: result += "'\n'"; break;
      default: result += c;
    }
  }
  return result;
}

std::string sh_quote_arg(const std::string& text) { return text.empty() ? "''" : sh_quote(text); }

}  // namespace ovrin
