#include "errors/error_model.h"

#include <cstring>

#include <gtest/gtest.h>

#include "errors/error_kinds.h"
#include "errors/loggable_exceptions.h"
#include "errors/system_error.h"

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

// Raises the error of kind Tag fed with "x" and 2; any other exception that
// escapes is reported in place of the message.
template <ErrorTag Tag>
std::string RaisedMessage() {
  try {
    throw Exc<Tag>(BOOST_CURRENT_FUNCTION, __FILE__, __LINE__) % "x" % 2;
  } catch (const ExTraceable& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("escaped: ") + e.what();
  }
}

// Records every visitor call so the order of a walk can be checked.
class RecordingVisitor : public ExInfoVisitor {
 public:
  void setCode(const std::string& v) override { calls.push_back("code=" + v); }
  void setMessage(const std::string& v) override { calls.push_back("message=" + v); }
  void setContext(const std::string&) override { calls.push_back("context"); }
  void setFile(const std::string& v) override { calls.push_back("file=" + v); }
  void setLine(int v) override { calls.push_back("line=" + std::to_string(v)); }
  void advanceToInnerException() override { calls.push_back("advance"); }
  std::vector<std::string> calls;
};

TEST(ErrorModel, SingleLevelIsVisitedInContextFileLineCodeMessageOrder) {
  Exc<&OuterTag> e("void f()", "./a.cpp", 12);
  e % "x" % 7;
  EXPECT_STREQ("outer x and 7", e.what());
  EXPECT_STREQ("OuterTag", e.std::runtime_error::what());
  RecordingVisitor v;
  e.accept(v);
  EXPECT_EQ((std::vector<std::string>{"context", "file=./a.cpp", "line=12", "code=OuterTag",
                                      "message=outer x and 7"}),
            v.calls);
}

TEST(ErrorModel, NestedCausesAreWalkedOutermostFirstAndSurviveCloning) {
  Exc<&InnerTag> innermost("g", "./c.cpp", 3);
  innermost % "deep";
  Exc<&InnerTag> middle("g", "./b.cpp", 2);
  middle % "mid";
  middle.SetNested(innermost);
  Exc<&OuterTag> outer("f", "./a.cpp", 1);
  outer % "a" % "b";
  outer.SetNested(middle);

  std::unique_ptr<ExTraceable> copy(outer.clone());
  RecordingVisitor v;
  copy->accept(v);
  int advances = 0;
  std::vector<std::string> messages;
  for (const auto& c : v.calls) {
    if (c == "advance") ++advances;
    if (c.rfind("message=", 0) == 0) messages.push_back(c.substr(8));
  }
  EXPECT_EQ(2, advances);
  EXPECT_EQ((std::vector<std::string>{"outer a and b", "inner mid", "inner deep"}), messages);
  // The clone owns its own causes: the original going away must not matter.
  EXPECT_NE(nullptr, dynamic_cast<Exc<&OuterTag>*>(copy.get()));
}

TEST(ErrorModel, ArgumentsBeyondThePlaceholdersAreAppendedNotFatal) {
  Exc<&XmlWriterError> e("f", "./w.cpp", 1);
  e % "error at xmlTextWriterWriteText";
  EXPECT_STREQ("Xml writer error: error at xmlTextWriterWriteText", e.what());
  Exc<&OuterTag> missing("f", "./w.cpp", 1);
  missing % "only";
  EXPECT_STREQ("outer only and ", missing.what());

  // A stray '%' is shown as written and raising never turns into another error.
  EXPECT_EQ("x done 100% 2", RaisedMessage<&TrailingPercent>());
  EXPECT_EQ("50% of x 2", RaisedMessage<&LeadingPercent>());
  EXPECT_EQ("% x 2", RaisedMessage<&LonePercent>());
  EXPECT_EQ("x as %s 2", RaisedMessage<&MixedDirectives>());
  EXPECT_EQ("%0% of %1% x 2", RaisedMessage<&ZeroPlaceholder>());
}

TEST(ErrorModel, LoggableExceptionsAreNotTaggedErrorsButAreStdExceptions) {
  auto raise = [] { throw OVRIN_EXCEPTION(RepositoryException, "broken", 2); };
  bool caughtAsTagged = false, caughtAsStd = false;
  try {
    try {
      raise();
    } catch (const ExTraceable&) {
      caughtAsTagged = true;
    }
  } catch (const std::exception& e) {
    caughtAsStd = true;
    EXPECT_STREQ("Repository error: broken", e.what());
  }
  EXPECT_FALSE(caughtAsTagged);
  EXPECT_TRUE(caughtAsStd);

  try {
    raise();
  } catch (RepositoryException& e) {
    EXPECT_EQ(2, e.status);
    EXPECT_EQ("RepositoryError", e.LoggablePart().Code());
    RecordingVisitor v;
    e.LoggablePart().accept(v);
    EXPECT_EQ("message=Repository error: broken", v.calls.back());
  }
  TransportException plain("t", __FILE__, "f", __LINE__);
  EXPECT_EQ(0, plain.status);
}

TEST(ErrorModel, SystemErrorsAreCaughtByErrnoAndCarryTheSystemText) {
  try {
    throwSystemError("open", 2);
  } catch (const ExSystemError<2>& e) {
    EXPECT_EQ(std::string("open: ") + std::strerror(2), e.what());
  }
  bool generic = false;
  try {
    throwSystemError("", 13);
  } catch (const ExSystemError<2>&) {
    FAIL() << "errno 13 must not be caught as ENOENT";
  } catch (const SystemError& e) {
    generic = true;
    EXPECT_EQ(std::strerror(13), std::string(e.what()));
    EXPECT_EQ(13, e.Errno());
  }
  EXPECT_TRUE(generic);
}

}  // namespace
}  // namespace ovrin
