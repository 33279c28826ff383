#include <memory>
#include <stdexcept>

#include "errors/error_model.h"
#include "tests/support/test_support.h"
#include "transport/local_transport.h"

using namespace ovrin;

// The login runs from after "://" (or the start) to the last '@', the place is the rest; a URL's name is its
// last part with its trailing slash, and URLs decomposed together must share their base.
TEST(Url, LoginPlaceBaseAndName) {
  struct { const char *url, *login, *place; } logins[] = {
      {"ftp://us@er@host/dir", "us@er", "ftp://host/dir"}, {"user@host/dir", "user", "host/dir"},
      {"ftp://host/dir", "", "ftp://host/dir"}, {"a@b://host", "", "a@b://host"}, {"ftp://user@", "user", ""}};
  for (const auto& c : logins) {
    EXPECT_EQ(std::string(c.login) + "|" + c.place, GetUrlLogin(c.url) + "|" + GetUrlPlace(c.url)) << c.url;
  }
  struct { const char *url, *base, *name; } names[] = {
      {"ftp://h/a/b/", "ftp://h/a/", "b/"}, {"file", "", "file"}, {"ftp://h", "ftp://", "h"}};
  for (const auto& c : names) {
    std::string base = "stale", name = "stale";
    DecomposeUrl(c.url, base, name);
    EXPECT_EQ(std::string(c.base) + "|" + c.name, base + "|" + name) << c.url;
  }
  std::string base;
  std::vector<std::string> parts;
  DecomposeUrls({"ftp://h/a/1", "ftp://h/a/2.tar"}, base, parts);
  EXPECT_EQ("ftp://h/a/", base);
  EXPECT_EQ((std::vector<std::string>{"1", "2.tar"}), parts);
  EXPECT_EQ("Unable to decompose urls: urls have diffrent base dirs",
            dktest::ThrownText<ExTraceable>([&] { DecomposeUrls({"ftp://h/a/1", "ftp://h/b/2"}, base, parts); }));
}

// "ftp://" (case-sensitive) gives the FTP transport, anything else a local one on the normalized path.
TEST(TransportFactory, UrlsChooseTheTransport) {
  EXPECT_EQ("a/", NormalizeRepoUrl("a//"));
  EXPECT_EQ("a", NormalizeRepoUrl("a\\"));
  EXPECT_THROW(tRepositoryTransport::Get(""), std::out_of_range);
  std::unique_ptr<tRepositoryTransport> t(tRepositoryTransport::Get("local:/var/dumps"));
  EXPECT_EQ("/var/dumps|/var/dumps/a//b|/var/dumps/", t->GetUrl() + "|" + t->GetFullPath("\\//a//b") + "|" +
                                                          t->GetFullPath(""));
  t.reset(tRepositoryTransport::Get("FTP://host/"));
  EXPECT_NE(nullptr, dynamic_cast<tRepositoryLocal*>(t.get()));
  EXPECT_EQ("FTP://host", t->GetUrl());
}
