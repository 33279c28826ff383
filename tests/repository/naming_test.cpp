#include "repository/naming.h"

#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "tests/repository/repo_fixture.h"

using namespace ovrin;
using dktest::LocalRepo;
using dktest::RecordingLog;

namespace {

// Runs `f`, expecting a RepositoryException; returns it for inspection.
template <class F>
std::pair<std::string, int> RepositoryFailure(F f) {
  try {
    f();
  } catch (const RepositoryException& e) {
    return {e.what(), e.status};
  }
  ADD_FAILURE() << "no RepositoryException";
  return {"", -1};
}

}  // namespace

TEST(NamingTest, WorkedClientDumpExample) {
  const std::string info = "clients/c1/backup_info_1001011200.xml";
  EXPECT_EQ(GetDumpPrefix(info), "backup");
  EXPECT_EQ(GetInfoXmlsLabel(info), "1001011200");
  EXPECT_EQ(GetDumpLabel("clients/c1/backup_user_1001011200.tgz"), "1001011200");
  EXPECT_EQ(GetInfoXmlDir(info), "clients/c1/backup_info_1001011200");
  EXPECT_EQ(GetDiscoveredDir(info), "clients/c1/.discovered/backup_info_1001011200");
  EXPECT_EQ(GetDiscoveredDir("backup_info_1001011200.xml"), ".discovered/backup_info_1001011200");
  EXPECT_TRUE(InfoXmlMatchToLabel("backup_info_1001011200.xml", "1001011200"));
  EXPECT_TRUE(DiscoveredMatchToLabel("backup_info_1001011200", "1001011200"));
  EXPECT_FALSE(DiscoveredMatchToLabel("backup_info_1001011200.xml", "1001011200"));
  EXPECT_TRUE(FileMatchToPrefix("backup_user_1001011200.tgz", "backup"));
  EXPECT_FALSE(FileMatchToPrefix("backupx_user_1001011200.tgz", "backup"));
  EXPECT_TRUE(DirMatchToLabel("backup_1001011200", "1001011200"));

  std::string head, value, dumpName, item;
  ASSERT_TRUE(IsDiscoveredPath("clients/c1/.discovered/backup_info_1001011200/GUID_2f3c", "GUID", head, value));
  EXPECT_EQ(head, "clients/c1/.discovered/backup_info_1001011200/");
  EXPECT_EQ(value, "2f3c");
  ASSERT_TRUE(IsAnyDiscoveredPath("clients/c1/.discovered/backup_info_1001011200/size_1024", dumpName, item, value));
  EXPECT_EQ(dumpName, "backup_info_1001011200");
  EXPECT_EQ(item, "size");
  EXPECT_EQ(value, "1024");
}

TEST(NamingTest, SidecarPathsNeedAWholeDiscoveredComponent) {
  std::string head, value, dumpName, item;
  EXPECT_FALSE(IsDiscoveredPath("clients/x.discovered/d/GUID_g", "GUID", head, value));
  EXPECT_FALSE(IsDiscoveredPath("clients/.discovered/d/size_1", "GUID", head, value));
  // The item is searched only from the sidecar component on.
  EXPECT_FALSE(IsDiscoveredPath("GUID_x/.discovered/d/size_1", "GUID", head, value));
  EXPECT_TRUE(IsDiscoveredPath(".discovered/g_c1", "g", head, value));
  EXPECT_EQ(head, ".discovered/");
  EXPECT_EQ(value, "c1");

  EXPECT_FALSE(IsAnyDiscoveredPath(".discovered/backup_info_1", dumpName, item, value));
  EXPECT_FALSE(IsAnyDiscoveredPath(".discovered/d/noseparator", dumpName, item, value));
  EXPECT_FALSE(IsAnyDiscoveredPath(".discovered", dumpName, item, value));
  EXPECT_FALSE(IsAnyDiscoveredPath("a.discovered/d/size_1", dumpName, item, value));
  ASSERT_TRUE(IsAnyDiscoveredPath(".discovered/d/owner_a_b", dumpName, item, value));
  EXPECT_EQ(dumpName, "d");
  EXPECT_EQ(item, "owner");
  EXPECT_EQ(value, "a_b");
}

