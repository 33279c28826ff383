// Storage URLs: "ftp://[login@]host/path", "ftps://[login@]host[:port]/path"
// (FTP with explicit TLS), "local:path" or a plain local path.
#include <stdexcept>
#include <string>
#include <vector>

#include "errors/error_kinds.h"
#include "transport/transport.h"

namespace ovrin {

namespace {

const char SCHEME_SEPARATOR[] = "://";

// Position just after the first "://", or 0 when there is none.
size_t AfterScheme(const std::string& url) {
  size_t pos = url.find(SCHEME_SEPARATOR);
  return pos == std::string::npos ? 0 : pos + sizeof(SCHEME_SEPARATOR) - 1;
}

}  // namespace

std::string GetUrlLogin(const std::string& url) {
  // The last '@' ends the login, so a login may itself hold '@'.
  size_t at = url.rfind('@');
  if (at == std::string::npos) return "";
  size_t start = AfterScheme(url);
  return at > start ? url.substr(start, at - start) : "";
}

std::string GetUrlPlace(const std::string& url) {
  size_t at = url.rfind('@');
  if (at == std::string::npos) return url;
  const size_t start = AfterScheme(url);
  // An '@' before the scheme's end is part of the scheme text, not a login's end.
  if (at < start) return url;
  if (at + 1 == url.size()) return "";
  return url.substr(0, start) + url.substr(at + 1);
}

void DecomposeUrl(const std::string& url, std::string& base, std::string& name) {
  base.clear();
  name.clear();
  size_t start = AfterScheme(url);
  // A '/' in the last position belongs to the name ("a/b/" gives "a/" and "b/").
  size_t slash = url.size() < 2 ? std::string::npos : url.rfind('/', url.size() - 2);
  if (slash != std::string::npos && slash >= start) {
    base = url.substr(0, slash + 1);
    name = url.substr(slash + 1);
  } else {
    base = url.substr(0, start);
    name = url.substr(start);
  }
}

void DecomposeUrls(const std::vector<std::string>& urls, std::string& base, std::vector<std::string>& names) {
  for (size_t i = 0; i < urls.size(); ++i) {
    std::string oneBase;
    std::string oneName;
    DecomposeUrl(urls[i], oneBase, oneName);
    if (i == 0) {
      base = oneBase;
    } else if (oneBase != base) {
      throw OVRIN_ERROR(UrleDecomposingError) % "urls have diffrent base dirs";
    }
    names.push_back(oneName);
  }
}

std::string NormalizeRepoUrl(const std::string& url) {
  // The message is what a user sees for a storage URL that names nothing,
  // such as one that ends with its login.
  if (url.empty()) throw std::out_of_range("the storage URL names no directory");
  const char last = url.back();
  return (last == '/' || last == '\\') ? url.substr(0, url.size() - 1) : url;
}

}  // namespace ovrin
