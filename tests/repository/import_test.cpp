// Importing exported dumps into a repository of a sample installation, with
// the real tar and perl, and what a failed import leaves behind.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/repository/repo_fixture.h"
#include "tests/support/archive_support.h"

namespace dktest {
namespace {

const std::string TAR = "backup_1001011200.tar", XML = "backup_info_1001011200.xml",
                  USER = "backup_user_1001011200.tgz";

class Import : public ::testing::Test {
 protected:
  SampleInstallation installation;
  TempDir storage;  // where the exported files lie
  std::unique_ptr<ovrin::tRepository> source{new ovrin::tRepository(storage.path(), "", "", "", false)};
  std::unique_ptr<ovrin::tRepository> target{new ovrin::tRepository(installation.dumps(), "", "", "", false)};

  std::string Dumps(const std::string& rel) const { return installation.dumps() + "/" + rel; }
  // Packs `members` of `tree` into the storage as TAR.
  std::string Pack(const std::string& tree, const Words& members) {
    PackMembers(tree, members, storage / TAR, false);
    return TAR;
  }
  ovrin::DumpImportResult Run(const std::string& name, const std::string& type = "") {
    return target->ImportFromRepo(*source, name, type, "");
  }
  // "what() [status]" of a failing import, which leaves nothing in the
  // repository or the temporary directory.
  std::string Fails(const std::string& name, const std::string& type = "") {
    const Words before = ListTree(installation.dumps());
    const std::string text = Refusal([&] { Run(name, type); });
    EXPECT_EQ(before, ListTree(installation.dumps()));
    EXPECT_EQ(Words{}, ListTree(installation.tmp()));
    return text;
  }
};

// A client dump of every storage form (plain or gzip, whole or split, with or
// without directory members) lands in clients/c1 without its status item and
// is entered in the index, leaving no temporary file behind.
class ImportForms : public Import, public ::testing::WithParamInterface<std::tuple<bool, int, bool>> {};

TEST_P(ImportForms, UnpacksTheDumpIntoItsObjectDirectory) {
  ExportedDump dump;
  dump.statuses = {"OK"};
  dump.directoryMembers = std::get<2>(GetParam());
  const std::string name = std::get<0>(GetParam()) ? "backup_1001011200.tgz" : TAR;
  PackDump(dump, storage / name, std::get<0>(GetParam()));
  SplitIntoParts(storage / name, std::get<1>(GetParam()));

  const ovrin::DumpImportResult result = Run(name, "client");
  EXPECT_EQ("clients/c1/" + XML + " 0", result.text + " " + std::to_string(result.status));
  EXPECT_EQ(DescriptorXml(dump), ReadFile(Dumps(result.text)));
  EXPECT_EQ("content of " + USER + "\n", ReadFile(Dumps("clients/c1/" + USER)));
  const std::string side = "clients/c1/.discovered/backup_info_1001011200/";
  EXPECT_EQ((Words{".discovered/", ".discovered/" + dump.guid + "_c1", "clients/", "clients/c1/",
                   "clients/c1/.discovered/", side, side + "GUID_" + dump.guid, side + "objectid_c1",
                   side + "owner_2f3c0d1e-0000-4000-8000-000000000001", side + "ownertype_server", side + "size_1024",
                   "clients/c1/" + XML, "clients/c1/" + USER}),
            ListTree(installation.dumps()));
  EXPECT_EQ(Words{}, ListTree(installation.tmp()));
}

INSTANTIATE_TEST_SUITE_P(PlainGzipSplit, ImportForms,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(1, 3), ::testing::Bool()));

// A server dump lands at the root with its sidecar and no index item; a
// domain dump, of a type below the requester's, is imported for a client.
TEST_F(Import, ServerDumpsGoToTheRootAndMinorTypesPassTheRequester) {
  ExportedDump server, domain;
  server.type = "server";
  server.objectId = "";
  server.contents = {"backup_conf_1001011200.tgz"};
  PackDump(server, storage / TAR, false);
  EXPECT_EQ(XML, Run(TAR).text);
  EXPECT_TRUE(Exists(Dumps("backup_conf_1001011200.tgz")));
  const std::string side = "backup_info_1001011200/";
  EXPECT_EQ((Words{side, side + "GUID_" + server.guid, side + "owner_2f3c0d1e-0000-4000-8000-000000000001",
                   side + "ownertype_server", side + "size_1024"}),
            ListTree(Dumps(".discovered")));
  domain.type = "domain";
  domain.objectId = "example.test";
  domain.prefix = "dom";
  domain.contents = {"dom_htdocs_1001011200.tgz"};
  PackDump(domain, storage / TAR, false);
  EXPECT_EQ("domains/example.test/dom_info_1001011200.xml", Run(TAR, "client").text);
}

// Archives of the wrong shape, object ids that are no plain directory name
// among them, are refused with their message and leave nothing.
TEST_F(Import, ArchivesOfTheWrongShapeAreRefusedAndLeaveNothing) {
  TempDir tree;
  const std::string side = ".discovered/backup_info_1001011200/", id = side + "objectid_c1",
                    wrong = "Dump has wrong format. ", plain = "' is not a plain directory name";
  for (const std::string& file : {USER, std::string("otherprefix_x_1001011200.tgz"), id, side + "objectid_..",
                                  side + "objectid_.", side + "objectid_a\\b", side + "objectid_",
                                  std::string(".discovered/backup_info_0001011200/size_1")})
    WriteFile(tree / file, "");
  for (const std::string& file : {XML, std::string("other_info_1001011200.xml"), std::string("info_.xml")})
    WriteFile(tree / file, DescriptorXml(ExportedDump()));
  const std::pair<Words, std::string> cases[] = {
      {{USER, id}, "root of arhive " + TAR + " does no contains xml files"},
      {{XML, "other_info_1001011200.xml", id}, "root of arhive " + TAR + " contains more than 1 xml file"},
      {{"info_.xml", id}, "bad name of info file"},
      {{XML, "otherprefix_x_1001011200.tgz", id},
       wrong + "Archive file 'otherprefix_x_1001011200.tgz' does not match to dump prefix 'backup'"},
      {{XML, ".discovered/backup_info_0001011200/size_1", id},
       wrong + "Discovered dir 'backup_info_0001011200' does not match to dump label '1001011200'"},
      {{XML, side + "objectid_.."}, wrong + "Object id '.." + plain},
      {{XML, side + "objectid_."}, wrong + "Object id '." + plain},
      {{XML, side + "objectid_a\\b"}, wrong + "Object id 'a\\\\b" + plain},  // as tar lists it
      {{XML, side + "objectid_"}, wrong + "Object id '" + plain},
  };
  for (const auto& c : cases) EXPECT_EQ("Repository error: " + c.second + " [2]", Fails(Pack(tree.path(), c.first)));
  WriteFile(storage / "zipped_1001011200.tgz", std::string("PK\x03\x04", 4) + std::string(600, '\0'));
  EXPECT_EQ("Repository error: File has wrong format [2]", Fails("zipped_1001011200.tgz"));
  // Only the split parts are left, the base file is gone.
  PackDump(ExportedDump(), storage / "split_1001011200.tgz", true);
  SplitIntoParts(storage / "split_1001011200.tgz", 3);
  ASSERT_EQ(0, std::remove((storage / "split_1001011200.tgz").c_str()));
  EXPECT_EQ("Repository error: file 'split_1001011200.tgz' does not exists [1]", Fails("split_1001011200.tgz"));
}

// Files stored with set-id bits and a foreign owner land as ours, without them.
TEST_F(Import, ExtractionRestoresNeitherOwnersNorIdBits) {
  TempDir tree;
  Words args = WriteDumpTree(tree.path(), ExportedDump());
  ASSERT_EQ(0, chmod((tree / USER).c_str(), 06755));
  args.insert(args.begin(),
              {"-cf", storage / TAR, "--no-recursion", "--owner=4321", "--group=4321", "-C", tree.path()});
  ASSERT_EQ(0, dktest::Run("tar", args).code);
  Run(TAR);
  struct stat st;
  ASSERT_EQ(0, stat(Dumps("clients/c1/" + USER).c_str(), &st));
  EXPECT_EQ(0, st.st_mode & (S_ISUID | S_ISGID));
  EXPECT_EQ(geteuid(), st.st_uid);
  EXPECT_NE(4321u, st.st_gid);
}

// A failure after unpacking (an index item cannot be placed) removes the
// unpacked dump at its own place; same-named files at the root survive.
TEST_F(Import, FailuresRemoveOnlyWhatTheImportMade) {
  const ExportedDump dump;
  PackDump(dump, storage / TAR, false);
  WriteFile(Dumps(USER), "root file");
  WriteFile(Dumps(XML), "root descriptor");
  Shell("mkdir '" + Dumps(".discovered") + "' && ln -s none '" + Dumps(".discovered/" + dump.guid + "_c1") + "'");
  EXPECT_EQ("Repository error: file '.discovered/" + dump.guid + "_c1' exists [3]", Fails(TAR));
  EXPECT_EQ("root file", ReadFile(Dumps(USER)));
  EXPECT_EQ("root descriptor", ReadFile(Dumps(XML)));
}

// Unpacking into a plain directory reports the members as tar listed them.
TEST_F(Import, UnpackIntoALocalDirectoryKeepsTarsReport) {
  ExportedDump dump;
  dump.directoryMembers = true;
  PackDump(dump, storage / "backup_1001011200.tgz", true);
  TempDir dest;
  Words files;
  source->Unpack("backup_1001011200.tgz", dest.path(), &files);
  EXPECT_EQ(WriteDumpTree(TempDir().path(), dump), files);
  EXPECT_EQ(DescriptorXml(dump), ReadFile(dest / XML));
  EXPECT_EQ(Words{}, ListTree(installation.tmp()));
}

// tar stopping after the descriptor of a large split archive is no failure.
TEST_F(Import, EarlyEndOfTarOverSplitPartsIsNoFailure) {
  TempDir tree;
  const Words members = WriteDumpTree(tree.path(), ExportedDump());
  // Incompressible content well beyond any pipe buffer.
  Shell("head -c 4194304 /dev/urandom > '" + tree / USER + "'");
  PackMembers(tree.path(), members, storage / "backup_1001011200.tgz", true);
  SplitIntoParts(storage / "backup_1001011200.tgz", 4);
  EXPECT_EQ("clients/c1/" + XML, Run("backup_1001011200.tgz", "client").text);
  EXPECT_EQ(ReadFile(tree / USER), ReadFile(Dumps("clients/c1/" + USER)));
  EXPECT_EQ(Words{}, ListTree(installation.tmp()));
}

// tar keeps the last of two members of one name: a second descriptor that
// would claim a greater type than the one checked first is refused, and so is
// any other member stored twice.
TEST_F(Import, MembersStoredTwiceAreRefused) {
  ExportedDump dump, server;
  dump.type = "domain";
  server.type = "server";
  TempDir tree;
  const Words members = WriteDumpTree(tree.path(), dump);
  for (const std::pair<std::string, std::string>& again :
       {std::make_pair(XML, DescriptorXml(server)), std::make_pair(USER, std::string("second copy"))}) {
    SCOPED_TRACE(again.first);
    WriteFile(tree / XML, DescriptorXml(dump));
    Pack(tree.path(), members);
    WriteFile(tree / again.first, again.second);
    ASSERT_EQ(0, dktest::Run("tar", {"-r", "-f", storage / TAR, "-C", tree.path(), again.first}).code);
    EXPECT_EQ(again.first == XML ? "Repository error: root of arhive " + TAR + " contains more than 1 xml file [2]"
                                 : "Repository error: Dump has wrong format. Archive member '" + USER +
                                       "' occurs more than once [2]",
              Fails(TAR, "client"));
  }
}

}  // namespace
}  // namespace dktest
