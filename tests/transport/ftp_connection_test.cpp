#include "transport/ftp_connection.h"

#include <gtest/gtest.h>

#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

using namespace ovrin;

// The server path of a URL always begins with '/'; the short name is what
// follows the last '/' that does not end the URL; a URL without either is refused.
TEST(FtpConnection, UrlPathParts) {
  EXPECT_EQ("/a/b", tFtpConnection::GetFileName("ftp://h/a/b"));
  EXPECT_EQ("/a", tFtpConnection::GetFileName("ftp://h//a"));
  EXPECT_EQ("b/", tFtpConnection::GetShortFileName("ftp://h/a/b/"));
  EXPECT_EQ("b", tFtpConnection::GetShortFileName("ftp://h/a/b"));
  for (const char* url : {"ftp://h", "h/a"}) {
    EXPECT_THROW(tFtpConnection::GetFileName(url), Exc<&tFtpConnection::InvalidPath>) << url;
  }
  for (const char* url : {"abc/", ""}) {
    EXPECT_THROW(tFtpConnection::GetShortFileName(url), Exc<&tFtpConnection::InvalidPath>) << url;
  }
}

// Local files that cannot be read or written are named in the error; a
// failed download removes the local file it was writing, so a stale or
// partial copy is never taken for the remote file.
TEST(FtpConnection, LocalFileProblemsAndFailedDownloads) {
  dktest::FtpServer server("normal", {{"dk", "pw"}});
  dktest::TempDir local;
  tFtpConnection c(true, 10);
  c.Init(server.Url("/x.bin"), "dk", "pw");
  EXPECT_EQ("Unable to open file " + (local / "absent.bin") + ": for read",
            dktest::ThrownText<Exc<&tFtpConnection::FileOpenError>>([&] { c.UploadFile(local / "absent.bin"); }));
  c.Init(server.Url("/x.bin"), "dk", "pw");
  EXPECT_EQ("Unable to open file " + (local / "no_dir/x.bin") + ": for write",
            dktest::ThrownText<Exc<&tFtpConnection::FileOpenError>>([&] { c.DownloadFile(local / "no_dir/x.bin"); }));

  dktest::WriteFile(local / "old.bin", "stale");
  c.Init(server.Url("/missing.bin"), "dk", "pw");
  EXPECT_EQ(std::string("Curl error: ") + curl_easy_strerror(CURLE_REMOTE_FILE_NOT_FOUND),
            dktest::ThrownText<CurlException>([&] { c.DownloadFile(local / "old.bin"); }));
  EXPECT_FALSE(dktest::Exists(local / "old.bin"));
}
