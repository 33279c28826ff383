// Helpers of the repository tests: a repository over a scratch directory, a
// sample installation filled by the fixture generator, and the refusal a call
// ends with.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "repository/repository.h"
#include "tests/support/catalogue_support.h"
#include "tests/support/test_support.h"

namespace dktest {

using Words = std::vector<std::string>;

// A repository at repo/ of a scratch directory; paths starting with "../"
// reach files outside it.
struct LocalRepo {
  TempDir scratch;
  std::unique_ptr<ovrin::tRepository> repo{Open(scratch / "repo")};

  static ovrin::tRepository* Open(const std::string& dir) {
    ::mkdir(dir.c_str(), 0755);
    return new ovrin::tRepository(dir, "", "", "", false);
  }
  std::string Root() const { return scratch / "repo"; }
  std::string Path(const std::string& rel) const { return Root() + "/" + rel; }
  void Touch(const std::string& rel, const std::string& content = "x") const { WriteFile(Path(rel), content); }
  bool Has(const std::string& rel) const { return Exists(Path(rel)); }
  Words Tree() const { return ListTree(Root()); }
};

// "what() [status]" of the RepositoryException `body` must throw: the status
// becomes the utility's exit code.
template <class Body>
std::string Refusal(Body&& body) {
  int status = -1;
  const std::string text = ThrownText<ovrin::RepositoryException>([&] {
    try { body(); } catch (const ovrin::RepositoryException& e) { status = e.status; throw; }
  });
  return text + " [" + std::to_string(status) + "]";
}

// Words joined by commas.
inline std::string Join(const Words& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : ",") + w;
  return text;
}

// The status words of a result list, joined in order or sorted.
inline std::string Statuses(const ovrin::ValidationResults& results, bool sorted = false) {
  Words words;
  for (const auto& r : results) words.push_back(ovrin::GetBackupStatusStr(r.status));
  return Join(sorted ? Sorted(words) : words);
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
  // The size of an exported file with its parts 1 .. parts-1.
  std::string SizeOf(const std::string& rel, int parts = 1) const {
    size_t size = 0;
    for (int i = 0; i < parts; ++i) size += ReadFile(Path(rel + (i ? std::to_string(i) : ""))).size();
    return std::to_string(size);
  }

  SampleInstallation install;

 private:
  std::unique_ptr<ovrin::tRepository> repo_;
};

}  // namespace dktest
