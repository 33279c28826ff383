// Importing exported dumps into a repository of a sample installation, with
// the real tar and perl, and what a failed import leaves behind.
#include <sys/stat.h>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "repository/archive.h"
#include "repository/repository.h"
#include "tests/support/archive_support.h"
#include "tests/support/test_support.h"

namespace {

using Words = std::vector<std::string>;
using dktest::ExportedDump;
using dktest::ListTree;
using dktest::ReadFile;
using dktest::TempDir;
using dktest::WriteFile;

const std::string kGuid = "2f3c0d1e-0000-4000-8000-00000000c001";

class Import : public ::testing::Test {
 protected:
  dktest::SampleInstallation installation;
  TempDir storage;  // where the exported files lie
  std::unique_ptr<ovrin::tRepository> source{new ovrin::tRepository(storage.path(), "", "", "", false)};
  std::unique_ptr<ovrin::tRepository> target{new ovrin::tRepository(installation.dumps(), "", "", "", false)};

  std::string Dumps(const std::string& rel) const { return installation.dumps() + "/" + rel; }
  std::string ArchiveName(bool gzip) const { return std::string("backup_1001011200.") + (gzip ? "tgz" : "tar"); }

  // Packs `dump` into the storage; returns the archive name.
  std::string Export(const ExportedDump& dump, bool gzip = false, int parts = 1) {
    const std::string name = ArchiveName(gzip);
    dktest::PackDump(dump, storage / name, gzip);
    if (parts > 1) dktest::SplitIntoParts(storage / name, parts);
    return name;
  }
  std::string ExportMembers(const std::string& tree, const Words& members) {
    dktest::PackMembers(tree, members, storage / ArchiveName(false), false);
    return ArchiveName(false);
  }

  // Imports the way the front end does: inside the target's transaction.
  ovrin::DumpImportResult Run(const std::string& name, const std::string& type = "") {
    target->BeginTransaction();
    try {
      ovrin::DumpImportResult result = target->ImportFromRepo(*source, name, type, "");
      target->CommitTransaction();
      return result;
    } catch (...) {
      target->RollbackTransaction();
      throw;
    }
  }

  // Runs a failing import and checks that neither the repository nor the
  // temporary directory keeps anything of it. Returns the error text.
  template <class Exception>
  std::string Fails(const std::string& name, int status, const std::string& type = "") {
    const Words before = ListTree(installation.dumps());
    std::string text = "(no error)";
    try {
      Run(name, type);
      ADD_FAILURE() << name << " imported";
    } catch (const Exception& e) {
      EXPECT_EQ(status, e.status);
      text = e.what();
    }
    EXPECT_EQ(before, ListTree(installation.dumps()));
    EXPECT_EQ(Words{}, ListTree(installation.tmp()));
    return text;
  }
};

// A client dump of every storage form lands in clients/c1 without its status
// item, is entered in the index and leaves no temporary file behind.
class ImportForms : public Import, public ::testing::WithParamInterface<std::tuple<bool, int, bool>> {};

TEST_P(ImportForms, UnpacksTheDumpIntoItsObjectDirectory) {
  ExportedDump dump;
  dump.statuses = {"OK"};
  dump.directoryMembers = std::get<2>(GetParam());
  const std::string name = Export(dump, std::get<0>(GetParam()), std::get<1>(GetParam()));

  ovrin::DumpImportResult result = Run(name, "client");
  EXPECT_EQ("clients/c1/backup_info_1001011200.xml", result.text);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(dktest::DescriptorXml(dump), ReadFile(Dumps(result.text)));
  EXPECT_EQ("content of backup_user_1001011200.tgz\n", ReadFile(Dumps("clients/c1/backup_user_1001011200.tgz")));
  const std::string side = "clients/c1/.discovered/backup_info_1001011200/";
  EXPECT_EQ((Words{".discovered/", ".discovered/" + kGuid + "_c1", "clients/", "clients/c1/", "clients/c1/.discovered/",
                   side, side + "GUID_" + kGuid, side + "objectid_c1",
                   side + "owner_2f3c0d1e-0000-4000-8000-000000000001", side + "ownertype_server", side + "size_1024",
                   "clients/c1/backup_info_1001011200.xml", "clients/c1/backup_user_1001011200.tgz"}),
            ListTree(installation.dumps()));
  EXPECT_EQ(Words{}, ListTree(installation.tmp()));

  // The same archive again finds its descriptor and unpacks nothing.
  const Words before = ListTree(installation.dumps());
  result = Run(name, "client");
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("clients/c1/backup_info_1001011200.xml", result.text);
  EXPECT_EQ(before, ListTree(installation.dumps()));
}

INSTANTIATE_TEST_SUITE_P(PlainGzipSplit, ImportForms,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(1, 3), ::testing::Bool()));

