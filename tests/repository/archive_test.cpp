// Archive probes, extraction and listing through the real tar and perl.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "repository/archive.h"
#include "tests/repository/repo_fixture.h"
#include "tests/support/archive_support.h"

namespace dktest {
namespace {

using ArchiverError = ovrin::Exc<&ovrin::tRepository::ArchiverError>;
using Members = std::vector<ovrin::ArchiveMember>;

// Three members of distinct content in a scratch tree, packed on demand. The
// temporary list and script files go to the sample installation's tmp, and none stays.
class Archive : public ::testing::Test {
 protected:
  Archive() {
    WriteFile(tree / members[0], "<client/>\n");
    WriteFile(tree / members[1], std::string(70000, 'u') + "end");
    WriteFile(tree / members[2], "");
  }
  void TearDown() override { EXPECT_EQ(Words{}, ListTree(installation.tmp())); }
  // Packs the members into `name` in `out`, cut into `parts`; returns the part paths.
  Words Pack(const std::string& name, bool gzip, int parts) {
    PackMembers(tree.path(), members, out / name, gzip);
    SplitIntoParts(out / name, parts);
    Words paths = {out / name};
    for (int n = 1; n < parts; ++n) paths.push_back(out / name + std::to_string(n));
    return paths;
  }

  SampleInstallation installation;
  TempDir tree, out, dest;
  Words members = {"backup_info_1001011200.xml", "backup_user_1001011200.tgz",
                   ".discovered/backup_info_1001011200/size_5"};
  Members files;
};

// gzip and plain tar are told apart; anything else, a file too short to tell
// and a missing one are refused.
TEST_F(Archive, TellGzipFromTarAndRefuseEverythingElse) {
  EXPECT_FALSE(ovrin::IsGzipped(Pack("a_1001011200.tar", false, 1)[0]));
  EXPECT_TRUE(ovrin::IsGzipped(Pack("a_1001011200.tgz", true, 1)[0]));
  WriteFile(out / "zip", std::string("PK\x03\x04", 4) + std::string(600, '\0'));
  WriteFile(out / "short", "\x1f");
  for (const std::string& path : Words{out / "zip", out / "short", out / "missing"})
    EXPECT_EQ("Repository error: File has wrong format [2]", Refusal([&] { ovrin::IsGzipped(path); }));
}

// Parts whose names hold every character a shell or perl string treats specially reach tar whole.
TEST_F(Archive, SplitPartsReachTarWholeWhateverTheirNamesHold) {
  const std::string odd = "odd 'q' \"dq\" $HOME `x` \\n\\ ;|&\nline";
  Shell("mkdir '" + dest / "in" + "'");
  const std::string archive = dest / "in/p$1 'x'_1001011200.tgz";
  PackMembers(tree.path(), members, archive, true);
  SplitIntoParts(archive, 3);
  Words parts;
  for (const char* suffix : {"", "1", "2"}) {
    parts.push_back(dest / ("in/" + odd + suffix));
    ASSERT_EQ(0, std::rename((archive + suffix).c_str(), parts.back().c_str()));
  }
  ASSERT_EQ(0, mkdir((dest / odd).c_str(), 0700));
  ovrin::ExtractArchive(parts, dest / odd, files, {}, {});
  EXPECT_EQ(members, ovrin::MemberNames(files));
  EXPECT_EQ(ReadFile(tree / members[1]), ReadFile(dest / (odd + "/" + members[1])));
}

// A missing last part, an unreadable part, a selected member tar cannot find
// and no part at all each fail the extraction.
TEST_F(Archive, AFailingPartOrTarFailsTheRun) {
  const Words parts = Pack("d_1001011200.tar", false, 3);
  Words unreadable = parts;
  unreadable[1] = out / "no such part";
  EXPECT_THROW(ovrin::ExtractArchive(Words(parts.begin(), parts.end() - 1), dest.path(), files, {}, {}),
               ArchiverError);
  EXPECT_NE(std::string::npos, ThrownText<ArchiverError>([&] {
              ovrin::ExtractArchive(unreadable, dest.path(), files, {}, {});
            }).find("no such part"));
  EXPECT_THROW(ovrin::ExtractArchive(parts, dest.path(), files, {"absent_1001011200.tgz"}, {}), ArchiverError);
  EXPECT_EQ("Archiver error: no files to extract",
            ThrownText<ArchiverError>([&] { ovrin::ExtractArchive({}, dest.path(), files, {}, {}); }));
}

// Selections take only their members; the peek takes the first top-level match alone.
TEST_F(Archive, SelectionsTakeOnlyTheirMembersAndThePeekStopsAtTheFirst) {
  for (const std::string name : {"sub/backup_more_1001011200.tgz", "later_1001011200.xml"}) {
    members.push_back(name);
    WriteFile(tree / name, name);
  }
  const Words parts = Pack("d_1001011200.tgz", true, 2);
  ovrin::ExtractArchive(parts, out.path(), files, {"sub", members[0]}, {});
  EXPECT_EQ((Words{members[0], members[3]}), ovrin::MemberNames(files));
  // An excluded directory takes everything below it; the directory tar makes
  // for a member whose parent the archive lacks is no member.
  ovrin::ExtractArchive(parts, dest.path(), files, {}, {"sub", "later_1001011200.xml"});
  EXPECT_EQ((Words{members[0], members[1], members[2]}), ovrin::MemberNames(files));
  EXPECT_EQ((Words{".discovered/", ".discovered/backup_info_1001011200/", members[2], members[0], members[1]}),
            ListTree(dest.path()));
  TempDir peek, none;
  ovrin::ExtractFirstAtTop(parts, peek.path(), "*.xml");
  EXPECT_EQ(Words{members[0]}, ListTree(peek.path()));
  ovrin::ExtractFirstAtTop(parts, none.path(), "*.none");
  EXPECT_EQ(Words{}, ListTree(none.path()));
}

// Listing and one-pass extraction refuse each hostile member with the same
// message naming it as stored, and the extraction writes nothing beside its directory.
TEST_F(Archive, HostileMembersAreRefusedWithTheirStoredNames) {
  WriteFile(out / "abs", "x");
  const std::string refused = "Repository error: Dump has wrong format. Archive member '";
  const struct { std::string setup, tarArgs, verdict; } cases[] = {  // no tarArgs: setup writes ../a.tar
      {"echo > ../x", "../x", refused + "../x' leads out of the dump directory [2]"},
      {"mkdir a && echo > ../x", "a/../../x", refused + "a/../../x' leads out of the dump directory [2]"},
      {"true", out / "abs", refused + out / "abs' has an absolute name [2]"},
      {"ln -s /etc/passwd l", "l", refused + "l -> /etc/passwd' is not a regular file or directory [2]"},
      {"echo > f && ln f h", "f h", refused + "h link to f' is not a regular file or directory [2]"},
      {"mkfifo p", "p", refused + "p' is not a regular file or directory [2]"},
      // A link out of the tree, then a member written through it.
      {"ln -s .. l && tar -cf ../a.tar l && rm l && mkdir l && echo x > l/x && tar -rf ../a.tar l/x", "",
       refused + "l -> ..' is not a regular file or directory [2]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setup);
    TempDir dir;
    Shell("cd '" + dir.path() + "' && mkdir -p t out/in && cd t && " + c.setup +
          (c.tarArgs.empty() ? "" : " && tar -cPf ../a.tar " + c.tarArgs));
    const auto outside = [&dir] {  // all but what lands in out/in
      Words entries;
      for (const std::string& entry : SnapshotTree(dir.path()))
        if (entry.compare(0, 7, "out/in/") != 0) entries.push_back(entry);
      return entries;
    };
    const Words before = outside();
    Members listed;
    ovrin::ListArchive({dir / "a.tar"}, listed);
    EXPECT_EQ(c.verdict, Refusal([&] { ovrin::CheckArchiveMembers(listed); }));
    EXPECT_EQ(c.verdict, Refusal([&] { ovrin::ExtractArchive({dir / "a.tar"}, dir / "out/in", files, {}, {}); }));
    EXPECT_EQ(before, outside());
  }
}

// The listing keeps tar's order, each member's type and its name as stored;
// a cut archive fails it.
TEST_F(Archive, ListingKeepsOrderTypesAndNames) {
  Shell("cd '" + dest.path() + "' && mkdir -p t/d && echo > 't/d/x  y' && echo > t/z && "
        "tar -cf a.tar --no-recursion -C t d 'd/x  y' z");
  ovrin::ListArchive({dest / "a.tar"}, files);
  EXPECT_EQ((Words{"d/", "d/x  y", "z"}), ovrin::MemberNames(files));
  std::string types;
  for (const ovrin::ArchiveMember& member : files) types += member.type;
  EXPECT_EQ("d--", types);
  WriteFile(dest / "cut.tar", ReadFile(Pack("c_1001011200.tar", false, 1)[0]).substr(0, 2048));
  EXPECT_EQ("Archiver error: unable to extract files from " + dest / "cut.tar",
            ThrownText<ArchiverError>([&] { ovrin::ListArchive({dest / "cut.tar"}, files); }));
}

}  // namespace
}  // namespace dktest
