#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "repository/packed_files.h"
#include "repository/repository.h"
#include "tests/repository/repo_fixture.h"

using namespace ovrin;
using dktest::LocalRepo;
using dktest::ReadFile;
using dktest::RecordingLog;

namespace {

const std::string L = "1001011200";
const std::string BASE = "b_" + L + ".tgz";

// Content that differs at every offset, so a misplaced block shows.
std::string Pattern(size_t size, char seed) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(seed + i * 7 + i / 251);
  return text;
}

template <class F>
RepositoryException ExpectRepositoryError(F&& f) {
  try {
    f();
  } catch (const RepositoryException& e) {
    return e;
  }
  ADD_FAILURE() << "no RepositoryException";
  return OVRIN_EXCEPTION(RepositoryException, "", -1);
}

struct JoinFixture : ::testing::Test {
  LocalRepo src;
  LocalRepo dst;
};

}  // namespace

TEST_F(JoinFixture, PartsJoinInNumberOrderAndLookAlikesAreLeftOut) {
  // Written out of order; "02" is part 2 and "10" sorts after it by value.
  const std::string big = Pattern(2 * 1024 * 1024 + 123, 'b');  // spans several copy blocks
  src.Touch("exp/" + BASE + "10", "D");
  src.Touch("exp/" + BASE + "02", "C");
  src.Touch("exp/" + BASE, "A");
  src.Touch("exp/" + BASE + "1", big);
  for (const char* other : {".1", "_x", "99999999999999999999", "-1", "x1"})
    src.Touch("exp/" + BASE + std::string(other), "!");
  src.Touch("exp/c_" + L + ".tgz1", "!");

  std::vector<std::string> parts;
  GetFileParts(src.repo->Transport(), "exp/" + BASE, parts);
  EXPECT_EQ(parts, (std::vector<std::string>{"exp/" + BASE, "exp/" + BASE + "1", "exp/" + BASE + "02",
                                             "exp/" + BASE + "10"}));

  src.repo->PackedExportToRepo("exp/" + BASE, *dst.repo, "joined.tgz");
  EXPECT_EQ("A" + big + "CD", ReadFile(dst.Path("joined.tgz")));
  EXPECT_EQ(dst.Tree(), (std::vector<std::string>{"joined.tgz"}));  // no work file left beside it

  // Streamed through a sub-tree of the storage, the parts join the same way.
  tRepository subTree(src.dir.path(), "", "", "exp", false);
  subTree.PackedExportToRepo(BASE, *dst.repo, "streamed.tgz");
  EXPECT_EQ("A" + big + "CD", ReadFile(dst.Path("streamed.tgz")));
  dst.repo->Transport().Delete("streamed.tgz");

  // The joined file gets ordinary permissions, not those of a private temporary file.
  struct stat st;
  ASSERT_EQ(0, ::stat(dst.Path("joined.tgz").c_str(), &st));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(0666u & ~mask, st.st_mode & 0777u);
}

TEST_F(JoinFixture, JoinOntoAnotherFileSystemCopiesThroughTheBuffer) {
  if (!dktest::Exists("/dev/shm")) GTEST_SKIP() << "no second file system at /dev/shm";
  char dir[] = "/dev/shm/dumpkeep_export_XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(dir));
  const std::string other = dir;
  const std::string big = Pattern(300000, 'q');
  src.Touch(BASE, big);
  src.Touch(BASE + "1", "tail");
  {
    tRepository shm(other, "", "", "", false);
    src.repo->PackedExportToRepo(BASE, shm, "j.tgz");
  }
  EXPECT_EQ(big + "tail", ReadFile(other + "/j.tgz"));
  EXPECT_EQ(dktest::ListTree(other), (std::vector<std::string>{"j.tgz"}));
  dktest::Shell("rm -rf '" + other + "'");
}

TEST_F(JoinFixture, DestinationDirectoryIsMadeOneLevelDeepOnly) {
  src.Touch(BASE, "A");
  src.Touch(BASE + "1", "B");
  src.repo->PackedExportToRepo(BASE, *dst.repo, "new/j.tgz");
  EXPECT_EQ("AB", ReadFile(dst.Path("new/j.tgz")));

  EXPECT_THROW(src.repo->PackedExportToRepo(BASE, *dst.repo, "a/b/j.tgz"), RepositoryException);
  EXPECT_EQ(dst.Tree(), (std::vector<std::string>{"new/", "new/j.tgz"}));
}

TEST_F(JoinFixture, RefusalsComeBeforeAnyRead) {
  // The source does not exist at all: only the destination check can answer.
  dst.Touch("taken.tgz", "old");
  RepositoryException exists =
      ExpectRepositoryError([&] { src.repo->PackedExportToRepo(BASE, *dst.repo, "taken.tgz"); });
  EXPECT_EQ(3, exists.status);
  EXPECT_STREQ("Repository error: file taken.tgz exists", exists.what());
  EXPECT_EQ("old", ReadFile(dst.Path("taken.tgz")));

  src.Touch(BASE + "1", "B");
  src.Touch(BASE + "2", "C");
  RepositoryException missing = ExpectRepositoryError([&] { src.repo->PackedExportToRepo(BASE, *dst.repo, "j.tgz"); });
  EXPECT_EQ(1, missing.status);
  EXPECT_STREQ(("Repository error: file '" + BASE + "' does not exists").c_str(), missing.what());

  EXPECT_STREQ("Repository error: path to exporting file is empty",
               ExpectRepositoryError([&] { src.repo->PackedExportToRepo("", *dst.repo, "j.tgz"); }).what());
  EXPECT_STREQ("Repository error: destination path path is empty",
               ExpectRepositoryError([&] { src.repo->PackedExportToRepo(BASE, *dst.repo, ""); }).what());
  EXPECT_EQ(dst.Tree(), (std::vector<std::string>{"taken.tgz"}));
}