TEST_F(Import, ServerDumpsGoToTheRootAndMinorTypesPassTheRequester) {
  ExportedDump server;
  server.type = "server";
  server.objectId = "";
  server.guid = "2f3c0d1e-0000-4000-8000-000000000001";
  server.contents = {"backup_conf_1001011200.tgz"};
  EXPECT_EQ("backup_info_1001011200.xml", Run(Export(server)).text);
  EXPECT_TRUE(dktest::Exists(Dumps("backup_conf_1001011200.tgz")));
  // The root's .discovered holds the dump's sidecar only: without an object
  // id the server dump gets no index item.
  for (const std::string& entry : ListTree(Dumps(".discovered"))) {
    EXPECT_EQ(0u, entry.find("backup_info_1001011200/")) << entry;
  }

  ExportedDump domain;
  domain.type = "domain";
  domain.objectId = "example.test";
  domain.prefix = "dom";
  domain.contents = {"dom_htdocs_1001011200.tgz"};
  EXPECT_EQ("domains/example.test/dom_info_1001011200.xml", Run(Export(domain), "client").text);
}

// Archives of the wrong shape are refused with their message and leave nothing.
TEST_F(Import, ArchivesOfTheWrongShapeAreRefusedAndLeaveNothing) {
  TempDir tree;
  const std::string xml = "backup_info_1001011200.xml", id = ".discovered/backup_info_1001011200/objectid_c1";
  for (const std::string& file : Words{"backup_user_1001011200.tgz", "otherprefix_x_1001011200.tgz", id,
                                       ".discovered/backup_info_0001011200/size_1"})
    WriteFile(tree / file, "");
  for (const std::string& file : Words{xml, "other_info_1001011200.xml", "info_.xml"})
    WriteFile(tree / file, dktest::DescriptorXml(ExportedDump()));
  const std::vector<std::pair<Words, std::string>> cases = {
      {{"backup_user_1001011200.tgz", id}, "root of arhive backup_1001011200.tar does no contains xml files"},
      {{xml, "other_info_1001011200.xml", id}, "root of arhive backup_1001011200.tar contains more than 1 xml file"},
      {{"info_.xml", id}, "bad name of info file"},
      {{xml, "otherprefix_x_1001011200.tgz", id},
       "Dump has wrong format. Archive file 'otherprefix_x_1001011200.tgz' does not match to dump prefix 'backup'"},
      {{xml, ".discovered/backup_info_0001011200/size_1", id},
       "Dump has wrong format. Discovered dir 'backup_info_0001011200' does not match to dump label '1001011200'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ("Repository error: " + c.second, Fails<ovrin::RepositoryException>(ExportMembers(tree.path(), c.first), 2));
  }
  WriteFile(storage / "zipped_1001011200.tgz", std::string("PK\x03\x04", 4) + std::string(600, '\0'));
  EXPECT_EQ("Repository error: File has wrong format", Fails<ovrin::RepositoryException>("zipped_1001011200.tgz", 2));
  // Only the split parts are left, the base file is gone.
  const std::string name = Export(ExportedDump(), true, 3);
  ASSERT_EQ(0, std::remove((storage / name).c_str()));
  Fails<ovrin::RepositoryException>(name, 1);
}

TEST_F(Import, ObjectIdsMustBePlainNames) {
  for (const std::string id : {"..", ".", "a\\b", ""}) {
    TempDir tree;
    ExportedDump dump;
    dump.objectId = "";
    Words members = dktest::WriteDumpTree(tree.path(), dump);
    const std::string item = ".discovered/backup_info_1001011200/objectid_" + id;
    WriteFile(tree / item, "");
    members.push_back(item);
    const std::string text = Fails<ovrin::RepositoryException>(ExportMembers(tree.path(), members), 2);
    EXPECT_NE(std::string::npos, text.find("Dump has wrong format. Object id '")) << text;
    EXPECT_NE(std::string::npos, text.find("' is not a plain directory name")) << text;
  }
}

TEST_F(Import, ExtractionRestoresNeitherOwnersNorIdBits) {
  TempDir tree;
  ExportedDump dump;
  Words members = dktest::WriteDumpTree(tree.path(), dump);
  ASSERT_EQ(0, chmod((tree / "backup_user_1001011200.tgz").c_str(), 06755));
  // Stored with a foreign owner: only root could restore it.
  Words args = {"-cf", storage / ArchiveName(false), "--no-recursion", "--owner=4321", "--group=4321", "-C",
                tree.path()};
  args.insert(args.end(), members.begin(), members.end());
  ASSERT_EQ(0, dktest::Run("tar", args).code);
  Run(ArchiveName(false));

  struct stat st;
  ASSERT_EQ(0, stat(Dumps("clients/c1/backup_user_1001011200.tgz").c_str(), &st));
  EXPECT_EQ(0, st.st_mode & (S_ISUID | S_ISGID));
  EXPECT_EQ(geteuid(), st.st_uid);
  EXPECT_NE(4321u, st.st_gid);
}

TEST_F(Import, FailuresRemoveOnlyWhatTheImportMade) {
  const std::string name = Export(ExportedDump());
  // A failure after unpacking (the index cannot be written) removes the
  // unpacked dump at its own place; a same-named file at the root survives.
  WriteFile(Dumps("backup_user_1001011200.tgz"), "root file");
  WriteFile(Dumps("backup_info_1001011200.xml"), "root descriptor");
  WriteFile(Dumps(".discovered"), "not a directory");
  const Words before = ListTree(installation.dumps());
  EXPECT_ANY_THROW(Run(name));
  EXPECT_EQ(before, ListTree(installation.dumps()));
  EXPECT_EQ("root file", ReadFile(Dumps("backup_user_1001011200.tgz")));
  EXPECT_EQ("root descriptor", ReadFile(Dumps("backup_info_1001011200.xml")));
  EXPECT_EQ(Words{}, ListTree(installation.tmp()));
}

TEST_F(Import, UnpackIntoALocalDirectoryKeepsTarsReport) {
  ExportedDump dump;
  dump.directoryMembers = true;
  const std::string name = Export(dump, true);
  TempDir dest;
  Words files;
  source->Unpack(name, dest.path(), &files);
  EXPECT_EQ(dktest::WriteDumpTree(TempDir().path(), dump), files);
  EXPECT_EQ(dktest::DescriptorXml(dump), ReadFile(dest / "backup_info_1001011200.xml"));
  EXPECT_EQ(Words{}, ListTree(installation.tmp()));
}

// tar stopping after the descriptor of a large split archive is no failure.
TEST_F(Import, EarlyEndOfTarOverSplitPartsIsNoFailure) {
  ExportedDump dump;
  TempDir tree;
  const Words members = dktest::WriteDumpTree(tree.path(), dump);
  // Incompressible content well beyond any pipe buffer.
  dktest::Shell("head -c 4194304 /dev/urandom > '" + tree / "backup_user_1001011200.tgz" + "'");
  const std::string content = ReadFile(tree / "backup_user_1001011200.tgz");
  dktest::PackMembers(tree.path(), members, storage / "backup_1001011200.tgz", true);
  dktest::SplitIntoParts(storage / "backup_1001011200.tgz", 4);

  const ovrin::DumpImportResult result = Run("backup_1001011200.tgz", "client");
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("clients/c1/backup_info_1001011200.xml", result.text);
  EXPECT_EQ(content, ReadFile(installation.dumps() + "/clients/c1/backup_user_1001011200.tgz"));
  EXPECT_EQ(Words{}, ListTree(installation.tmp()));
}

// tar keeps the last of two members of one name: a second descriptor that
// would claim a greater type than the one checked first is refused, and so is
// any other member stored twice.
TEST_F(Import, MembersStoredTwiceAreRefused) {
  ExportedDump dump;
  dump.type = "domain";
  TempDir tree;
  const Words members = dktest::WriteDumpTree(tree.path(), dump);
  const std::string archive = storage / "backup_1001011200.tar";
  dktest::PackMembers(tree.path(), members, archive, false);
  ExportedDump server = dump;
  server.type = "server";
  WriteFile(tree / dump.Descriptor(), dktest::DescriptorXml(server));
  ASSERT_EQ(0, dktest::Run("tar", {"-r", "-f", archive, "-C", tree.path(), dump.Descriptor()}).code);

  EXPECT_EQ("Repository error: root of arhive backup_1001011200.tar contains more than 1 xml file",
            Fails<ovrin::RepositoryException>("backup_1001011200.tar", 2, "client"));
  // Any member stored twice: the checks would have seen the first copy.
  WriteFile(tree / dump.Descriptor(), dktest::DescriptorXml(dump));
  dktest::PackMembers(tree.path(), members, archive, false);
  WriteFile(tree / "backup_user_1001011200.tgz", "second copy");
  ASSERT_EQ(0, dktest::Run("tar", {"-r", "-f", archive, "-C", tree.path(), "backup_user_1001011200.tgz"}).code);
  EXPECT_EQ("Repository error: Dump has wrong format. Archive member 'backup_user_1001011200.tgz' occurs more than once",
            Fails<ovrin::RepositoryException>("backup_1001011200.tar", 2, "client"));
}

}  // namespace
