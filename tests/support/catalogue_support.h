// Helpers of the tests over repositories built by the fixture generator, and
// of the documents the utility prints about them.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace dktest {

// Runs sample/make_fixture_repo.py on `dir` with the JSON document `layout`.
inline void MakeFixtureRepo(const std::string& dir, const std::string& layout) {
  TempDir work;
  WriteFile(work / "layout.json", layout);
  Shell(SourceDir() + "/sample/make_fixture_repo.py --layout '" + (work / "layout.json") + "' '" + dir + "'");
}

// The declaration that opens every document the utility prints.
const std::string DECLARATION = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// The brief `dump` element of an exported dump with an OK verdict.
inline std::string BriefDump(const std::string& name, const std::string& label, size_t size,
                             const std::string& indent) {
  return indent + "<dump name=\"" + name + "\" fullname=\"" + name + "\" creation-date=\"" + label + "\" size=\"" +
         std::to_string(size) + "\">\n" + indent + " <dump-status dump-status=\"OK\"/>\n" + indent + "</dump>\n";
}

// The `dump` elements of a dump-list document, sorted: the order of a
// listing is the storage's directory order. A document that is not a list
// yields one element holding the whole text, so the comparison fails on it.
inline std::vector<std::string> ListedDumps(const std::string& document) {
  if (document == DECLARATION + "<dump-list/>\n") return {};
  const std::string head = DECLARATION + "<dump-list>\n", end = " </dump>\n";
  if (document.compare(0, head.size(), head) != 0) return {document};
  std::vector<std::string> dumps;
  size_t at = head.size();
  for (size_t stop; (stop = document.find(end, at)) != std::string::npos; at = stop + end.size())
    dumps.push_back(document.substr(at, stop + end.size() - at));
  if (document.compare(at, std::string::npos, "</dump-list>\n") != 0) return {document};
  std::sort(dumps.begin(), dumps.end());
  return dumps;
}

}  // namespace dktest