TEST(NamingTest, LabelsAndTheirErrors) {
  EXPECT_EQ(GetDumpLabel("dir/x_1001011200"), "1001011200");
  EXPECT_EQ(GetDumpLabel("dir/x_y_1001011200.tgz3"), "1001011200");
  EXPECT_EQ(RepositoryFailure([] { GetDumpLabel("d/a.b_1001011200"); }),
            std::make_pair(std::string("Repository error: file name 'a.b_1001011200' not contains '_'"), 2));
  EXPECT_EQ(RepositoryFailure([] { GetDumpLabel("nounderscore.tgz"); }),
            std::make_pair(std::string("Repository error: file name 'nounderscore.tgz' not contains '_'"), 2));

  EXPECT_EQ(GetInfoXmlsLabel("a/backup_info_.xml"), "");
  EXPECT_EQ(GetInfoXmlsLabel("a/x_info_y_info_1001011200.xml"), "1001011200");
  EXPECT_EQ(RepositoryFailure([] { GetInfoXmlsLabel("a/backup_1001011200.xml"); }),
            std::make_pair(std::string("Repository error: file name 'backup_1001011200.xml' not contains 'info_'"), 2));
  EXPECT_EQ(RepositoryFailure([] { GetInfoXmlsLabel("a/backup_info_1001011200.xml.bak"); }),
            std::make_pair(
                std::string("Repository error: file name 'backup_info_1001011200.xml.bak' not ends with '.xml'"), 2));

  EXPECT_EQ(GetDumpPrefix("a/b/nosep"), "nosep");
  EXPECT_EQ(GetDumpPrefix("a_b/backup_info_1"), "backup");
  EXPECT_EQ(GetInfoXmlDir("a/b.txt"), "a/b.txt");
}

TEST(NamingTest, FileLabelMustEndAtTheLastDot) {
  EXPECT_TRUE(FileMatchToLabel("x_1001011200.tgz", "1001011200"));
  EXPECT_TRUE(FileMatchToLabel("x_1001011200.tgz3", "1001011200"));
  EXPECT_TRUE(FileMatchToLabel("x_1001011200_1001011200.tgz", "1001011200"));
  EXPECT_FALSE(FileMatchToLabel("x_1001011200.tar.gz", "1001011200"));
  EXPECT_FALSE(FileMatchToLabel("x_1001011200", "1001011200"));
  EXPECT_FALSE(FileMatchToLabel("x_1001011201.tgz", "1001011200"));
  EXPECT_FALSE(FileMatchToLabel("x1001011200.tgz", "1001011200"));
}

TEST(NamingTest, ExportedDumpNamesAndParts) {
  RecordingLog log;
  EXPECT_TRUE(IsFtpDumpName("a_b_1001011200.tgz"));
  EXPECT_TRUE(IsFtpDumpName("A_1001011200.TAR"));
  EXPECT_TRUE(IsFtpDumpName("a_1001011200.Tgz"));
  EXPECT_FALSE(IsFtpDumpName("a_100101120.tgz"));
  EXPECT_FALSE(IsFtpDumpName("a_1001011200.zip"));
  EXPECT_FALSE(IsFtpDumpName("a_1001011200.tgz.1"));
  EXPECT_FALSE(IsFtpDumpName("a_1001011200.tgz1"));
  EXPECT_FALSE(IsFtpDumpName("1001011200.tgz"));
  EXPECT_TRUE(log.Has("Matching name 'a_1001011200.zip' to ftp dumps naming rule."));

  unsigned n = 99;
  EXPECT_TRUE(IsSplittedPart("d.tar", "d.tar", n));
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(IsSplittedPart("d.tar", "d.tar12", n));
  EXPECT_EQ(n, 12u);
  EXPECT_TRUE(IsSplittedPart("d.tar", "d.tar02", n));
  EXPECT_EQ(n, 2u);
  n = 7;
  EXPECT_FALSE(IsSplittedPart("d.tar", "d.tar.1", n));
  EXPECT_FALSE(IsSplittedPart("d.tar", "e.tar", n));
  EXPECT_FALSE(IsSplittedPart("d.tar", "d.ta", n));
  EXPECT_FALSE(IsSplittedPart("d.tar", "d.tar99999999999999999999", n));
  EXPECT_EQ(n, 7u);
}

