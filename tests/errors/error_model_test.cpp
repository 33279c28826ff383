#include "errors/error_model.h"

#include <cstring>
#include <type_traits>

#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "errors/system_error.h"
#include "tests/support/test_support.h"

namespace ovrin {
namespace {

OVRIN_DEFINE_TAG(OuterTag, "OuterTag", "outer %1% and %2%")
OVRIN_DEFINE_TAG(InnerTag, "InnerTag", "inner %1%")
// Formats that the format library refuses to parse.
OVRIN_DEFINE_TAG(TrailingPercent, "TrailingPercent", "%1% done 100%")
OVRIN_DEFINE_TAG(LeadingPercent, "LeadingPercent", "50% of %1%")
OVRIN_DEFINE_TAG(LonePercent, "LonePercent", "%")
OVRIN_DEFINE_TAG(MixedDirectives, "MixedDirectives", "%1% as %s")
OVRIN_DEFINE_TAG(ZeroPlaceholder, "ZeroPlaceholder", "%0% of %1%")

// The message of the error of kind Tag raised with "x" and 2; raising it must
// not turn into another exception.
template <ErrorTag Tag>
std::string Raised() {
  return dktest::ThrownText<ExTraceable>([] { throw Exc<Tag>("f", "./w.cpp", 1) % "x" % 2; });
}

// Records every visitor call so the order of a walk can be checked.
class RecordingVisitor : public ExInfoVisitor {
 public:
  void setCode(const std::string& v) override { calls.push_back("code=" + v); }
  void setMessage(const std::string& v) override { calls.push_back("message=" + v); }
  void setContext(const std::string& v) override { calls.push_back("context=" + v); }
  void setFile(const std::string& v) override { calls.push_back("file=" + v); }
  void setLine(int v) override { calls.push_back("line=" + std::to_string(v)); }
  void advanceToInnerException() override { calls.push_back("advance"); }
  std::vector<std::string> calls;
};

// Levels are visited outermost first, each as context, file, line, code,
// message; a clone owns copies of all causes and outlives the original.
TEST(ErrorModel, NestedCausesAreWalkedOutermostFirstAndSurviveCloning) {
  std::unique_ptr<ExTraceable> copy;
  {
    Exc<&InnerTag> innermost("h", "./c.cpp", 3), middle("g", "./b.cpp", 2);
    Exc<&OuterTag> outer("void f()", "./a.cpp", 1);
    middle.SetNested(innermost % "deep");
    outer.SetNested(middle % "mid");
    outer % "a" % 7;
    EXPECT_STREQ("outer a and 7", outer.what());
    EXPECT_STREQ("OuterTag", outer.std::runtime_error::what());
    copy.reset(outer.clone());
  }
  RecordingVisitor v;
  copy->accept(v);
  EXPECT_EQ((std::vector<std::string>{"context=void f()", "file=./a.cpp", "line=1", "code=OuterTag",
                                      "message=outer a and 7", "advance", "context=g", "file=./b.cpp", "line=2",
                                      "code=InnerTag", "message=inner mid", "advance", "context=h", "file=./c.cpp",
                                      "line=3", "code=InnerTag", "message=inner deep"}),
            v.calls);
}

// Missing arguments leave their placeholder empty, extra ones are appended,
// and a stray '%' is shown as written.
TEST(ErrorModel, MessagesAreFormattedWhateverTheArguments) {
  Exc<&OuterTag> missing("f", "./w.cpp", 1);
  missing % "only";
  EXPECT_STREQ("outer only and ", missing.what());
  EXPECT_EQ("outer x and 2", Raised<&OuterTag>());
  EXPECT_EQ("inner x 2", Raised<&InnerTag>());
  EXPECT_EQ("x done 100% 2", Raised<&TrailingPercent>());
  EXPECT_EQ("50% of x 2", Raised<&LeadingPercent>());
  EXPECT_EQ("% x 2", Raised<&LonePercent>());
  EXPECT_EQ("x as %s 2", Raised<&MixedDirectives>());
  EXPECT_EQ("%0% of %1% x 2", Raised<&ZeroPlaceholder>());
}

// A loggable exception is a std::exception but no ExTraceable (a handler for
// tagged errors must not take it); it carries its status and tagged part.
TEST(ErrorModel, LoggableExceptionsAreNotTaggedErrorsButAreStdExceptions) {
  static_assert(std::is_base_of<std::exception, RepositoryException>::value &&
                    !std::is_base_of<ExTraceable, RepositoryException>::value,
                "a loggable exception is a std::exception and no tagged error");
  const RepositoryException e = OVRIN_EXCEPTION(RepositoryException, "broken", 2);
  EXPECT_STREQ("Repository error: broken", e.what());
  EXPECT_EQ(2, e.status);
  EXPECT_EQ("RepositoryError", e.LoggablePart().Code());
  RecordingVisitor v;
  e.LoggablePart().accept(v);
  EXPECT_EQ("message=Repository error: broken", v.calls.back());
  EXPECT_EQ(0, TransportException("t", __FILE__, "f", __LINE__).status);
}

// System errors carry "message: system text" and are caught by their errno
// where a class exists for it, else as the plain SystemError.
TEST(ErrorModel, SystemErrorsAreCaughtByErrnoAndCarryTheSystemText) {
  EXPECT_EQ(std::string("open: ") + std::strerror(2),
            dktest::ThrownText<ExSystemError<2>>([] { throwSystemError("open", 2); }));
  try {
    throwSystemError("", 13);
  } catch (const ExSystemError<2>&) {
    ADD_FAILURE() << "errno 13 must not be caught as ENOENT";
  } catch (const SystemError& e) {
    EXPECT_EQ(std::strerror(13), std::string(e.what()));
    EXPECT_EQ(13, e.Errno());
  }
}

}  // namespace
}  // namespace ovrin
