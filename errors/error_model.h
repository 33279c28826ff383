// Tagged errors: every failure of the utility is one of these (or one of the
// loggable exceptions built on them). An error kind is a tag function that
// returns its code name when called with true and its message format (Boost.Format
// notation, "%1%", "%2%", ...) when called with false.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include <boost/current_function.hpp>
#include <boost/format.hpp>

// Anything that can make a heap copy of its full dynamic type.
class Cloneable {
 public:
  virtual ~Cloneable() = default;
  // Returns a new copy; the caller owns it.
  virtual Cloneable* clone() const = 0;
};

namespace ovrin {

typedef const char* (*ErrorTag)(bool codeName);

// Receives the levels of an error, outermost first. For each level the tagged
// error calls setContext, setFile, setLine, setCode, setMessage in this order;
// advanceToInnerException() closes a level before its nested cause begins.
class ExInfoVisitor {
 public:
  virtual ~ExInfoVisitor() = default;
  virtual void setCode(const std::string& code) = 0;
  virtual void setMessage(const std::string& message) = 0;
  virtual void setContext(const std::string& context) = 0;
  virtual void setFile(const std::string& file) = 0;
  virtual void setLine(int line) = 0;
  virtual void advanceToInnerException() = 0;
};

class ExVisitable {
 public:
  virtual ~ExVisitable() = default;
  virtual void accept(ExInfoVisitor& visitor) const = 0;
};

// A tagged error without source location. The runtime_error text is the code
// name; what() is the message format with the fed arguments substituted.
class ExTraceable : public Cloneable, public ExVisitable, public std::runtime_error {
 public:
  ExTraceable(const char* codeName, const char* messageFormat);
  ExTraceable(const ExTraceable& other);
  ExTraceable& operator=(const ExTraceable&) = delete;
  ~ExTraceable() override;

  ExTraceable* clone() const override;
  // The formatted message; valid as long as this object lives.
  const char* what() const noexcept override;
  void accept(ExInfoVisitor& visitor) const override;

  const std::string& Code() const { return code_; }
  std::string Message() const;

  // Feeds the next placeholder. Arguments beyond the placeholders of the format
  // are not an error: they are appended to the message, separated by a blank.
  template <class T>
  void Feed(const T& value) {
    if (fed_ < expected_) {
      format_ % value;
    } else {
      extra_ += " " + (boost::format("%1%") % value).str();
    }
    ++fed_;
    cached_.clear();
  }

 private:
  std::string code_;
  boost::format format_;
  int expected_;
  int fed_ = 0;
  std::string extra_;
  mutable std::string cached_;
};

// A tagged error that may carry one nested cause (owned, cloned on copy).
class ExTaggedIncludable : public ExTraceable {
 public:
  ExTaggedIncludable(const char* codeName, const char* messageFormat);
  ExTaggedIncludable(const ExTaggedIncludable& other);
  ~ExTaggedIncludable() override;

  ExTaggedIncludable* clone() const override;
  void accept(ExInfoVisitor& visitor) const override;

  // Takes a copy of `cause` as the nested cause, replacing an earlier one.
  void SetNested(const ExTraceable& cause);
  const ExTraceable* Nested() const { return nested_.get(); }

 protected:
  void AcceptNested(ExInfoVisitor& visitor) const;

 private:
  std::unique_ptr<ExTraceable> nested_;
};

// The error of kind Tag, raised at a place in the source.
template <ErrorTag Tag>
class Exc : public ExTaggedIncludable {
 public:
  Exc(const std::string& context, const std::string& file, int line)
      : ExTaggedIncludable(Tag(true), Tag(false)), context_(context), file_(file), line_(line) {}

  Exc* clone() const override { return new Exc(*this); }

  void accept(ExInfoVisitor& visitor) const override {
    visitor.setContext(context_);
    visitor.setFile(file_);
    visitor.setLine(line_);
    visitor.setCode(Code());
    visitor.setMessage(Message());
    AcceptNested(visitor);
  }

  template <class T>
  Exc& operator%(const T& value) {
    Feed(value);
    return *this;
  }

  const std::string& Context() const { return context_; }
  const std::string& File() const { return file_; }
  int Line() const { return line_; }

 private:
  std::string context_;
  std::string file_;
  int line_;
};

}  // namespace ovrin

// Builds the error of kind `tag` at the current source location; feed its
// arguments with % and throw it: `throw OVRIN_ERROR(Tag) % a % b;`
#define OVRIN_ERROR(tag) ::ovrin::Exc<&tag>(BOOST_CURRENT_FUNCTION, __FILE__, __LINE__)

// Declares a tag function local to a unit: DEFINE_ERROR_TAG(Name, "Name", "fmt").
#define OVRIN_DEFINE_TAG(name, code, format)                 \
  inline const char* name(bool codeName) { return codeName ? code : format; }
