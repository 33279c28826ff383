#include "errors/error_model.h"

namespace ovrin {

namespace {

// Counts the distinct positional placeholders of a format; a format that
// cannot be parsed counts as having none, so that feeding never fails.
int ExpectedArgs(const boost::format& f) {
  return f.expected_args();
}

boost::format MakeFormat(const char* text) {
  try {
    boost::format f(text);
    return f;
  } catch (const boost::io::format_error&) {
    boost::format f("%1%");
    return f % text;
  }
}

}  // namespace

ExTraceable::ExTraceable(const char* codeName, const char* messageFormat)
    : std::runtime_error(codeName),
      code_(codeName),
      format_(MakeFormat(messageFormat)),
      expected_(ExpectedArgs(format_)) {
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
