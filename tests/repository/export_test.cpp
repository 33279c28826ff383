// Export out of a repository: the join of an exported file's split parts
// into one file at another storage, and the export of a structured dump.
#include <sys/stat.h>

#include "repository/packed_files.h"
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

const std::string L = "1001011200";
const std::string BASE = "b_" + L + ".tgz";

struct Export : ::testing::Test {
  LocalRepo src, dst;
};

// Parts join in number order ("02" is the second, "10" comes after it) and
// look-alike names stay out; the joined file gets the usual permissions and
// no work file is left. The bytes are the same when a sub-tree of the storage
// streams the parts and when the kernel cannot copy onto another file system.
TEST_F(Export, PartsJoinInNumberOrderAndLookAlikesAreLeftOut) {
  std::string big(2 * 1024 * 1024 + 123, '\0');  // spans several copy blocks; differs at every offset
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('b' + i * 7 + i / 251);
  src.Touch("exp/" + BASE + "10", "D");
  src.Touch("exp/" + BASE + "02", "C");
  src.Touch("exp/" + BASE, "A");
  src.Touch("exp/" + BASE + "1", big);
  for (const char* other : {".1", "_x", "99999999999999999999", "-1", "x1"}) src.Touch("exp/" + BASE + other, "!");
  src.Touch("exp/c_" + L + ".tgz1", "!");
  Words parts;
  GetFileParts(src.repo->Transport(), "exp/" + BASE, parts);
  EXPECT_EQ(parts, (Words{"exp/" + BASE, "exp/" + BASE + "1", "exp/" + BASE + "02", "exp/" + BASE + "10"}));

  src.repo->PackedExportToRepo("exp/" + BASE, *dst.repo, "joined.tgz");
  tRepository subTree(src.Root(), "", "", "exp", false);
  subTree.PackedExportToRepo(BASE, *dst.repo, "streamed.tgz");
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
  EXPECT_EQ(dst.Tree(), (Words{"joined.tgz", "streamed.tgz"}));
  EXPECT_EQ(ReadFile(dst.Path("joined.tgz")), joined);
  EXPECT_EQ(ReadFile(dst.Path("streamed.tgz")), joined);
  struct stat st;
  ASSERT_EQ(0, ::stat(dst.Path("joined.tgz").c_str(), &st));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(0666u & ~mask, st.st_mode & 0777u);
}

// Refusals come before anything is read or written; only the last directory
// of the destination is made; a part that cannot be read (copied or streamed)
// leaves neither a file nor a directory made for it.
TEST_F(Export, JoinRefusalsAndFailures) {
  src.Touch(BASE + "1", "B");
  dst.Touch("taken.tgz", "old");
  const struct {
    std::string from, to, refusal;
  } cases[] = {
      {BASE, "taken.tgz", "Repository error: file taken.tgz exists [3]"},
      {BASE, "j.tgz", "Repository error: file '" + BASE + "' does not exists [1]"},
      {"", "j.tgz", "Repository error: path to exporting file is empty [0]"},
      {BASE, "", "Repository error: destination path path is empty [0]"},
      {"sub/" + BASE, "new/j.tgz", "Repository error: unable to export file: Input stream error [0]"},
  };
  src.Touch("sub/" + BASE, "A");
  ::mkdir(src.Path("sub/" + BASE + "1").c_str(), 0755);  // listed like a part, cannot be read as one
  src.Touch("sub/" + BASE + "2", "C");
  for (const auto& c : cases)
    EXPECT_EQ(Refusal([&] { src.repo->PackedExportToRepo(c.from, *dst.repo, c.to); }), c.refusal) << c.to;
  tRepository subTree(src.Root(), "", "", "sub", false);
  EXPECT_EQ(Refusal([&] { subTree.PackedExportToRepo(BASE, *dst.repo, "new/j.tgz"); }),
            "Repository error: unable to export file: Input stream error [0]");
  EXPECT_EQ(dst.Tree(), Words{"taken.tgz"});
  EXPECT_EQ(ReadFile(dst.Path("taken.tgz")), "old");

  src.Touch(BASE, "A");
  EXPECT_EQ(Refusal([&] { src.repo->PackedExportToRepo(BASE, *dst.repo, "a/b/j.tgz"); }),
            "Repository error: unable to export file: boost::filesystem::create_directory: No such file or "
            "directory: \"" + dst.Path("a/b") + "\" [0]");
  src.repo->PackedExportToRepo(BASE, *dst.repo, "new/j.tgz");
  EXPECT_EQ(dst.Tree(), (Words{"new/", "new/j.tgz", "taken.tgz"}));
  EXPECT_EQ(ReadFile(dst.Path("new/j.tgz")), "AB");
}

// The export of a dump refuses a descriptor path leaving the repository
// before reading it.
TEST_F(Export, DumpExportRefusesADescriptorPathLeavingTheRepository) {
  src.Touch("../outside/backup_info_" + L + ".xml", "<info/>");
  Words files;
  EXPECT_EQ(Refusal([&] {
              src.repo->ExportToRepo("clients/../../outside/backup_info_" + L + ".xml", *dst.repo, "", "", "",
                                     COMPRESSION_FAST, -1, &files, nullptr);
            }),
            "Repository error: file name 'clients/../../outside/backup_info_1001011200.xml' has wrong format [2]");
  EXPECT_EQ(dst.Tree(), Words{});
}

}  // namespace
}  // namespace dktest
