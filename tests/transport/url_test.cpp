#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "errors/error_model.h"
#include "tests/support/test_support.h"
#include "transport/ftp_transport.h"
#include "transport/local_transport.h"

namespace ovrin {
namespace {

// The login ends at the last '@' and starts after "://" (at 0 without it);
// an '@' before that start is no login, and the place is the rest.
TEST(Url, LoginEndsAtTheLastAt) {
  struct { const char *url, *login, *place; } cases[] = {
      {"ftp://us@er@host/dir", "us@er", "ftp://host/dir"}, {"user@host/dir", "user", "host/dir"},
      {"ftp://host/dir", "", "ftp://host/dir"},           {"a@b://host", "", "a@b://host"},
      {"ftp://user@", "user", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.login, GetUrlLogin(c.url)) << c.url;
    EXPECT_EQ(c.place, GetUrlPlace(c.url)) << c.url;
  }
}

// The name is the last part, a trailing slash kept with it; the slashes of
// "://" never split; URLs decomposed together must share their base.
TEST(Url, DecomposeKeepsATrailingSlashWithTheName) {
  struct { const char *url, *base, *name; } cases[] = {
      {"ftp://h/a/b/", "ftp://h/a/", "b/"}, {"file", "", "file"}, {"ftp://h", "ftp://", "h"}};
  for (const auto& c : cases) {
    std::string base = "stale", name = "stale";
    DecomposeUrl(c.url, base, name);
    EXPECT_EQ(c.base, base) << c.url;
    EXPECT_EQ(c.name, name) << c.url;
  }
  std::string base;
  std::vector<std::string> names;
  DecomposeUrls({"ftp://h/a/1", "ftp://h/a/2.tar"}, base, names);
  EXPECT_EQ("ftp://h/a/", base);
  EXPECT_EQ((std::vector<std::string>{"1", "2.tar"}), names);
  EXPECT_EQ("Unable to decompose urls: urls have diffrent base dirs",
            dktest::ThrownText<ExTraceable>([&] { DecomposeUrls({"ftp://h/a/1", "ftp://h/b/2"}, base, names); }));
}

// Normalizing removes one trailing separator of either kind. "ftp://"
// (exactly, case-sensitive) gives the FTP transport, anything else a local one
// on the normalized path ("local:" removed) that joins names as given.
TEST(TransportFactory, UrlsChooseTheTransport) {
  EXPECT_EQ("a/", NormalizeRepoUrl("a//"));
  EXPECT_EQ("a", NormalizeRepoUrl("a\\"));
  EXPECT_THROW(NormalizeRepoUrl(""), std::out_of_range);
  std::unique_ptr<tRepositoryTransport> t(tRepositoryTransport::Get("ftp://host//"));
  EXPECT_NE(nullptr, dynamic_cast<tRepositoryFtp*>(t.get()));
  t.reset(tRepositoryTransport::Get("local:/var/dumps"));
  EXPECT_NE(nullptr, dynamic_cast<tRepositoryLocal*>(t.get()));
  EXPECT_EQ("/var/dumps", t->GetUrl());
  EXPECT_EQ("/var/dumps/a//b", t->GetFullPath("\\//a//b"));
  EXPECT_EQ("/var/dumps/", t->GetFullPath(""));
  t.reset(tRepositoryTransport::Get("/var/dumps//"));
  EXPECT_EQ("/var/dumps/", t->GetUrl());
  t.reset(tRepositoryTransport::Get("FTP://host/"));
  EXPECT_NE(nullptr, dynamic_cast<tRepositoryLocal*>(t.get()));
  EXPECT_EQ("FTP://host", t->GetUrl());
  EXPECT_THROW(tRepositoryTransport::Get(""), std::out_of_range);
}

}  // namespace
}  // namespace ovrin
