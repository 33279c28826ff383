#include "log/text_formatter.h"

#include <memory>

#include <gtest/gtest.h>

using namespace ovrin;

OVRIN_DEFINE_TAG(LevelTag, "LevelTag", "level %1%")
OVRIN_DEFINE_TAG(CauseTag, "CauseTag", "cause %1%")

// Levels render as "code: message [file:line]", outermost first, also from a clone outliving its origin.
TEST(TextFormatter, RendersEveryLevelOutermostFirstAlsoFromAClone) {
  std::unique_ptr<ExTraceable> copy;
  {
    Exc<&CauseTag> inner("f", "./inner.cpp", 30), middle("g", "./middle.cpp", 20);
    Exc<&LevelTag> outer("h", "./outer.cpp", 10);
    middle.SetNested(inner % 3);
    outer.SetNested(middle % 2);
    copy.reset((outer % 1).clone());
  }
  EXPECT_EQ("LevelTag: level 1 [./outer.cpp:10]\nInner exception:\nCauseTag: cause 2 [./middle.cpp:20]\n"
            "Inner exception:\nCauseTag: cause 3 [./inner.cpp:30]",
            formatPlainTextMessage(*copy));
}

// Shell-special bytes are escaped, newlines quoted, all other bytes copied; an empty argument is ''.
TEST(ShQuote, EscapesShellSpecialBytesAndQuotesNewlines) {
  EXPECT_EQ("\\$HOME\\;\\|\\&\\`x\\`\\\\\\\"\\'\\*\\?\\[\\~\\#\\(\\)\\<\\>\\\t\\ a'\n'b",
            sh_quote("$HOME;|&`x`\\\"'*?[~#()<>\t a\nb"));
  EXPECT_EQ("plain/path-1.2_x=y,z%]{}\xc3\xa9", sh_quote("plain/path-1.2_x=y,z%]{}\xc3\xa9"));
  EXPECT_EQ("|''", sh_quote("") + "|" + sh_quote_arg(""));
}
