// How an import reads the descriptor of an exported dump before anything is
// written: tar is asked for the one descriptor only and may stop reading the
// archive early; what it reads must be the copy that the import keeps.
#include <memory>

#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
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

class DescriptorRead : public ::testing::Test {
 protected:
  dktest::SampleInstallation installation;
  TempDir storage;
  std::unique_ptr<ovrin::tRepository> source{new ovrin::tRepository(storage.path(), "", "", "", false)};
  std::unique_ptr<ovrin::tRepository> target{new ovrin::tRepository(installation.dumps(), "", "", "", false)};

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
};

// A descriptor at the front of a large split archive: tar stops after it
// while the joining script still has megabytes to pass, and that early end
// is no failure.
TEST_F(DescriptorRead, EarlyEndOfTarOverSplitPartsIsNoFailure) {
  ExportedDump dump;
  TempDir tree;
  const Words members = dktest::WriteDumpTree(tree.path(), dump);
  // Incompressible content well beyond any pipe buffer.
  dktest::Shell("head -c 8388608 /dev/urandom > '" + tree / "backup_user_1001011200.tgz" + "'");
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
TEST_F(DescriptorRead, DescriptorStoredTwiceIsRefused) {
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
