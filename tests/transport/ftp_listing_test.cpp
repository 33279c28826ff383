#include "transport/ftp_listing.h"

#include <gtest/gtest.h>

#include "tests/support/ftp_support.h"
#include "util/strings.h"

using namespace ovrin;

TEST(FtpListing, UnixLinesGiveNameSizeAndDateText) {
  FtpFileInfo info;
  ASSERT_TRUE(InitFromUnixLs("-rw-r--r--   1 owner group 1048576 Jan 10 12:00 dump_2401101200.tar", info));
  EXPECT_EQ("dump_2401101200.tar", info.name);
  EXPECT_EQ(1048576, info.size);
  EXPECT_EQ("Jan 10 12:00", info.GetDateTimeStr());
  EXPECT_EQ(0, info.GetDateTime());
  EXPECT_EQ(EntryKind::File, info.kind);

  ASSERT_TRUE(InitFromUnixLs("drwxr-xr-x 2 1000 1000 4096 Dec  1  2023 clients", info));
  EXPECT_EQ("clients", info.name);
  EXPECT_EQ(4096, info.size);
  EXPECT_EQ("Dec  1  2023", info.GetDateTimeStr());
  EXPECT_EQ(EntryKind::Dir, info.kind);
  // A link may lead to a file or a directory: the listing does not tell.
  ASSERT_TRUE(InitFromUnixLs("lrwxrwxrwx 1 o g 7 Jan 10 12:00 b_2401101200.tar", info));
  EXPECT_EQ(EntryKind::Unknown, info.kind);

  // Sizes beyond 64 bits come from a broken or hostile server: rejected, not thrown.
  FtpFileInfo kept;
  kept.name = "kept";
  EXPECT_FALSE(InitFromUnixLs("-rw-r--r-- 1 o g 99999999999999999999999 Jan 10 12:00 big", kept));
  EXPECT_FALSE(InitFromUnixLs("total 12", kept));
  EXPECT_EQ("kept", kept.name);
  EXPECT_EQ(0, kept.size);
}

// Whole names whatever they hold, in the formats of the servers hosting
// providers run; a link is its own entry, never its target's.
TEST(FtpListing, UnixLinesKeepWholeNames) {
  struct Case {
    const char* line;
    const char* name;
    tavrepo_int64_t size;
    const char* date;
    EntryKind kind;
  };
  const Case cases[] = {
      {"-rw-r--r--   1 owner group 10 Jan 10 12:00 my backup_2612061200.tar", "my backup_2612061200.tar", 10,
       "Jan 10 12:00", EntryKind::File},
      {"-rw-r--r--   1 owner group 10 Jan 10 12:00 two  blanks\tand tab_2612061200.tar",
       "two  blanks\tand tab_2612061200.tar", 10, "Jan 10 12:00", EntryKind::File},
      {"-rw-r--r--   1 owner group 10 Jan 10 12:00  lead_2612061200.tar", " lead_2612061200.tar", 10, "Jan 10 12:00",
       EntryKind::File},
      {"lrwxrwxrwx   1 owner group 22 Dec  9 12:00 link_2612091200.tar -> backup_2612081200.tar",
       "link_2612091200.tar", 22, "Dec  9 12:00", EntryKind::Unknown},
      // No group column (some servers), numeric owners (vsftpd, Pure-FTPd), a year.
      {"-rw-r--r--   1 owner 2048 Mar  3  2025 nogroup_2503031200.tar", "nogroup_2503031200.tar", 2048, "Mar  3  2025",
       EntryKind::File},
      {"-rw-r--r--    1 0        0             5 Dec 08 06:00 -dash 100 Jan 10 12:00 x.tar",
       "-dash 100 Jan 10 12:00 x.tar", 5, "Dec 08 06:00", EntryKind::File},
      {"drwxrwxrwx    2 0          0                4096 Dec  8 06:28 .discovered", ".discovered", 4096, "Dec  8 06:28",
       EntryKind::Dir},
      {"-rw-r--r--+  1 dk       root      7 2024-01-10 12:00 acl_2401101200.tar", "acl_2401101200.tar", 7,
       "2024-01-10 12:00", EntryKind::File},
  };
  for (const Case& c : cases) {
    FtpFileInfo info;
    ASSERT_TRUE(InitFromUnixLs(c.line, info)) << c.line;
    EXPECT_EQ(c.name, info.name) << c.line;
    EXPECT_EQ(c.size, info.size) << c.line;
    EXPECT_EQ(c.date, info.GetDateTimeStr()) << c.line;
    EXPECT_EQ(c.kind, info.kind) << c.line;
  }
  std::vector<FtpFileInfo> infos;
  SplitFileInfo("lrwxrwxrwx 1 o g 22 Dec  9 12:00 link_2612091200.tar -> backup_2612081200.tar\r\n"
                "-rw-r--r-- 1 o g 5000 Dec  8 12:00 backup_2612081200.tar\r\n",
                infos);
  ASSERT_EQ(2u, infos.size());
  EXPECT_EQ("link_2612091200.tar", infos[0].name);
  EXPECT_EQ("backup_2612081200.tar", infos[1].name);
  EXPECT_EQ(5000, infos[1].size);
}

