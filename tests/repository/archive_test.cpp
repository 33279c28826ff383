// Archive probes, extraction and listing through the real tar and perl.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "repository/archive.h"
#include "repository/repository.h"
#include "tests/support/archive_support.h"
#include "tests/support/test_support.h"

namespace {

using Words = std::vector<std::string>;
using dktest::ReadFile;
using dktest::Shell;
using dktest::TempDir;
using dktest::WriteFile;

// Temporary list and script files go to the sample installation's tmp.
class Archive : public ::testing::Test {
 protected:
  dktest::SampleInstallation installation;
  void TearDown() override { EXPECT_EQ(Words{}, dktest::ListTree(installation.tmp())); }
};

// A scratch tree with three members of distinct content, packed on demand.
struct SmallArchive {
  TempDir tree;
  TempDir out;
  Words members = {"backup_info_1001011200.xml", "backup_user_1001011200.tgz", ".discovered/backup_info_1001011200/size_5"};

  SmallArchive() {
    WriteFile(tree / members[0], "<client/>\n");
    WriteFile(tree / members[1], std::string(70000, 'u') + "end");
    WriteFile(tree / members[2], "");
  }
  // Packs into `name` inside `out`; returns the part paths.
  Words Pack(const std::string& name, bool gzip, int parts) {
    const std::string archive = out / name;
    dktest::PackMembers(tree.path(), members, archive, gzip);
    Words result = {archive};
    if (parts > 1) {
      dktest::SplitIntoParts(archive, parts);
      for (int n = 1; n < parts; ++n) result.push_back(archive + std::to_string(n));
    }
    return result;
  }
};

TEST_F(Archive, TellGzipFromTarAndRefuseEverythingElse) {
  SmallArchive a;
  const std::string tar = a.Pack("a_1001011200.tar", false, 1)[0];
  const std::string tgz = a.Pack("a_1001011200.tgz", true, 1)[0];
  EXPECT_FALSE(ovrin::IsGzipped(tar));
  EXPECT_TRUE(ovrin::IsGzipped(tgz));

  TempDir dir;
  WriteFile(dir / "zip", std::string("PK\x03\x04", 4) + std::string(600, '\0'));
  WriteFile(dir / "short", std::string("\x1f", 1));
  std::ifstream zip(dir / "zip", std::ios::binary);
  EXPECT_TRUE(ovrin::HasZipFormat(zip));
  EXPECT_FALSE(ovrin::HasTarFormat(zip));
  // Probes rewind and clear the stream themselves, so the order of use does not matter.
  EXPECT_TRUE(ovrin::HasZipFormat(zip));
  std::ifstream shortFile(dir / "short", std::ios::binary);
  EXPECT_FALSE(ovrin::HasGzipFormat(shortFile));
  EXPECT_FALSE(ovrin::HasTarFormat(shortFile));

  for (const std::string& path : Words{dir / "zip", dir / "short", dir / "missing"}) {
    try {
      ovrin::IsGzipped(path);
      ADD_FAILURE() << path << " accepted";
    } catch (const ovrin::RepositoryException& e) {
      EXPECT_EQ(2, e.status);
      EXPECT_STREQ("Repository error: File has wrong format", e.what());
    }
  }
}

TEST_F(Archive, SplitPartsReachTarWholeWhateverTheirNamesHold) {
  SmallArchive a;
  // Every character a shell or a perl string would treat specially.
  const std::string odd = "odd 'q' \"dq\" $HOME `x` \\n\\ ;|&\nline";
  TempDir base;
  Shell("mkdir -p '" + base.path() + "/in'");
  const std::string archive = base / "in/p$1 'x'_1001011200.tgz";
  dktest::PackMembers(a.tree.path(), a.members, archive, true);
  dktest::SplitIntoParts(archive, 3);
  Words parts;
  for (const char* suffix : {"", "1", "2"}) {
    const std::string renamed = base / ("in/" + odd + suffix);
    ASSERT_EQ(0, std::rename(std::string(archive + suffix).c_str(), renamed.c_str()));
    parts.push_back(renamed);
  }
  const std::string dest = base / odd;
  ASSERT_EQ(0, mkdir(dest.c_str(), 0700));
  std::vector<ovrin::ArchiveMember> files;
  ovrin::ExtractArchive(parts, dest, files, {}, {});
  EXPECT_EQ(a.members, ovrin::MemberNames(files));
  EXPECT_EQ(ReadFile(a.tree / a.members[1]), ReadFile(dest + "/" + a.members[1]));
}

TEST_F(Archive, AFailingPartOrTarFailsTheRun) {
  SmallArchive a;
  Words parts = a.Pack("d_1001011200.tar", false, 3);
  TempDir dest;
  std::vector<ovrin::ArchiveMember> files;

  // The last part missing: tar meets a truncated archive.
  Words truncated(parts.begin(), parts.end() - 1);
  EXPECT_THROW(ovrin::ExtractArchive(truncated, dest.path(), files, {}, {}), ovrin::Exc<&ovrin::tRepository::ArchiverError>);
  // A part that cannot be read at all.
  Words unreadable = parts;
  unreadable[1] = dest / "no such part";
  try {
    ovrin::ExtractArchive(unreadable, dest.path(), files, {}, {});
    ADD_FAILURE() << "unreadable part accepted";
  } catch (const ovrin::Exc<&ovrin::tRepository::ArchiverError>& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("no such part"));
  }
  // A member tar cannot find fails a selective extraction.
  EXPECT_THROW(ovrin::ExtractArchive(parts, dest.path(), files, {"absent_1001011200.tgz"}, {}),
               ovrin::Exc<&ovrin::tRepository::ArchiverError>);
  EXPECT_THROW(ovrin::ExtractArchive({}, dest.path(), files, {}, {}), ovrin::Exc<&ovrin::tRepository::ArchiverError>);
}

