// Helpers of the repository tests.
#pragma once

#include <sys/stat.h>

#include <memory>

#include "errors/loggable_exceptions.h"
#include "repository/repository.h"
#include "tests/support/catalogue_support.h"

namespace dktest {

using Words = std::vector<std::string>;

// A repository at repo/ of a scratch directory; "../" paths reach files outside it.
struct LocalRepo {
  TempDir scratch;
  std::unique_ptr<ovrin::tRepository> repo{
      (::mkdir(Root().c_str(), 0755), new ovrin::tRepository(Root(), "", "", "", false))};

  std::string Root() const { return scratch / "repo"; }
  std::string Path(const std::string& rel) const { return Root() + "/" + rel; }
  void Touch(const std::string& rel, const std::string& content = "x") const { WriteFile(Path(rel), content); }
  bool Has(const std::string& rel) const { return Exists(Path(rel)); }
  Words Tree() const { return ListTree(Root()); }
};

// A dump of prefix "backup" in `dir` ("" or ending with '/'): descriptor, sidecar items, `content` files.
struct Dump {
  std::string dir, label;
  Words content = {}, statuses = {};
  std::string owner = "g";
};

inline void Make(const LocalRepo& r, const Dump& d) {
  const std::string sidecar = d.dir + ".discovered/backup_info_" + d.label + "/";
  r.Touch(d.dir + "backup_info_" + d.label + ".xml", "<info/>");
  r.Touch(sidecar + "owner_" + d.owner, "");
  for (const std::string& status : d.statuses) r.Touch(sidecar + "status_" + status, "");
  for (const std::string& file : d.content) r.Touch(d.dir + file);
}

// `tree` without the entries `gone`, each of which it must hold.
inline Words Without(Words tree, const Words& gone) {
  for (const std::string& g : gone) {
    EXPECT_EQ(std::count(tree.begin(), tree.end(), g), 1) << g;
    tree.erase(std::remove(tree.begin(), tree.end(), g), tree.end());
  }
  return tree;
}

// "what() [status]" of the RepositoryException `body` must throw.
template <class Body>
std::string Refusal(Body&& body) {
  int status = -1;
  const std::string text = ThrownText<ovrin::RepositoryException>([&] {
    try { body(); } catch (const ovrin::RepositoryException& e) { status = e.status; throw; }
  });
  return text + " [" + std::to_string(status) + "]";
}

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

// A sample installation whose repository the test fills with the fixture generator.
class FixtureRepoTest : public ::testing::Test {
 protected:
  void Build(const std::string& layout) {
    MakeFixtureRepo(install.dumps(), layout);
    repo.reset(new ovrin::tRepository(install.dumps(), "", "", "", false));
  }
  std::string Path(const std::string& rel) const { return install.dumps() + "/" + rel; }
  // The size of an exported file with its parts 1 .. parts-1.
  std::string SizeOf(const std::string& rel, int parts = 1) const {
    size_t size = 0;
    for (int i = 0; i < parts; ++i) size += ReadFile(Path(rel + (i ? std::to_string(i) : ""))).size();
    return std::to_string(size);
  }

  SampleInstallation install;
  std::unique_ptr<ovrin::tRepository> repo;
};

}  // namespace dktest
