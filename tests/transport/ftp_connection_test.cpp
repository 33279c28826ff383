#include "transport/ftp_connection.h"

#include <gtest/gtest.h>

#include "tests/support/ftp_support.h"

using namespace ovrin;

// A URL's server path begins with '/', its short name follows the last inner '/'; none: refused.
TEST(FtpConnection, UrlPathParts) {
  EXPECT_EQ("/a/b", tFtpConnection::GetFileName("ftp://h/a/b"));
  EXPECT_EQ("/a", tFtpConnection::GetFileName("ftp://h//a"));
  EXPECT_EQ("b/", tFtpConnection::GetShortFileName("ftp://h/a/b/"));
  EXPECT_EQ("b", tFtpConnection::GetShortFileName("ftp://h/a/b"));
  using Invalid = Exc<&tFtpConnection::InvalidPath>;
  for (const char* url : {"ftp://h", "h/a"}) EXPECT_THROW(tFtpConnection::GetFileName(url), Invalid) << url;
  for (const char* url : {"abc/", ""}) EXPECT_THROW(tFtpConnection::GetShortFileName(url), Invalid) << url;
}

// Local files that cannot be read or written are named in the error.
TEST(FtpConnection, LocalFilesThatCannotBeOpenedAreNamed) {
  dktest::FtpServer server;
  dktest::TempDir local;
  tFtpConnection c(true, 10);
  c.Init(server.Url("/x.bin"), "dk", "pw");
  EXPECT_EQ("Unable to open file " + (local / "absent.bin") + ": for read",
            dktest::ThrownText<Exc<&tFtpConnection::FileOpenError>>([&] { c.UploadFile(local / "absent.bin"); }));
  c.Init(server.Url("/x.bin"), "dk", "pw");
  EXPECT_EQ("Unable to open file " + (local / "no_dir/x.bin") + ": for write",
            dktest::ThrownText<Exc<&tFtpConnection::FileOpenError>>([&] { c.DownloadFile(local / "no_dir/x.bin"); }));

}