TEST_F(Archive, SelectionsTakeOnlyTheirMembersAndThePeekStopsAtTheFirst) {
  SmallArchive a;
  a.members.push_back("sub/backup_more_1001011200.tgz");
  WriteFile(a.tree / a.members.back(), "more");
  a.members.push_back("later_1001011200.xml");
  WriteFile(a.tree / a.members.back(), "<later/>");
  const Words parts = a.Pack("d_1001011200.tgz", true, 2);

  TempDir picked, rest, peek;
  std::vector<ovrin::ArchiveMember> files;
  ovrin::ExtractArchive(parts, picked.path(), files, {"sub", "backup_info_1001011200.xml"}, {});
  EXPECT_EQ((Words{a.members[0], a.members[3]}), ovrin::MemberNames(files));
  // An excluded directory takes everything below it; the directory tar makes
  // for a member whose parent the archive lacks is no member.
  ovrin::ExtractArchive(parts, rest.path(), files, {}, {"sub", "later_1001011200.xml"});
  EXPECT_EQ((Words{a.members[0], a.members[1], a.members[2]}), ovrin::MemberNames(files));
  EXPECT_EQ((Words{".discovered/", ".discovered/backup_info_1001011200/", a.members[2], a.members[0], a.members[1]}),
            dktest::ListTree(rest.path()));

  // Only the first top-level match lands, nothing below the top.
  ovrin::ExtractFirstAtTop(parts, peek.path(), "*.xml");
  EXPECT_EQ(Words{a.members[0]}, dktest::ListTree(peek.path()));
  TempDir none;
  ovrin::ExtractFirstAtTop(parts, none.path(), "*.none");
  EXPECT_EQ(Words{}, dktest::ListTree(none.path()));
}