TEST(NamingTest, ObjectTypes) {
  EXPECT_TRUE(HasMinorType("domain", "client"));
  EXPECT_TRUE(HasMinorType("client", "client"));
  EXPECT_TRUE(HasMinorType("reseller", "server"));
  EXPECT_FALSE(HasMinorType("server", "domain"));
  EXPECT_FALSE(HasMinorType("domain", "mailbox"));
  EXPECT_FALSE(HasMinorType("Client", "server"));

  EXPECT_EQ(GetObjectTypeGroupDir("server"), "");
  EXPECT_EQ(GetObjectTypeGroupDir("domain"), "domains");
  EXPECT_EQ(GetObjectTypeSearchDirs("reseller"), (std::vector<std::string>{"resellers", "clients"}));
  EXPECT_TRUE(GetObjectTypeSearchDirs("server").empty());
  EXPECT_EQ(RepositoryFailure([] { GetObjectTypeGroupDir("mailbox"); }),
            std::make_pair(std::string("Repository error: unexpected object type 'mailbox'"), 0));
  EXPECT_EQ(RepositoryFailure([] { GetObjectTypeSearchDirs(""); }),
            std::make_pair(std::string("Repository error: unexpected object type ''"), 0));
  EXPECT_EQ(PrepareMaskStr(""), ".*");
  EXPECT_EQ(PrepareMaskStr("a.*"), "a.*");
}

