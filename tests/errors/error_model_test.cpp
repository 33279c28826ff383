#include "errors/error_model.h"

#include <cstring>
#include <type_traits>

#include "errors/loggable_exceptions.h"
#include "errors/system_error.h"
#include "tests/support/test_support.h"

using namespace ovrin;

OVRIN_DEFINE_TAG(OuterTag, "OuterTag", "outer %1% and %2%")
OVRIN_DEFINE_TAG(InnerTag, "InnerTag", "inner %1%")
// Formats the format library refuses: a stray '%' at the end or before a non-digit, a "%0%".
OVRIN_DEFINE_TAG(TrailingPercent, "TrailingPercent", "%1% done 100%")
OVRIN_DEFINE_TAG(LeadingPercent, "LeadingPercent", "50% of %1%")
OVRIN_DEFINE_TAG(ZeroPlaceholder, "ZeroPlaceholder", "%0% of %1%")

// The message of the error of kind Tag raised with "x" and 2.
template <ErrorTag Tag>
static std::string Raised() {
  return dktest::ThrownText<ExTraceable>([] { throw Exc<Tag>("f", "./w.cpp", 1) % "x" % 2; });
}

// Missing arguments leave their placeholder empty, extra ones are appended, a stray '%' shows as written.
TEST(ErrorModel, MessagesAreFormattedWhateverTheArguments) {
  Exc<&OuterTag> missing("f", "./w.cpp", 1);
  missing % "only";
  EXPECT_STREQ("outer only and ", missing.what());
  EXPECT_EQ("inner x 2", Raised<&InnerTag>());
  EXPECT_EQ("x done 100% 2", Raised<&TrailingPercent>());
  EXPECT_EQ("50% of x 2", Raised<&LeadingPercent>());
  EXPECT_EQ("%0% of %1% x 2", Raised<&ZeroPlaceholder>());
}

// A loggable exception is no ExTraceable (tagged-error handlers must not take it) and carries its status.
TEST(ErrorModel, LoggableExceptionsAreNotTaggedErrorsButAreStdExceptions) {
  static_assert(std::is_base_of<std::exception, RepositoryException>() &&
                !std::is_base_of<ExTraceable, RepositoryException>(), "a std::exception and no tagged error");
  const RepositoryException e = OVRIN_EXCEPTION(RepositoryException, "broken", 2);
  EXPECT_STREQ("Repository error: broken", e.what());
  EXPECT_EQ(2, e.status);
  EXPECT_EQ("RepositoryError", e.LoggablePart().Code());
  EXPECT_EQ(0, TransportException("t", __FILE__, "f", __LINE__).status);
}

// System errors carry "message: system text" and are caught by their errno where a class exists for it.
TEST(ErrorModel, SystemErrorsAreCaughtByErrnoAndCarryTheSystemText) {
  EXPECT_EQ(std::string("open: ") + std::strerror(2),
            dktest::ThrownText<ExSystemError<2>>([] { throwSystemError("open", 2); }));
  try {
    throwSystemError("", 13);
    ADD_FAILURE() << "nothing was thrown";
  } catch (const SystemError& e) {
    EXPECT_EQ(nullptr, dynamic_cast<const ExSystemError<2>*>(&e)) << "errno 13 must not be caught as ENOENT";
    EXPECT_EQ(std::string(std::strerror(13)) + "|13", e.what() + ("|" + std::to_string(e.Errno())));
  }
}
