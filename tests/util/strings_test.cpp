#include "util/strings.h"

#include <gtest/gtest.h>

namespace ovrin {
namespace {

TEST(Strings, SplitDropsEmptyTokensAtEveryPosition) {
  std::vector<std::string> parts;
  Split("/a//b/c/", parts, "/");
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), parts);
  Split("\r\nx\n\ry\n", parts, "\r\n");
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "x", "y"}), parts);
  std::vector<std::string> none;
  Split("///", none, "/");
  EXPECT_TRUE(none.empty());
}

TEST(Strings, ExtensionsPrefixesAndSuffixes) {
  EXPECT_EQ(".gz", ExtractExtension("a.tar.gz", '.', true));
  EXPECT_EQ("gz", ExtractExtension("a.tar.gz", '.', false));
  EXPECT_EQ("", ExtractExtension("noext", '.', true));
  EXPECT_TRUE(BeginsWith("abc", ""));
  EXPECT_FALSE(BeginsWith("ab", "abc"));
  EXPECT_TRUE(EndsWith("abc", "bc"));
  EXPECT_FALSE(EndsWith("c", "bc"));
  EXPECT_EQ("ab", SubstringBefore("ab:cd;e", ";:"));
  EXPECT_EQ("abc", SubstringBefore("abc", ";"));
}

TEST(Strings, ReplaceIsLeftToRightWithoutRescanning) {
  EXPECT_EQ("%2540", Replace("%40", "%", "%25"));
  EXPECT_EQ("bbb", Replace("aaa", "a", "b"));
  EXPECT_EQ("xx", Replace("aaaa", "aa", "x"));
  EXPECT_EQ("abc", Replace("abc", "", "z"));
  EXPECT_EQ("a,b,c", Concat({"a", "b", "c"}, ","));
  EXPECT_EQ("a", Concat({"a"}, ","));
  EXPECT_EQ("", Concat({}, ","));
}

TEST(Strings, PathPieces) {
  EXPECT_EQ("a/b", JoinPath("a", "b"));
  EXPECT_EQ("a/b", JoinPath("a/", "b"));
  EXPECT_EQ("b", JoinPath("", "b"));
  EXPECT_EQ("c.xml", PathLeaf("a/b/c.xml"));
  EXPECT_EQ("a/b", PathBranch("a/b/c.xml"));
  EXPECT_EQ("", PathBranch("c.xml"));
  EXPECT_EQ("/", PathBranch("/c"));
}

}  // namespace
}  // namespace ovrin
