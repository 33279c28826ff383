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

}  // namespace dktest
