// Helpers of the catalogue and validation tests: repositories built by the
// fixture generator inside a sample installation, and record shortcuts.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "repository/repository.h"
#include "tests/support/test_support.h"

namespace dktest {

// Runs sample/make_fixture_repo.py on `dir` with the JSON document `layout`.
inline void MakeFixtureRepo(const std::string& dir, const std::string& layout) {
  TempDir work;
  WriteFile(work / "layout.json", layout);
  Shell(SourceDir() + "/sample/make_fixture_repo.py --layout '" + (work / "layout.json") + "' '" + dir + "'");
}

// A sample installation whose local repository the test fills with the
// fixture generator; the repository object is opened on first use.
class FixtureRepoTest : public ::testing::Test {
 protected:
  void Build(const std::string& layout) { MakeFixtureRepo(install.dumps(), layout); }
  ovrin::tRepository& Repo() {
    if (!repo_) repo_.reset(new ovrin::tRepository(install.dumps(), "", "", "", false));
    return *repo_;
  }
  std::string Path(const std::string& rel) const { return install.dumps() + "/" + rel; }
  // The entry names of a sidecar directory, sorted.
  std::vector<std::string> Sidecar(const std::string& rel) const { return ListTree(Path(rel)); }

  SampleInstallation install;

 private:
  std::unique_ptr<ovrin::tRepository> repo_;
};

// The status words of a result list, in order.
inline std::vector<std::string> Statuses(const ovrin::ValidationResults& results) {
  std::vector<std::string> words;
  for (const auto& r : results) words.push_back(ovrin::GetBackupStatusStr(r.status));
  return words;
}

// The records of a listing ordered by path, since directory listings come in
// the storage's own order.
inline std::vector<ovrin::BackupInfo> ByPath(const ovrin::BackupInfoList& list) {
  std::vector<ovrin::BackupInfo> sorted(list.begin(), list.end());
  std::sort(sorted.begin(), sorted.end(),
            [](const ovrin::BackupInfo& a, const ovrin::BackupInfo& b) { return a.fullname < b.fullname; });
  return sorted;
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
  const std::string head = DECLARATION + "<dump-list>\n", tail = "</dump-list>\n";
  if (document.compare(0, head.size(), head) != 0 || document.size() < head.size() + tail.size() ||
      document.compare(document.size() - tail.size(), tail.size(), tail) != 0) {
    return {document};
  }
  const std::string body = document.substr(head.size(), document.size() - head.size() - tail.size());
  std::vector<std::string> dumps;
  const std::string end = " </dump>\n";
  for (size_t at = 0; at < body.size();) {
    const size_t stop = body.find(end, at);
    if (stop == std::string::npos) return {document};
    dumps.push_back(body.substr(at, stop + end.size() - at));
    at = stop + end.size();
  }
  std::sort(dumps.begin(), dumps.end());
  return dumps;
}

}  // namespace dktest
