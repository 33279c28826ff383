#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "errors/error_model.h"
#include "tests/support/transport_support.h"
#include "transport/ftp_transport.h"
#include "transport/local_transport.h"

namespace ovrin {
namespace {

TEST(Url, LoginEndsAtTheLastAt) {
  EXPECT_EQ("us@er", GetUrlLogin("ftp://us@er@host/dir"));
  EXPECT_EQ("ftp://host/dir", GetUrlPlace("ftp://us@er@host/dir"));
  EXPECT_EQ("user", GetUrlLogin("user@host/dir"));  // no "://": the login starts at 0
  EXPECT_EQ("host/dir", GetUrlPlace("user@host/dir"));
  EXPECT_EQ("ftp://host/dir", GetUrlPlace("ftp://host/dir"));
  EXPECT_EQ("", GetUrlLogin("a@b://host"));  // the '@' lies before the login's start
  EXPECT_EQ("a@b://host", GetUrlPlace("a@b://host"));  // so there is no login to remove
  EXPECT_EQ("user", GetUrlLogin("ftp://user@"));
  EXPECT_EQ("", GetUrlPlace("ftp://user@"));
}

TEST(Url, DecomposeKeepsATrailingSlashWithTheName) {
  std::string base = "stale";
  std::string name = "stale";
  DecomposeUrl("ftp://h/a/b/", base, name);
  EXPECT_EQ("ftp://h/a/", base);
  EXPECT_EQ("b/", name);
  DecomposeUrl("file", base, name);
  EXPECT_EQ("", base);
  EXPECT_EQ("file", name);
  DecomposeUrl("ftp://h", base, name);  // the slashes of "://" never split
  EXPECT_EQ("ftp://", base);
  EXPECT_EQ("h", name);

  std::vector<std::string> names;
  DecomposeUrls({"ftp://h/a/1", "ftp://h/a/2.tar"}, base, names);
  EXPECT_EQ("ftp://h/a/", base);
  EXPECT_EQ((std::vector<std::string>{"1", "2.tar"}), names);
  try {
    DecomposeUrls({"ftp://h/a/1", "ftp://h/b/2"}, base, names);
    FAIL() << "expected UrleDecomposingError";
  } catch (const ExTraceable& e) {
    EXPECT_EQ("Unable to decompose urls: urls have diffrent base dirs", std::string(e.what()));
  }
}

TEST(Url, NormalizeRemovesOneTrailingSeparator) {
  EXPECT_EQ("a/", NormalizeRepoUrl("a//"));
  EXPECT_EQ("a", NormalizeRepoUrl("a\\"));
  EXPECT_THROW(NormalizeRepoUrl(""), std::out_of_range);
}

TEST(TransportFactory, LocalUrls) {
  std::unique_ptr<tRepositoryTransport> t(tRepositoryTransport::Get("local:/var/dumps"));
  EXPECT_NE(nullptr, dynamic_cast<tRepositoryLocal*>(t.get()));
  EXPECT_EQ("/var/dumps", t->GetUrl());
  EXPECT_EQ("/var/dumps/a//b", t->GetFullPath("\\//a//b"));
  EXPECT_EQ("/var/dumps/", t->GetFullPath(""));
  t.reset(tRepositoryTransport::Get("/var/dumps//"));
  EXPECT_EQ("/var/dumps/", t->GetUrl());
  // The ftp prefix test is exact and case-sensitive.
  t.reset(tRepositoryTransport::Get("FTP://host/"));
  EXPECT_NE(nullptr, dynamic_cast<tRepositoryLocal*>(t.get()));
  EXPECT_EQ("FTP://host", t->GetUrl());
  EXPECT_THROW(tRepositoryTransport::Get(""), std::out_of_range);
}

TEST(TransportFactory, FtpUrlsGetTheFtpTransport) {
  std::unique_ptr<tRepositoryTransport> t(tRepositoryTransport::Get("ftp://host//"));
  EXPECT_NE(nullptr, dynamic_cast<tRepositoryFtp*>(t.get()));
}

}  // namespace
}  // namespace ovrin