TEST_F(JoinFixture, FailedPartReadLeavesNoDestinationFile) {
  src.Touch(BASE, Pattern(100000, 'a'));
  ::mkdir(src.Path(BASE + "1").c_str(), 0755);  // listed like a part, cannot be read as one
  src.Touch(BASE + "2", "C");

  RepositoryException e = ExpectRepositoryError([&] { src.repo->PackedExportToRepo(BASE, *dst.repo, "new/j.tgz"); });
  EXPECT_STREQ("Repository error: unable to export file: Input stream error", e.what());
  EXPECT_TRUE(dst.Tree().empty());  // neither the file nor the directory made for it

  // The same through a stream of a sub-tree of the storage.
  dktest::TempDir outer;
  dktest::Shell("mkdir -p '" + outer.path() + "/sub' && cp -a '" + src.dir.path() + "/.' '" + outer.path() +
                "/sub/'");
  tRepository subTree(outer.path(), "", "", "sub", false);
  RepositoryException streamed = ExpectRepositoryError([&] { subTree.PackedExportToRepo(BASE, *dst.repo, "j.tgz"); });
  EXPECT_STREQ("Repository error: unable to export file: Input stream error", streamed.what());
  EXPECT_TRUE(dst.Tree().empty());

  if (geteuid() != 0) {
    ::rmdir(src.Path(BASE + "1").c_str());
    src.Touch(BASE + "1", "B");
    ASSERT_EQ(0, ::chmod(src.Path(BASE + "1").c_str(), 0));
    EXPECT_THROW(src.repo->PackedExportToRepo(BASE, *dst.repo, "j.tgz"), RepositoryException);
    EXPECT_TRUE(dst.Tree().empty());
  }
}

namespace {

struct DumpExportFixture : ::testing::Test {
  dktest::SampleInstallation installation;
  LocalRepo src;
  LocalRepo dst;
  const std::string info = "clients/c1/backup_info_" + L + ".xml";

  void SetUp() override {
    src.Touch(info, "<?xml version=\"1.0\"?><info/>\n");
    src.Touch("clients/c1/.discovered/backup_info_" + L + "/size_10", "");
    src.Touch("clients/c1/backup_user_" + L + ".tgz");
    src.Touch("clients/c1/sub/backup_mail_" + L + ".tar");
    src.Touch("clients/c1/backup_user_1002011200.tgz");
  }

  // Runs the export and returns the message of the error it must end with.
  std::string Export(const std::string& fileName, const std::string& extension) {
    std::vector<std::string> files;
    try {
      src.repo->ExportToRepo(info, *dst.repo, "", fileName, extension, COMPRESSION_FAST, -1, &files, nullptr);
    } catch (const Exc<&tRepository::ArchiverError>& e) {
      EXPECT_TRUE(files.empty());
      return e.what();
    }
    ADD_FAILURE() << "no archiver error";
    return "";
  }
};

}  // namespace

TEST_F(DumpExportFixture, EndsWithTheArchiverErrorAfterGatheringTheDump) {
  RecordingLog log;
  EXPECT_EQ("Archiver error: Multivolume packing not implemented", Export("", ""));
  EXPECT_TRUE(log.HasPart("using: filename backup_" + L + ".tgz. Addditional files count: 1. Split size: -1"));
  for (const std::string& part :
       {".discovered/backup_info_" + L, "backup_user_" + L + ".tgz", "sub/backup_mail_" + L + ".tar"})
    EXPECT_TRUE(log.HasPart(part)) << part;
  // Neither another dump's files nor the descriptor, which travels only as
  // its signed copy, are among the dump's files.
  auto pack = std::find_if(log.lines.begin(), log.lines.end(),
                           [](const std::string& l) { return l.find("': Pack ") != std::string::npos; });
  ASSERT_NE(log.lines.end(), pack);
  EXPECT_EQ(std::string::npos, pack->find("backup_user_1002011200")) << *pack;
  EXPECT_EQ(std::string::npos, pack->find(".xml")) << *pack;

  // Nothing reached the destination; the work file and the signed copy are gone.
  EXPECT_TRUE(dst.Tree().empty());
  EXPECT_TRUE(dktest::ListTree(installation.tmp()).empty());

  log.lines.clear();
  Export("given.tar", "");
  EXPECT_TRUE(log.HasPart("using: filename given.tar. Addditional"));
  log.lines.clear();
  Export("", "tar");
  EXPECT_TRUE(log.HasPart("using: filename backup_" + L + ", extension tar."));
}

TEST_F(DumpExportFixture, DescriptorPathLeavingTheRepositoryIsRefused) {
  // A readable descriptor just outside the repository root.
  dktest::TempDir outer;
  dktest::WriteFile(outer / "repo/clients/keep", "");
  dktest::WriteFile(outer / "outside/backup_info_" + L + ".xml", "<info/>");
  tRepository inner(outer / "repo", "", "", "", false);
  RepositoryException e = ExpectRepositoryError([&] {
    std::vector<std::string> files;
    inner.ExportToRepo("clients/../../outside/backup_info_" + L + ".xml", *dst.repo, "", "", "",
                       COMPRESSION_FAST, -1, &files, nullptr);
  });
  EXPECT_EQ(2, e.status);
  EXPECT_TRUE(dktest::ListTree(installation.tmp()).empty());
}