TEST(FtpListing, WindowsLinesGiveNameSizeAndDateText) {
  dktest::CapturedLog log;
  FtpFileInfo info;
  ASSERT_TRUE(InitFromWinDir("01-10-24  12:00PM       1,048,576 dump.tar", info));
  EXPECT_EQ("dump.tar", info.name);
  EXPECT_EQ(1048576, info.size);
  EXPECT_EQ("01-10-24  12:00PM", info.GetDateTimeStr());
  EXPECT_EQ(EntryKind::File, info.kind);
  EXPECT_FALSE(log.Has("Unable to retreave file size"));

  const std::string dirLine = "01-10-24  12:00PM       <DIR>          clients";
  ASSERT_TRUE(InitFromWinDir(dirLine, info));
  EXPECT_EQ("clients", info.name);
  EXPECT_EQ(0, info.size);
  EXPECT_EQ(EntryKind::Dir, info.kind);
  // "<DIR>" in the name of a file says nothing of its kind.
  ASSERT_TRUE(InitFromWinDir("01-10-24  12:00PM       12 x<DIR>.tar", info));
  EXPECT_EQ(EntryKind::File, info.kind);
  // Blanks in a name belong to it.
  ASSERT_TRUE(InitFromWinDir("01-10-24  12:00PM       12 my  backup_2612061200.tar", info));
  EXPECT_EQ("my  backup_2612061200.tar", info.name);
  EXPECT_TRUE(log.Has("Unable to retreave file size from line '" + dirLine + "'"));

  // A Windows line is not mistaken for a Unix one.
  FtpFileInfo unix;
  EXPECT_FALSE(InitFromUnixLs("01-10-24  12:00PM       1,048,576 dump.tar", unix));
}

// Megabytes of blank-separated garbage in one line: whatever the patterns
// make of it, nothing escapes from the parser and the next line still counts.
TEST(FtpListing, HugeGarbageLinesAreLeftOut) {
  std::string garbage = "-rw-r--r-- 1 o g 12 ";
  for (int i = 0; i < 300000; ++i) garbage += "a1   ";
  FtpFileInfo info;
  bool unix = true, windows = true;
  EXPECT_NO_THROW(unix = InitFromUnixLs(garbage, info));
  EXPECT_NO_THROW(windows = InitFromWinDir(garbage, info));
  std::vector<FtpFileInfo> infos;
  EXPECT_NO_THROW(SplitFileInfo(garbage + "\n-rw-r--r-- 1 o g 10 Jan 10 12:00 a.tar\n", infos));
  ASSERT_FALSE(infos.empty());
  EXPECT_EQ("a.tar", infos.back().name);
  (void)unix;
  (void)windows;
}

TEST(FtpListing, SplitFileInfoTakesParsableLinesOnly) {
  dktest::CapturedLog log;
  std::vector<FtpFileInfo> infos;
  SplitFileInfo("total 8\r\n"
                "-rw-r--r-- 1 o g 10 Jan 10 12:00 a.tar\r\n"
                "\r\n"
                "01-10-24  12:00PM       <DIR>          b\n"
                "-rw-r--r-- 1 o g 20 Jan 10 12:01 c.xml",
                infos);
  ASSERT_EQ(3u, infos.size());
  EXPECT_EQ("a.tar", infos[0].name);
  EXPECT_EQ(10, infos[0].size);
  EXPECT_EQ("b", infos[1].name);
  EXPECT_EQ("c.xml", infos[2].name);
  EXPECT_EQ(20, infos[2].size);
  EXPECT_TRUE(log.Has("Unable to get file info from line 'total 8'"));
}

// A Unix line whose size no counter holds is left out; it must not come back
// through the Windows pattern with owner, group and size taken for its name.
TEST(FtpListing, UnixLineWithAnOversizedSizeIsLeftOut) {
  std::vector<FtpFileInfo> infos;
  SplitFileInfo("-rw-r--r--   1 owner group 99999999999999999999999999 Dec 07 12:00 huge_1001011200.tar\r\n"
                "drwxr-xr-x   2 owner group 18446744073709551616 Dec 07 12:00 dir\r\n"
                "12-07-26  12:00PM       99999999999999999999999999 win.tar\r\n",
                infos);
  ASSERT_EQ(1u, infos.size());
  EXPECT_EQ("win.tar", infos[0].name);
  EXPECT_EQ(0, infos[0].size);
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

TEST(FtpListing, JoinerKeepsAnUnfinishedLastLineUntilTheEnd) {
  FtpLineJoiner joiner;
  EXPECT_EQ("", joiner.Take("abc", 3));
  EXPECT_EQ("abcdef\n", joiner.Take("def\ngh", 6));
  EXPECT_EQ("gh", joiner.Finish());
  EXPECT_EQ("", joiner.Finish());
}
