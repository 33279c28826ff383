// Export out of a repository: joins of split exported files, and the export of a structured dump.
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

const std::string BASE = "b_1001011200.tgz";

struct Export : ::testing::Test {
  LocalRepo src, dst;
};

// Parts join in number order without look-alikes into a file of the usual permissions, also across
// file systems, leaving no work file.
TEST_F(Export, PartsJoinInNumberOrderAndLookAlikesAreLeftOut) {
  std::string big(2 * 1024 * 1024 + 123, '\0');  // spans several copy blocks; differs at every offset
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('b' + i * 7 + i / 251);
  using Part = std::pair<std::string, std::string>;
  for (const Part& part : {Part{"10", "D"}, Part{"02", "C"}, Part{"", "A"}, Part{"1", big}})
    src.Touch("exp/" + BASE + part.first, part.second);
  for (const char* other : {".1", "_x", "99999999999999999999", "-1", "x1"}) src.Touch("exp/" + BASE + other, "!");
  src.Touch("exp/c_1001011200.tgz1", "!");
  src.repo->PackedExportToRepo("exp/" + BASE, *dst.repo, "joined.tgz");
  char shm[] = "/dev/shm/dumpkeep_export_XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(shm)) << "the test needs a second file system at /dev/shm";
  {
    tRepository other(shm, "", "", "", false);
    src.repo->PackedExportToRepo("exp/" + BASE, other, "j.tgz");
  }
  const std::string joined = "A" + big + "CD";
  EXPECT_EQ(ListTree(shm), Words{"j.tgz"});
  EXPECT_EQ(ReadFile(std::string(shm) + "/j.tgz"), joined);
  Shell("rm -rf '" + std::string(shm) + "'");
  EXPECT_EQ(dst.Tree(), Words{"joined.tgz"});
  EXPECT_EQ(ReadFile(dst.Path("joined.tgz")), joined);
  struct stat st;
  ASSERT_EQ(0, ::stat(dst.Path("joined.tgz").c_str(), &st));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(0666u & ~mask, st.st_mode & 0777u);
}

// Refusals come before any write; only the last directory of the destination is made, and an unreadable
// part leaves nothing made for it.
TEST_F(Export, JoinRefusalsAndFailures) {
  src.Touch(BASE + "1", "B");
  src.Touch("sub/" + BASE, "A");
  ::mkdir(src.Path("sub/" + BASE + "1").c_str(), 0755);  // listed like a part, cannot be read as one
  src.Touch("sub/" + BASE + "2", "C");
  dst.Touch("taken.tgz", "old");
  const std::string e = "Repository error: ";
  const struct { std::string name, to, refusal; } cases[] = {
      {BASE, "taken.tgz", e + "file taken.tgz exists [3]"},
      {BASE, "j.tgz", e + "file '" + BASE + "' does not exists [1]"},
      {"", "j.tgz", e + "path to exporting file is empty [0]"},
      {BASE, "", e + "destination path path is empty [0]"},
      {"sub/" + BASE, "new/j.tgz", e + "unable to export file: Input stream error [0]"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Refusal([&] { src.repo->PackedExportToRepo(c.name, *dst.repo, c.to); }), c.refusal) << c.name;
  EXPECT_EQ(dst.Tree(), Words{"taken.tgz"});
  EXPECT_EQ(ReadFile(dst.Path("taken.tgz")), "old");

  src.Touch(BASE, "A");
  EXPECT_EQ(Refusal([&] { src.repo->PackedExportToRepo(BASE, *dst.repo, "a/b/j.tgz"); }),
            e + "unable to export file: boost::filesystem::create_directory: No such file or directory: \"" +
                dst.Path("a/b") + "\" [0]");
  src.repo->PackedExportToRepo(BASE, *dst.repo, "new/j.tgz");
  EXPECT_EQ(dst.Tree(), (Words{"new/", "new/j.tgz", "taken.tgz"}));
  EXPECT_EQ(ReadFile(dst.Path("new/j.tgz")), "AB");
}

// The export of a dump refuses a descriptor path leaving the repository before reading it.
TEST_F(Export, DumpExportRefusesADescriptorPathLeavingTheRepository) {
  src.Touch("../outside/backup_info_1001011200.xml", "<info/>");
  Words files;
  EXPECT_EQ(Refusal([&] {
              src.repo->ExportToRepo("clients/../../outside/backup_info_1001011200.xml", *dst.repo, "", "", "",
                                     COMPRESSION_FAST, -1, &files, nullptr);
            }),
            "Repository error: file name 'clients/../../outside/backup_info_1001011200.xml' has wrong format [2]");
  EXPECT_EQ(dst.Tree(), Words{});
}

}  // namespace
}  // namespace dktest
