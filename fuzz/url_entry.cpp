// Storage URL functions. Beyond not crashing: login and place recombine
// into the URL, a decomposed URL's base and name concatenate back to it, and
// normalising strips at most one trailing separator.
#include <string>
#include <vector>

#include "errors/error_model.h"
#include "fuzz/fuzz_entries.h"
#include "transport/transport.h"

namespace ovrin {

namespace {

size_t AfterScheme(const std::string& url) {
  size_t pos = url.find("://");
  return pos == std::string::npos ? 0 : pos + 3;
}

void CheckOne(const std::string& url) {
  const std::string login = GetUrlLogin(url);
  const std::string place = GetUrlPlace(url);
  const size_t start = AfterScheme(url);
  if (!login.empty() && !place.empty()) {
    FuzzCheck(url == url.substr(0, start) + login + "@" + place.substr(start), "login and place do not recombine");
  } else if (!login.empty()) {
    // Only a URL that ends with its login has no place.
    FuzzCheck(url.back() == '@', "a place went missing");
  } else if (!place.empty()) {
    FuzzCheck(place.size() <= url.size(), "place is longer than its url");
  }

  std::string base;
  std::string name;
  DecomposeUrl(url, base, name);
  FuzzCheck(base + name == url, "base and name do not recombine");

  if (!url.empty()) {
    const std::string normal = NormalizeRepoUrl(url);
    FuzzCheck(normal == url || normal + url.back() == url, "normalising changed more than the last character");
  }
}

}  // namespace

void FuzzUrl(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> urls;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    urls.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  for (const std::string& url : urls) CheckOne(url);

  std::string base;
  std::vector<std::string> names;
  try {
    DecomposeUrls(urls, base, names);
  } catch (const ExTraceable&) {
    return;  // the URLs have different bases
  }
  FuzzCheck(names.size() == urls.size(), "a name is missing");
  for (size_t i = 0; i < urls.size(); ++i) FuzzCheck(base + names[i] == urls[i], "shared base does not recombine");
}

}  // namespace ovrin