TEST(NamingTest, PathHelpers) {
  EXPECT_TRUE(PathBeginsWith("a/b", "a/b/c"));
  EXPECT_TRUE(PathBeginsWith("a/b", "a/b"));
  EXPECT_FALSE(PathBeginsWith("a/b", "a/bc"));
  EXPECT_FALSE(PathBeginsWith("a/b/c", "a/b"));
  EXPECT_EQ(SortPaths({"a/b/c", "a", "b", "a/x"}), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(SortPaths({"b/c", "a/b", "a/b", "a/bc", "b/c/d"}), (std::vector<std::string>{"a/b", "a/bc", "b/c"}));
  EXPECT_TRUE(SortPaths({}).empty());

  EXPECT_TRUE(HasParentReference("../x"));
  EXPECT_TRUE(HasParentReference("clients/../../x"));
  EXPECT_TRUE(HasParentReference("a\\..\\b"));
  EXPECT_FALSE(HasParentReference("a/..b/c..d"));
}

TEST(NamingTest, ObjectDirectorySearch) {
  LocalRepo r;
  for (const char* d : {"clients/c1/domains/d1", "resellers/r1/clients/c1", "clients/c2", "resellers/c1",
                        ".discovered/clients/c1", "domains/x/clients/c1"})
    dktest::Shell("mkdir -p '" + r.Path(d) + "'");
  r.Touch("clients/c3");  // a file, not an object directory

  tRepositoryTransport& t = r.repo->Transport();
  std::vector<std::string> found;
  SearchObjectDirs(t, "client", {"c1", "c3"}, found, "", 0);
  EXPECT_EQ(dktest::Sorted(found), (std::vector<std::string>{"clients/c1", "domains/x/clients/c1", "resellers/r1/clients/c1"}));

  found.clear();
  SearchObjectDirs(t, "reseller", {"r1", "c1"}, found, "", 0);
  EXPECT_EQ(dktest::Sorted(found), (std::vector<std::string>{"clients/c1", "domains/x/clients/c1", "resellers/c1",
                                                     "resellers/r1"}));

  found.clear();
  SearchObjectDirs(t, "domain", {"d1"}, found, "", 0);
  EXPECT_EQ(found, (std::vector<std::string>{"clients/c1/domains/d1"}));

  found.clear();
  SearchObjectDirs(t, "server", {"c1"}, found, "", 0);
  EXPECT_EQ(found, (std::vector<std::string>{""}));

  found.clear();
  SearchObjectDirs(t, "client", {"c1"}, found, "missing", 0);
  EXPECT_TRUE(found.empty());
  EXPECT_THROW(SearchObjectDirs(t, "mailbox", {"c1"}, found, "", 0), RepositoryException);
  // An empty directory gives the walk no entry to look the type up for.
  SearchObjectDirs(t, "mailbox", {"c1"}, found, "clients/c2", 0);
  EXPECT_TRUE(found.empty());
}

TEST(NamingTest, RepositoryIndexLookup) {
  LocalRepo r;
  tRepositoryTransport& t = r.repo->Transport();
  RecordingLog log;
  EXPECT_TRUE(GetDiscoveredNames(t, "g").empty());
  EXPECT_TRUE(log.Has("directory '.discovered' at top level not found"));

  for (const char* item : {"g_c1", "g", "gx_c2", "h_c3"}) r.Touch(std::string(".discovered/") + item, "");
  EXPECT_EQ(dktest::Sorted(GetDiscoveredNames(t, "g")), (std::vector<std::string>{"_c2", "c1"}));
  EXPECT_TRUE(log.Has("index item 'g' for guid 'g' is malformed"));
  EXPECT_TRUE(GetDiscoveredNames(t, "zz").empty());
  EXPECT_TRUE(log.Has("index item for guid 'zz' not found"));
  // An empty GUID must not match every object of the repository.
  EXPECT_TRUE(GetDiscoveredNames(t, "").empty());
}

TEST(NamingTest, SidecarListingAndDescriptorPresence) {
  LocalRepo r;
  tRepositoryTransport& t = r.repo->Transport();
  const std::string sidecar = "clients/c1/.discovered/backup_info_1001011200";
  for (const char* item : {"owner_o1", "ownertype_reseller", "objectid_c1", "GUID_g1", "size_10", "size_73400320",
                           "status_OK"})
    r.Touch(sidecar + "/" + item, "");

  std::string owner = "-", ownerType = "-", guid = "-", objectId = "-", size = "-";
  EXPECT_FALSE(GetBackupParamsFromListing(t, "clients/c2/.discovered/x", owner, ownerType, guid, objectId, size));
  EXPECT_EQ(owner + ownerType + guid + objectId + size, "-----");
  ASSERT_TRUE(GetBackupParamsFromListing(t, sidecar, owner, ownerType, guid, objectId, size));
  EXPECT_EQ(owner, "o1");
  EXPECT_EQ(ownerType, "reseller");
  EXPECT_EQ(guid, "g1");
  EXPECT_EQ(objectId, "c1");
  EXPECT_TRUE(size == "10" || size == "73400320");

  r.Touch("clients/c1/backup_info_1002011200.xml");
  dktest::Shell("mkdir -p '" + r.Path("clients/c1/backup_info_1003011200.xml") + "'");
  EXPECT_TRUE(HasInfoXml(t, "clients/c1", "backup", "1002011200"));
  EXPECT_FALSE(HasInfoXml(t, "clients/c1", "other", "1002011200"));
  EXPECT_FALSE(HasInfoXml(t, "clients/c1", "backup", "1001011200"));
  // A directory with a descriptor's name is not a descriptor.
  EXPECT_FALSE(HasInfoXml(t, "clients/c1", "backup", "1003011200"));
}
