#include "util/strings.h"

#include <algorithm>

namespace ovrin {

bool BeginsWith(const std::string& s, const std::string& prefix) {
  return prefix.size() <= s.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return suffix.size() <= s.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string SubstringBefore(const std::string& s, const std::string& delimiters) {
  return s.substr(0, s.find_first_of(delimiters));
}

std::string ExtractExtension(const std::string& s, char separator, bool withSeparator) {
  size_t pos = s.rfind(separator);
  if (pos == std::string::npos) return "";
  return s.substr(withSeparator ? pos : pos + 1);
}

std::string Concat(const std::vector<std::string>& items, const std::string& separator) {
  std::string result;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) result += separator;
    result += items[i];
  }
  return result;
}

void Split(const std::string& s, std::vector<std::string>& out, const std::string& delimiters) {
  size_t pos = s.find_first_not_of(delimiters);
  while (pos != std::string::npos) {
    size_t end = s.find_first_of(delimiters, pos);
    out.push_back(s.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    pos = end == std::string::npos ? end : s.find_first_not_of(delimiters, end);
  }
}

std::string Replace(const std::string& s, const std::string& what, const std::string& with) {
  if (what.empty()) return s;
  std::string result;
  size_t start = 0;
  for (size_t pos = s.find(what); pos != std::string::npos; pos = s.find(what, start)) {
    result.append(s, start, pos - start).append(with);
    start = pos + what.size();
  }
  return result.append(s, start, std::string::npos);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

namespace {

// The length of the XML character that starts `s` at `at`, or 0 when the
// bytes there are no well-formed UTF-8 or no character XML allows.
size_t XmlCharLength(const std::string& s, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(s[at]);
  if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
  size_t length;
  unsigned long code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > s.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(s[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates, the two non-characters XML excludes, and
  // anything past the last code point.
  static const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF ||
      code > 0x10FFFF) {
    return 0;
  }
  return length;
}

}  // namespace

bool IsXmlText(const std::string& s) {
  for (size_t at = 0; at < s.size();) {
    const size_t length = XmlCharLength(s, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string ToXmlText(const std::string& s) {
  if (IsXmlText(s)) return s;
  std::string out;
  for (size_t at = 0; at < s.size();) {
    const size_t length = XmlCharLength(s, at);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++at;
    } else {
      out.append(s, at, length);
      at += length;
    }
  }
  return out;
}

std::string JoinPath(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  if (a.back() == '/' || b.front() == '/') return a + b;
  return a + "/" + b;
}

std::string PathLeaf(const std::string& path) {
  size_t pos = path.rfind('/');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string PathBranch(const std::string& path) {
  size_t pos = path.rfind('/');
  if (pos == std::string::npos) return "";
  size_t end = path.find_last_not_of('/', pos);
  return end == std::string::npos ? path.substr(0, 1) : path.substr(0, end + 1);
}

std::string TrimTrailingSlashes(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

bool Contains(const std::vector<std::string>& items, const std::string& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

}  // namespace ovrin
