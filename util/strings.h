// Small string helpers shared by the repository, transport and descriptor code.
#pragma once

#include <string>
#include <vector>

namespace ovrin {

// True when `prefix` is no longer than `s` and equals its start; "" matches.
bool BeginsWith(const std::string& s, const std::string& prefix);
// True when `suffix` is no longer than `s` and equals its end; "" matches.
bool EndsWith(const std::string& s, const std::string& suffix);
// The part of `s` before the first character found in `delimiters`.
std::string SubstringBefore(const std::string& s, const std::string& delimiters);
// The part after the last `separator`, with the separator when asked; "" when absent.
std::string ExtractExtension(const std::string& s, char separator, bool withSeparator);
std::string Concat(const std::vector<std::string>& items, const std::string& separator);
// Appends every maximal run of characters not in `delimiters`; never empty tokens.
void Split(const std::string& s, std::vector<std::string>& out, const std::string& delimiters);
bool Contains(const std::vector<std::string>& items, const std::string& item);
// Replaces every non-overlapping `what` left to right; an empty `what` changes nothing.
std::string Replace(const std::string& s, const std::string& what, const std::string& with);
bool is_digit(char c);

// True when `s` is well-formed UTF-8 made only of characters an XML 1.0
// document may hold: tab, line feed, carriage return and everything from
// U+0020 on except the surrogates, U+FFFE and U+FFFF.
bool IsXmlText(const std::string& s);
// `s` with every byte or sequence that IsXmlText refuses replaced by U+FFFD,
// so that text from files and servers cannot break a document.
std::string ToXmlText(const std::string& s);

// Path helpers for '/'-separated relative paths.
// `a` / `b` with one '/' unless `a` ends or `b` begins with one; "" / b is b.
std::string JoinPath(const std::string& a, const std::string& b);
// The last component of `path` ("" for "").
std::string PathLeaf(const std::string& path);
// `path` without its trailing slashes ("/" and "" become "").
std::string TrimTrailingSlashes(std::string path);
// Everything before the last component, without the trailing '/' ("" for one component).
std::string PathBranch(const std::string& path);

}  // namespace ovrin
