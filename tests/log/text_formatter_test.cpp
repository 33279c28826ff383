#include "log/text_formatter.h"

#include <gtest/gtest.h>

namespace ovrin {
namespace {

OVRIN_DEFINE_TAG(LevelTag, "LevelTag", "level %1%")

// Every level is rendered as "code: message [file:line]", outermost first.
TEST(TextFormatter, RendersEveryLevelOutermostFirst) {
  Exc<&LevelTag> inner("f", "./inner.cpp", 30);
  inner % 3;
  Exc<&LevelTag> middle("f", "./middle.cpp", 20);
  middle % 2;
  middle.SetNested(inner);
  Exc<&LevelTag> outer("f", "./outer.cpp", 10);
  outer % 1;
  outer.SetNested(middle);
  EXPECT_EQ("LevelTag: level 1 [./outer.cpp:10]\nInner exception:\n"
            "LevelTag: level 2 [./middle.cpp:20]\nInner exception:\n"
            "LevelTag: level 3 [./inner.cpp:30]",
            formatPlainTextMessage(outer));
}

// Shell-special bytes are escaped, newlines quoted, all other bytes copied;
// an empty argument is shown as ''.
TEST(ShQuote, EscapesShellSpecialBytesAndQuotesNewlines) {
  EXPECT_EQ("--name=a\\ b", sh_quote("--name=a b"));
  EXPECT_EQ("\\$HOME\\;\\|\\&\\`x\\`\\\\\\\"\\'\\*\\?\\[\\~\\#\\(\\)\\<\\>\\\t", sh_quote("$HOME;|&`x`\\\"'*?[~#()<>\t"));
  EXPECT_EQ("a'\n'b", sh_quote("a\nb"));
  EXPECT_EQ("plain/path-1.2_x=y,z%]{}\xc3\xa9", sh_quote("plain/path-1.2_x=y,z%]{}\xc3\xa9"));
  EXPECT_EQ("", sh_quote(""));
  EXPECT_EQ("''", sh_quote_arg(""));
}

}  // namespace
}  // namespace ovrin
