#include "errors/error_model.h"

#include <cctype>

namespace ovrin {

namespace {

// `text` with its "%N%" placeholders and "%%" kept and every other '%'
// doubled, so that a stray '%' shows as written.
std::string EscapeStrayPercents(const char* text) {
  std::string escaped;
  for (const char* c = text; *c; ++c) {
    if (*c != '%') {
      escaped += *c;
      continue;
    }
    const char* end = c + 1;
    while (std::isdigit(static_cast<unsigned char>(*end))) ++end;
    if (*end == '%') {
      escaped.append(c, end + 1);
      c = end;
    } else {
      escaped += "%%";
    }
  }
  return escaped;
}

// Raising an error must never raise another: a format that cannot be parsed
// is read again with its stray '%' made literal, and when even that fails it
// is taken as plain text with no placeholder. Either way the format is never
// fed behind the caller's back, so feeding and rendering cannot fail.
boost::format MakeFormat(const char* text) {
  try {
    return boost::format(text);
  } catch (const boost::io::format_error&) {
  }
  try {
    return boost::format(EscapeStrayPercents(text));
  } catch (const boost::io::format_error&) {
  }
  std::string literal;
  for (const char* c = text; *c; ++c) literal += *c == '%' ? "%%" : std::string(1, *c);
  return boost::format(literal);
}

}  // namespace

ExTraceable::ExTraceable(const char* codeName, const char* messageFormat)
    : std::runtime_error(codeName),
      code_(codeName),
      format_(MakeFormat(messageFormat)),
      expected_(format_.expected_args()) {
  // Too few arguments must not make rendering throw: missing ones stay empty.
  format_.exceptions(boost::io::all_error_bits ^ boost::io::too_few_args_bit);
}

ExTraceable::ExTraceable(const ExTraceable& other)
    : Cloneable(other),
      ExVisitable(other),
      std::runtime_error(other),
      code_(other.code_),
      format_(other.format_),
      expected_(other.expected_),
      fed_(other.fed_),
      extra_(other.extra_) {}

ExTraceable::~ExTraceable() = default;

ExTraceable* ExTraceable::clone() const { return new ExTraceable(*this); }

std::string ExTraceable::Message() const {
  try {
    return format_.str() + extra_;
  } catch (const std::exception&) {
    return code_;
  }
}

const char* ExTraceable::what() const noexcept {
  try {
    if (cached_.empty()) cached_ = Message();
    return cached_.c_str();
  } catch (...) {
    return std::runtime_error::what();
  }
}

void ExTraceable::accept(ExInfoVisitor& visitor) const {
  visitor.setCode(code_);
  visitor.setMessage(Message());
}

ExTaggedIncludable::ExTaggedIncludable(const char* codeName, const char* messageFormat)
    : ExTraceable(codeName, messageFormat) {}

ExTaggedIncludable::ExTaggedIncludable(const ExTaggedIncludable& other)
    : ExTraceable(other), nested_(other.nested_ ? other.nested_->clone() : nullptr) {}

ExTaggedIncludable::~ExTaggedIncludable() = default;

ExTaggedIncludable* ExTaggedIncludable::clone() const { return new ExTaggedIncludable(*this); }

void ExTaggedIncludable::accept(ExInfoVisitor& visitor) const {
  ExTraceable::accept(visitor);
  AcceptNested(visitor);
}

void ExTaggedIncludable::SetNested(const ExTraceable& cause) { nested_.reset(cause.clone()); }

void ExTaggedIncludable::AcceptNested(ExInfoVisitor& visitor) const {
  if (nested_) {
    visitor.advanceToInnerException();
    nested_->accept(visitor);
  }
}

}  // namespace ovrin
