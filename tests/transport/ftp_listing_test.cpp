#include "transport/ftp_listing.h"

#include <gtest/gtest.h>

#include "util/strings.h"

using namespace ovrin;

namespace {

const std::string GARBAGE = [] {
  std::string line = "-rw-r--r-- 1 o g 12 ";
  for (int i = 0; i < 300000; ++i) line += "a1   ";
  return line;
}();

// "name|size" of each parsed entry, in order.
std::vector<std::string> Entries(const std::vector<FtpFileInfo>& infos) {
  std::vector<std::string> entries;
  for (const FtpFileInfo& info : infos) entries.push_back(info.name + "|" + std::to_string(info.size));
  return entries;
}

}  // namespace

// One line through one parser, in the formats of the servers hosting providers
// run: whole names whatever they hold; the kind from the type letter or
// "<DIR>" (a link is its own entry, leading anywhere); a line that does not
// match, or whose size no counter holds, leaves the record untouched.
TEST(FtpListing, LinesGiveWholeNameSizeDateAndKind) {
  const EntryKind F = EntryKind::File, D = EntryKind::Dir, U = EntryKind::Unknown;
  struct Case {
    bool windows;  // InitFromWinDir, else InitFromUnixLs
    std::string line, name, date;  // no name: the line is refused
    tavrepo_int64_t size;
    EntryKind kind;
  };
  const Case cases[] = {
      {false, "-rw-r--r-- 1 o g 1048576 Jan 10 12:00 dump_2401101200.tar", "dump_2401101200.tar", "Jan 10 12:00",
       1048576, F},
      {false, "drwxr-xr-x 2 1000 1000 4096 Dec  1  2023 clients", "clients", "Dec  1  2023", 4096, D},
      {false, "lrwxrwxrwx 1 o g 22 Dec  9 12:00 link_2612091200.tar -> b_2612081200.tar", "link_2612091200.tar",
       "Dec  9 12:00", 22, U},
      {false, "-rw-r--r-- 1 o g 10 Jan 10 12:00 two  blanks\tand tab.tar", "two  blanks\tand tab.tar", "Jan 10 12:00",
       10, F},
      {false, "-rw-r--r-- 1 o g 10 Jan 10 12:00  lead.tar", " lead.tar", "Jan 10 12:00", 10, F},
      // No group column (some servers), numeric owners (vsftpd, Pure-FTPd), an ACL mark, an ISO date.
      {false, "-rw-r--r--   1 owner 2048 Mar  3  2025 nogroup.tar", "nogroup.tar", "Mar  3  2025", 2048, F},
      {false, "-rw-r--r--    1 0        0             5 Dec 08 06:00 -dash 100 Jan 10 12:00 x.tar",
       "-dash 100 Jan 10 12:00 x.tar", "Dec 08 06:00", 5, F},
      {false, "drwxrwxrwx    2 0          0                4096 Dec  8 06:28 .discovered", ".discovered",
       "Dec  8 06:28", 4096, D},
      {false, "-rw-r--r--+  1 dk       root      7 2024-01-10 12:00 acl.tar", "acl.tar", "2024-01-10 12:00", 7, F},
      {false, "-rw-r--r-- 1 o g 99999999999999999999999 Jan 10 12:00 big", "", "", 0, U},
      {false, "total 12", "", "", 0, U},
      {false, "01-10-24  12:00PM       1,048,576 dump.tar", "", "", 0, U},
      {false, GARBAGE, "", "", 0, U},
      {true, "01-10-24  12:00PM       1,048,576 dump.tar", "dump.tar", "01-10-24  12:00PM", 1048576, F},
      {true, "01-10-24  12:00PM       <DIR>          clients", "clients", "01-10-24  12:00PM", 0, D},
      // "<DIR>" in the name of a file says nothing of its kind; blanks in a name belong to it.
      {true, "01-10-24  12:00PM       12 x<DIR>.tar", "x<DIR>.tar", "01-10-24  12:00PM", 12, F},
      {true, "01-10-24  12:00PM       12 my  backup.tar", "my  backup.tar", "01-10-24  12:00PM", 12, F},
      // The looser Windows pattern takes anything with a run of blanks for a
      // line; SplitFileInfo never hands it a line opening with a Unix mode.
      {true, GARBAGE, GARBAGE.substr(30), GARBAGE.substr(0, 22), 1, F},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 100));
    FtpFileInfo info, untouched;
    info.name = untouched.name = "untouched";
    bool parsed = c.name.empty();
    EXPECT_NO_THROW(parsed = c.windows ? InitFromWinDir(c.line, info) : InitFromUnixLs(c.line, info));
    EXPECT_EQ(!c.name.empty(), parsed);
    EXPECT_EQ(parsed ? c.name : untouched.name, info.name);
    EXPECT_EQ(parsed ? c.date : untouched.GetDateTimeStr(), info.GetDateTimeStr());
    EXPECT_EQ(c.size, info.size);
    EXPECT_EQ(c.kind, info.kind);
  }
}

// A whole listing: every parsable line of either style, in order, lines ending
// at CR or LF; a Unix line refused for its size must not come back through the
// looser Windows pattern with owner, group and size taken for its name; a huge
// garbage line does not stop the lines after it.
TEST(FtpListing, SplitFileInfoTakesParsableLinesOnly) {
  const struct {
    std::string text;
    std::vector<std::string> entries;
  } cases[] = {
      {"total 8\r\n-rw-r--r-- 1 o g 10 Jan 10 12:00 a.tar\r\n\r\n01-10-24  12:00PM       <DIR>          b\n"
       "-rw-r--r-- 1 o g 20 Jan 10 12:01 c.xml",
       {"a.tar|10", "b|0", "c.xml|20"}},
      {"lrwxrwxrwx 1 o g 22 Dec  9 12:00 link_2612091200.tar -> backup_2612081200.tar\r\n"
       "-rw-r--r-- 1 o g 5000 Dec  8 12:00 backup_2612081200.tar\r\n",
       {"link_2612091200.tar|22", "backup_2612081200.tar|5000"}},
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
    EXPECT_EQ(c.entries, Entries(infos));
  }
}

// Listing data may be cut anywhere by the network; wherever the cuts fall,
// the joined lines must be those of the whole text.
TEST(FtpListing, JoinerGivesTheSameLinesWhereverTheDataIsCut) {
  const std::string text =
      "-rw-r--r-- 1 o g 10 Jan 10 12:00 first.tar\r\n"
      "-rw-r--r-- 1 o g 2048 Jan 10 12:01 second.tar\r\n"
      "drwxr-xr-x 2 o g 0 Jan 10 12:02 third\r\n";
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
}

// An unfinished last line is kept until the transfer ends, then handed on once.
TEST(FtpListing, JoinerKeepsAnUnfinishedLastLineUntilTheEnd) {
  FtpLineJoiner joiner;
  EXPECT_EQ("", joiner.Take("abc", 3));
  EXPECT_EQ("abcdef\n", joiner.Take("def\ngh", 6));
  EXPECT_EQ("gh", joiner.Finish());
  EXPECT_EQ("", joiner.Finish());
}
