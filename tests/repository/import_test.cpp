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

TEST_F(Import, ArchivesOfTheWrongShapeAreRefusedAndLeaveNothing) {
  const std::string prefix = "Repository error: ";
  TempDir tree;
  WriteFile(tree / "backup_user_1001011200.tgz", "u");
  WriteFile(tree / ".discovered/backup_info_1001011200/objectid_c1", "");
  EXPECT_EQ(prefix + "root of arhive backup_1001011200.tar does no contains xml files",
            Fails<ovrin::RepositoryException>(
                ExportMembers(tree.path(), {"backup_user_1001011200.tgz", ".discovered/backup_info_1001011200/objectid_c1"}), 2));

  WriteFile(tree / "backup_info_1001011200.xml", dktest::DescriptorXml(ExportedDump()));
  WriteFile(tree / "other_info_1001011200.xml", dktest::DescriptorXml(ExportedDump()));
  WriteFile(tree / "info_.xml", dktest::DescriptorXml(ExportedDump()));
  EXPECT_EQ(prefix + "root of arhive backup_1001011200.tar contains more than 1 xml file",
            Fails<ovrin::RepositoryException>(
                ExportMembers(tree.path(), {"backup_info_1001011200.xml", "other_info_1001011200.xml",
                                            ".discovered/backup_info_1001011200/objectid_c1"}),
                2));
  EXPECT_EQ(prefix + "bad name of info file",
            Fails<ovrin::RepositoryException>(
                ExportMembers(tree.path(), {"info_.xml", ".discovered/backup_info_1001011200/objectid_c1"}), 2));

  // A foreign member is found before anything is unpacked.
  WriteFile(tree / "otherprefix_x_1001011200.tgz", "o");
  EXPECT_EQ(prefix + "Dump has wrong format. Archive file 'otherprefix_x_1001011200.tgz' does not match to dump "
                     "prefix 'backup'",
            Fails<ovrin::RepositoryException>(
                ExportMembers(tree.path(), {"backup_info_1001011200.xml", "otherprefix_x_1001011200.tgz",
                                            ".discovered/backup_info_1001011200/objectid_c1"}),
                2));
  WriteFile(tree / ".discovered/backup_info_0001011200/size_1", "");
  EXPECT_EQ(prefix + "Dump has wrong format. Discovered dir 'backup_info_0001011200' does not match to dump label "
                     "'1001011200'",
            Fails<ovrin::RepositoryException>(
                ExportMembers(tree.path(), {"backup_info_1001011200.xml", ".discovered/backup_info_0001011200/size_1",
                                            ".discovered/backup_info_1001011200/objectid_c1"}),
                2));

  WriteFile(storage / "zipped_1001011200.tgz", std::string("PK\x03\x04", 4) + std::string(600, '\0'));
  EXPECT_EQ(prefix + "File has wrong format", Fails<ovrin::RepositoryException>("zipped_1001011200.tgz", 2));

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

TEST_F(Import, ExistingFilesSurviveAndFailuresRemoveOnlyWhatTheImportMade) {
  // A content file of the same name already lies in the object directory:
  // the import is refused and the file stays as it was.
  WriteFile(Dumps("clients/c1/backup_user_1001011200.tgz"), "precious");
  const std::string name = Export(ExportedDump());
  EXPECT_EQ("Repository error: file 'clients/c1/backup_user_1001011200.tgz' exists with other content",
            Fails<ovrin::RepositoryException>(name, 3));
  EXPECT_EQ("precious", ReadFile(Dumps("clients/c1/backup_user_1001011200.tgz")));
  ASSERT_EQ(0, std::remove(Dumps("clients/c1/backup_user_1001011200.tgz").c_str()));

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

// A descriptor at the front of a large split archive: tar stops after it
// while the joining script still has megabytes to pass, and that early end
// is no failure.
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

// tar keeps the last of two members of one name, so reading only the first
// copy would let a dump whose kept descriptor claims a greater type past the
// requester check. Two descriptors at the top are refused, whatever their
// names.
TEST_F(Import, DescriptorStoredTwiceIsRefused) {
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

  const Words before = ListTree(installation.dumps());
  try {
    Run("backup_1001011200.tar", "client");
    ADD_FAILURE() << "a dump with two descriptors was imported";
  } catch (const ovrin::RepositoryException& e) {
    EXPECT_EQ(2, e.status);
    EXPECT_EQ("Repository error: root of arhive backup_1001011200.tar contains more than 1 xml file",
              std::string(e.what()));
  }
  EXPECT_EQ(before, ListTree(installation.dumps()));
  EXPECT_EQ(Words{}, ListTree(installation.tmp()));
}

}  // namespace