// Builds an archive from `setup` (a shell snippet run inside a scratch tree)
// and `tarArgs` (none: `setup` writes ../a.tar itself), and returns what its listing and its extraction each say
// about it; the extraction never writes beside its directory.
std::string CheckVerdict(const std::string& setup, const std::string& tarArgs) {
  TempDir dir;
  Shell("cd '" + dir.path() + "' && mkdir t && cd t && " + setup + (tarArgs.empty() ? "" : " && tar -cPf ../a.tar " + tarArgs));
  std::vector<ovrin::ArchiveMember> members;
  ovrin::ListArchive({dir / "a.tar"}, members);
  std::string listed = "accepted";
  try {
    ovrin::CheckArchiveMembers(members);
  } catch (const ovrin::RepositoryException& e) {
    EXPECT_EQ(2, e.status);
    listed = e.what();
  }
  Shell("mkdir -p '" + dir.path() + "/out/in'");
  // Everything but what lands in out/in.
  const auto outside = [&dir]() {
    Words entries;
    for (const std::string& entry : dktest::SnapshotTree(dir.path())) {
      if (entry.compare(0, 7, "out/in/") != 0) entries.push_back(entry);
    }
    return entries;
  };
  const Words before = outside();
  std::string extracted = "accepted";
  try {
    ovrin::ExtractArchive({dir / "a.tar"}, dir / "out/in", members, {}, {});
  } catch (const ovrin::RepositoryException& e) {
    EXPECT_EQ(2, e.status);
    extracted = e.what();
  }
  EXPECT_EQ(listed, extracted);
  EXPECT_EQ(before, outside()) << tarArgs;
  return listed;
}

TEST_F(Archive, HostileMembersAreRefusedWithTheirStoredNames) {
  const std::string prefix = "Repository error: Dump has wrong format. Archive member '";
  EXPECT_EQ(prefix + "../x' leads out of the dump directory", CheckVerdict("echo > ../x", "../x"));
  EXPECT_EQ(prefix + "a/../../x' leads out of the dump directory",
            CheckVerdict("mkdir a && echo > ../x", "a/../../x"));
  TempDir outside;
  WriteFile(outside / "abs", "x");
  EXPECT_EQ(prefix + outside.path() + "/abs' has an absolute name", CheckVerdict("true", outside / "abs"));
  EXPECT_EQ(prefix + "l -> /etc/passwd' is not a regular file or directory",
            CheckVerdict("ln -s /etc/passwd l", "l"));
  EXPECT_EQ(prefix + "h link to f' is not a regular file or directory",
            CheckVerdict("echo > f && ln f h", "f h"));
  EXPECT_EQ(prefix + "p' is not a regular file or directory", CheckVerdict("mkfifo p", "p"));
  // A link out of the tree, then a member written through it.
  EXPECT_EQ(prefix + "l -> ..' is not a regular file or directory",
            CheckVerdict("ln -s .. l && tar -cf ../a.tar l && rm l && mkdir l && echo x > l/x && "
                         "tar -rf ../a.tar l/x",
                         ""));
  if (geteuid() == 0) {
    EXPECT_EQ(prefix + "null' is not a regular file or directory", CheckVerdict("mknod null c 1 3", "null"));
  }
  // Ordinary members, also with odd but harmless names, pass.
  EXPECT_EQ("accepted", CheckVerdict("mkdir d && echo > 'd/a ..b' && echo > '..c'", "'d/a ..b' '..c'"));
}

TEST_F(Archive, ListingKeepsOrderTypesAndNames) {
  TempDir dir;
  Shell("cd '" + dir.path() + "' && mkdir -p t/d && echo > 't/d/x  y' && echo > t/z && "
        "tar -cf a.tar --no-recursion -C t d 'd/x  y' z");
  std::vector<ovrin::ArchiveMember> members;
  ovrin::ListArchive({dir / "a.tar"}, members);
  ASSERT_EQ(3u, members.size());
  EXPECT_EQ('d', members[0].type);
  EXPECT_EQ((Words{"d/", "d/x  y", "z"}), ovrin::MemberNames(members));
  EXPECT_EQ('-', members[1].type);

  WriteFile(dir / "junk", std::string(1024, 'j'));
  EXPECT_THROW(ovrin::ListArchive({dir / "junk"}, members), ovrin::RepositoryException);
}

TEST_F(Archive, SafeCreateDirMakesParentsAndReportsFailure) {
  TempDir dir;
  EXPECT_TRUE(ovrin::SafeCreateDir(dir / "a/b/c"));
  EXPECT_TRUE(dktest::Exists(dir / "a/b/c"));
  EXPECT_TRUE(ovrin::SafeCreateDir(dir / "a/b"));
  WriteFile(dir / "file", "x");
  EXPECT_FALSE(ovrin::SafeCreateDir(dir / "file/sub"));
}

}  // namespace
