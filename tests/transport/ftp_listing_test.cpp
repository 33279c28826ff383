#include "transport/ftp_listing.h"

#include <gtest/gtest.h>

#include "util/strings.h"

using namespace ovrin;

const std::string GARBAGE = [] {
  std::string line = "-rw-r--r-- 1 o g 12 ";
  for (int i = 0; i < 300000; ++i) line += "a1   ";
  return line;
}();

// Whole names, dates, sizes and kinds from each style; a line refused leaves the record untouched.
TEST(FtpListing, LinesGiveWholeNameSizeDateAndKind) {
  const bool UNIX = false, WIN = true;
  // Each line's fields "name|date|size|kind"; none when it is refused.
  const struct { bool windows; std::string line, fields; } cases[] = {
      {UNIX, "-rw-r--r-- 1 o g 1048576 Jan 10 12:00 d_2401101200.tar", "d_2401101200.tar|Jan 10 12:00|1048576|F"},
      {UNIX, "drwxr-xr-x 2 1000 1000 4096 Dec  1  2023 clients", "clients|Dec  1  2023|4096|D"},
      {UNIX, "lrwxrwxrwx 1 o g 22 Dec  9 12:00 ln.tar -> b.tar", "ln.tar|Dec  9 12:00|22|U"},
      {UNIX, "-rw-r--r-- 1 o g 10 Jan 10 12:00 two  blanks\tand tab", "two  blanks\tand tab|Jan 10 12:00|10|F"},
      {UNIX, "-rw-r--r-- 1 o g 10 Jan 10 12:00  lead.tar", " lead.tar|Jan 10 12:00|10|F"},
      // No group column; numeric owners and a name like a line's tail; an ACL mark and an ISO date.
      {UNIX, "-rw-r--r--   1 owner 2048 Mar  3  2025 nogroup.tar", "nogroup.tar|Mar  3  2025|2048|F"},
      {UNIX, "-rw-r--r--    1 0     0      5 Dec 08 06:00 -d 1 Jan 10 12:00 x", "-d 1 Jan 10 12:00 x|Dec 08 06:00|5|F"},
      {UNIX, "-rw-r--r--+  1 dk       root      7 2024-01-10 12:00 acl.tar", "acl.tar|2024-01-10 12:00|7|F"},
      {UNIX, "-rw-r--r-- 1 o g 99999999999999999999999 Jan 10 12:00 big", ""},
      {UNIX, "total 12", ""},
      {UNIX, "01-10-24  12:00PM       1,048,576 dump.tar", ""},
      {UNIX, GARBAGE, ""},
      {WIN, "01-10-24  12:00PM       1,048,576 dump.tar", "dump.tar|01-10-24  12:00PM|1048576|F"},
      {WIN, "01-10-24  12:00PM       <DIR>          clients", "clients|01-10-24  12:00PM|0|D"},
      // "<DIR>" in the name of a file says nothing of its kind; blanks in a name belong to it.
      {WIN, "01-10-24  12:00PM       12 x<DIR>.tar", "x<DIR>.tar|01-10-24  12:00PM|12|F"},
      {WIN, "01-10-24  12:00PM       12 my  backup.tar", "my  backup.tar|01-10-24  12:00PM|12|F"},
      // The looser Windows pattern takes anything; SplitFileInfo never hands it a Unix mode line.
      {WIN, GARBAGE, GARBAGE.substr(30) + "|" + GARBAGE.substr(0, 22) + "|1|F"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 100));
    FtpFileInfo info;
    info.name = "untouched";
    bool parsed = c.fields.empty();
    EXPECT_NO_THROW(parsed = c.windows ? InitFromWinDir(c.line, info) : InitFromUnixLs(c.line, info));
    EXPECT_EQ(!c.fields.empty(), parsed);
    const char kind = "UFD"[static_cast<int>(info.kind)];
    EXPECT_EQ(parsed ? c.fields : "untouched|" + FtpFileInfo().GetDateTimeStr() + "|0|U",
              info.name + "|" + info.GetDateTimeStr() + "|" + std::to_string(info.size) + "|" + kind);
  }
}

// A listing gives its parsable lines in order; a Unix line refused never passes as a Windows one.
TEST(FtpListing, SplitFileInfoTakesParsableLinesOnly) {
  const struct {
    std::string text;
    std::vector<std::string> entries;  // "name|size"
  } cases[] = {
      {"total 8\r\n-rw-r--r-- 1 o g 10 Jan 10 12:00 a.tar\r\n\r\n01-10-24  12:00PM       <DIR>          b\n"
       "-rw-r--r-- 1 o g 20 Jan 10 12:01 c.xml",
       {"a.tar|10", "b|0", "c.xml|20"}},
      {"lrwxrwxrwx 1 o g 22 Dec  9 12:00 ln.tar -> b.tar\r\n-rw-r--r-- 1 o g 5000 Dec  8 12:00 b.tar\r\n",
       {"ln.tar|22", "b.tar|5000"}},
      {"-rw-r--r--   1 owner group 99999999999999999999999999 Dec 07 12:00 huge_1001011200.tar\r\n"
       "drwxr-xr-x   2 owner group 18446744073709551616 Dec 07 12:00 dir\r\n"
       "12-07-26  12:00PM       99999999999999999999999999 win.tar\r\n",
       {"win.tar|0"}},
      {GARBAGE + "\n-rw-r--r-- 1 o g 10 Jan 10 12:00 a.tar\n", {"a.tar|10"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 100));
    std::vector<FtpFileInfo> infos;
    EXPECT_NO_THROW(SplitFileInfo(c.text, infos));
    std::vector<std::string> entries;
    for (const FtpFileInfo& info : infos) entries.push_back(info.name + "|" + std::to_string(info.size));
    EXPECT_EQ(c.entries, entries);
  }
}

// Wherever the network cuts listing data, the joined lines are those of the whole text.
TEST(FtpListing, JoinerGivesTheSameLinesWhereverTheDataIsCut) {
  const std::string text = "-rw-r--r-- 1 o g 10 Jan 10 12:00 first.tar\r\n-rw-r--r-- 1 o g 2048 Jan 10 12:01 "
                           "second.tar\r\ndrwxr-xr-x 2 o g 0 Jan 10 12:02 third\r\n";
  std::vector<std::string> whole;
  Split(text, whole, "\r\n");
  ASSERT_EQ(3u, whole.size());
  for (size_t a = 0; a <= text.size(); ++a) {
    for (size_t b = a; b <= text.size(); b += 7) {
      FtpLineJoiner joiner;
      std::string delivered = joiner.Take(text.data(), a);
      delivered += joiner.Take(text.data() + a, b - a);
      delivered += joiner.Take(text.data() + b, text.size() - b);
      delivered += joiner.Finish();
      std::vector<std::string> lines;
      Split(delivered, lines, "\r\n");
      ASSERT_EQ(whole, lines) << "cut at " << a << " and " << b;
    }
  }
  FtpLineJoiner joiner;
  EXPECT_EQ("", joiner.Take("abc", 3));
  EXPECT_EQ("abcdef\n", joiner.Take("def\ngh", 6));
  EXPECT_EQ("gh", joiner.Finish());
  EXPECT_EQ("", joiner.Finish());
}
