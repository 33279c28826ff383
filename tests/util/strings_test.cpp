#include "util/strings.h"

#include <gtest/gtest.h>

namespace ovrin {
namespace {

// Split appends the tokens between any of the separators, empty ones dropped.
TEST(Strings, SplitDropsEmptyTokensAtEveryPosition) {
  std::vector<std::string> parts;
  Split("///", parts, "/");
  Split("/a//b/c/", parts, "/");
  Split("\r\nx\n\ry\n", parts, "\r\n");
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "x", "y"}), parts);
}

// Extensions, prefixes, suffixes, the text before the first of some
// characters; Replace scans left to right and never rescans what it put in.
TEST(Strings, SmallTextHelpers) {
  EXPECT_EQ(".gz", ExtractExtension("a.tar.gz", '.', true));
  EXPECT_EQ("gz", ExtractExtension("a.tar.gz", '.', false));
  EXPECT_EQ("", ExtractExtension("noext", '.', true));
  EXPECT_TRUE(BeginsWith("abc", ""));
  EXPECT_FALSE(BeginsWith("ab", "abc"));
  EXPECT_TRUE(EndsWith("abc", "bc"));
  EXPECT_FALSE(EndsWith("c", "bc"));
  EXPECT_EQ("ab", SubstringBefore("ab:cd;e", ";:"));
  EXPECT_EQ("abc", SubstringBefore("abc", ";"));
  EXPECT_EQ("%2540", Replace("%40", "%", "%25"));
  EXPECT_EQ("bbb", Replace("aaa", "a", "b"));
  EXPECT_EQ("xx", Replace("aaaa", "aa", "x"));
  EXPECT_EQ("abc", Replace("abc", "", "z"));
  EXPECT_EQ("a,b,c", Concat({"a", "b", "c"}, ","));
  EXPECT_EQ("a", Concat({"a"}, ","));
  EXPECT_EQ("", Concat({}, ","));
}

// Names from disks and servers may hold any bytes; what reaches a document
// must be XML text, and text that already is stays exactly as it was.
TEST(Strings, XmlTextKeepsCharactersAndReplacesEverythingElse) {
  const std::string fine = "a\tb\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_TRUE(IsXmlText(fine));
  EXPECT_EQ(fine, ToXmlText(fine));
  const std::string bad = "\xEF\xBF\xBD";
  EXPECT_EQ("c" + bad + bad + "d", ToXmlText("c\x01\x1B" "d"));
  EXPECT_EQ(bad + bad + "x", ToXmlText("\xFF\xFEx"));
  EXPECT_EQ(bad + bad, ToXmlText("\xC0\xAF"));          // an overlong '/'
  EXPECT_EQ(bad + bad + bad, ToXmlText("\xED\xA0\x80"));  // a surrogate
  EXPECT_EQ(bad + bad + bad, ToXmlText("\xEF\xBF\xBE"));  // U+FFFE
  EXPECT_EQ("ok" + bad + bad, ToXmlText("ok\xE2\x82"));    // cut short at the end
  EXPECT_FALSE(IsXmlText(std::string("a\0b", 3)));
  EXPECT_TRUE(IsXmlText(""));
}

// Joining paths with one separator, and the leaf and branch of a path.
TEST(Strings, PathPieces) {
  EXPECT_EQ("a/b", JoinPath("a", "b"));
  EXPECT_EQ("a/b", JoinPath("a/", "b"));
  EXPECT_EQ("b", JoinPath("", "b"));
  EXPECT_EQ("c.xml", PathLeaf("a/b/c.xml"));
  EXPECT_EQ("a/b", PathBranch("a/b/c.xml"));
  EXPECT_EQ("", PathBranch("c.xml"));
  EXPECT_EQ("/", PathBranch("/c"));
  EXPECT_EQ("a/b", TrimTrailingSlashes("a/b//"));
  EXPECT_EQ("", TrimTrailingSlashes("/"));
  EXPECT_EQ("a", TrimTrailingSlashes("a"));
}

}  // namespace
}  // namespace ovrin
