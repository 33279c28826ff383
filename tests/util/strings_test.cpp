#include "util/strings.h"

#include <gtest/gtest.h>

using namespace ovrin;

// Split drops empty tokens and appends; Replace never rescans what it put in; paths join with one separator.
TEST(Strings, TextAndPathHelpers) {
  std::vector<std::string> parts;
  Split("///", parts, "/");
  Split("/a//b/c/", parts, "/");
  Split("\r\nx\n\ry\n", parts, "\r\n");
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "x", "y"}), parts);
  EXPECT_EQ(".gz|gz|", ExtractExtension("a.tar.gz", '.', true) + "|" + ExtractExtension("a.tar.gz", '.', false) +
                           "|" + ExtractExtension("noext", '.', true));
  EXPECT_TRUE(BeginsWith("abc", "") && EndsWith("abc", "bc"));
  EXPECT_FALSE(BeginsWith("ab", "abc") || EndsWith("c", "bc"));
  EXPECT_EQ("ab|abc", SubstringBefore("ab:cd;e", ";:") + "|" + SubstringBefore("abc", ";"));
  EXPECT_EQ("%2540", Replace("%40", "%", "%25"));
  EXPECT_EQ("bbb|xx|abc", Replace("aaa", "a", "b") + "|" + Replace("aaaa", "aa", "x") + "|" + Replace("abc", "", "z"));
  EXPECT_EQ("a,b,c|a|", Concat({"a", "b", "c"}, ",") + "|" + Concat({"a"}, ",") + "|" + Concat({}, ","));
  EXPECT_EQ("a/b|a/b|b", JoinPath("a", "b") + "|" + JoinPath("a/", "b") + "|" + JoinPath("", "b"));
  EXPECT_EQ("c.xml|a/b||/", PathLeaf("a/b/c.xml") + "|" + PathBranch("a/b/c.xml") + "|" + PathBranch("c.xml") + "|" +
                               PathBranch("/c"));
  EXPECT_EQ("a/b||a", TrimTrailingSlashes("a/b//") + "|" + TrimTrailingSlashes("/") + "|" + TrimTrailingSlashes("a"));
}

// Any bytes become XML text, each bad byte or sequence replaced; text that already is stays as it was.
TEST(Strings, XmlTextKeepsCharactersAndReplacesEverythingElse) {
  const std::string fine = "a\tb\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", bad = "\xEF\xBF\xBD";
  EXPECT_TRUE(IsXmlText(fine) && IsXmlText(""));
  EXPECT_FALSE(IsXmlText(std::string("a\0b", 3)));
  EXPECT_EQ(fine, ToXmlText(fine));
  EXPECT_EQ("c" + bad + bad + "d", ToXmlText("c\x01\x1B" "d"));
  EXPECT_EQ(bad + bad + "x", ToXmlText("\xFF\xFEx"));
  EXPECT_EQ(bad + bad, ToXmlText("\xC0\xAF"));          // an overlong '/'
  EXPECT_EQ(bad + bad + bad, ToXmlText("\xED\xA0\x80"));  // a surrogate
  EXPECT_EQ(bad + bad + bad, ToXmlText("\xEF\xBF\xBE"));  // U+FFFE
  EXPECT_EQ("ok" + bad + bad, ToXmlText("ok\xE2\x82"));    // cut short at the end
}
