// The catalogue over repositories made by the fixture generator.
#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "repository/catalogue.h"
#include "repository/repository.h"
#include "tests/repository/repo_fixture.h"
#include "tests/support/catalogue_support.h"

namespace {

using dktest::ByPath;
using dktest::Statuses;
using ovrin::BackupInfo;
using ovrin::BackupInfoList;

const std::vector<std::string> kOk{"OK"};

class Catalogue : public dktest::FixtureRepoTest {};

TEST_F(Catalogue, ListsAnObjectsDumpsAtEveryNestingDepthAndNothingElse) {
  Build(R"({"dumps": [
    {"type": "client", "id": "c1", "guid": "G1", "owner": "R1", "ownertype": "reseller", "size": 700,
     "description": "Weekly <b>dump</b>"},
    {"type": "client", "id": "c1", "guid": "G1", "under": "resellers/r1", "label": "1002021300"},
    {"type": "client", "id": "c2", "guid": "G2"},
    {"type": "reseller", "id": "r1", "guid": "R1"},
    {"type": "domain", "id": "d1", "guid": "D1", "under": "resellers/r1/clients/c1", "label": "1003031400"},
    {"type": "server", "guid": "S", "label": "1004041500"}]})");

  BackupInfoList list;
  Repo().BackupsList("client", "G1", "", list, false);
  std::vector<BackupInfo> clients = ByPath(list);
  ASSERT_EQ(2u, clients.size());
  EXPECT_EQ("clients/c1/backup_info_1001011200.xml", clients[0].fullname);
  EXPECT_EQ("backup_info_1001011200.xml", clients[0].name);
  EXPECT_EQ("1001011200", clients[0].GetDateTimeStr());
  EXPECT_EQ("Weekly <b>dump</b>", clients[0].description);
  EXPECT_EQ(700, clients[0].size);
  EXPECT_EQ("R1", clients[0].ownerGuid);
  EXPECT_EQ("reseller", clients[0].ownerType);
  EXPECT_EQ("c1", clients[0].objectId);
  EXPECT_EQ(kOk, Statuses(clients[0].validationResults));
  EXPECT_EQ("resellers/r1/clients/c1/backup_info_1002021300.xml", clients[1].fullname);
  EXPECT_EQ("1002021300", clients[1].GetDateTimeStr());
  // A full listing validates each dump once and records the verdict.
  EXPECT_TRUE(dktest::Exists(Path("clients/c1/.discovered/backup_info_1001011200/status_OK")));

  BackupInfoList domains;
  Repo().BackupsList("domain", "D1", "", domains, false);
  ASSERT_EQ(1u, domains.size());
  EXPECT_EQ("resellers/r1/clients/c1/domains/d1/backup_info_1003031400.xml", domains.front().fullname);

  BackupInfoList resellers;
  Repo().BackupsList("reseller", "R1", "", resellers, false);
  ASSERT_EQ(1u, resellers.size());
  EXPECT_EQ("resellers/r1/backup_info_1001011200.xml", resellers.front().fullname);

  // The server's dumps are the ones in the root, whatever lies below it.
  BackupInfoList server;
  Repo().BackupsList("server", "S", "", server, false);
  ASSERT_EQ(1u, server.size());
  EXPECT_EQ("backup_info_1004041500.xml", server.front().fullname);
}

TEST_F(Catalogue, ObjectNameStandsInForAMissingOrMalformedIndex) {
  Build(R"({"dumps": [
    {"type": "domain", "id": "d1", "guid": "G", "index": false},
    {"type": "domain", "id": "d1", "guid": "G", "index": false, "label": "1001011300", "objectid": "other"},
    {"type": "domain", "id": "d2", "guid": "H", "index": false}],
    "index": ["H", "H_"]})");
  dktest::RecordingLog log;

  BackupInfoList byName;
  Repo().BackupsList("domain", "G", "d1", byName, true);
  ASSERT_EQ(1u, byName.size());
  EXPECT_EQ("domains/d1/backup_info_1001011200.xml", byName.front().fullname);

  BackupInfoList unknown;
  Repo().BackupsList("domain", "G", "", unknown, true);
  EXPECT_TRUE(unknown.empty());

  BackupInfoList malformed;
  Repo().BackupsList("domain", "H", "", malformed, true);
  EXPECT_TRUE(malformed.empty());
  EXPECT_TRUE(log.HasPart("index item 'H' for guid 'H' is malformed"));
  EXPECT_TRUE(log.HasPart("index item 'H_' for guid 'H' is malformed"));
}

TEST_F(Catalogue, IncompleteOrDamagedDumpsAreSkippedAndTheOthersListed) {
  Build(R"({"dumps": [
    {"guid": "G", "label": "1001011200"},
    {"guid": "G", "label": "1001011300", "descriptor": "missing"},
    {"guid": "G", "label": "1001011400", "sidecar": false},
    {"guid": "G", "label": "1001011500", "descriptor": "malformed"},
    {"guid": "G", "label": "1001011600", "size": "abc"},
    {"guid": "G", "label": "1001011700", "size": null},
    {"guid": "G", "stem": "backup"}]})");
  dktest::RecordingLog log;

  BackupInfoList list;
  Repo().BackupsList("client", "G", "", list, false);
  std::vector<BackupInfo> found = ByPath(list);
  ASSERT_EQ(4u, found.size());
  EXPECT_EQ("clients/c1/backup.xml", found[0].fullname);
  EXPECT_EQ("0000000000", found[0].GetDateTimeStr());
  EXPECT_EQ("clients/c1/backup_info_1001011200.xml", found[1].fullname);
  EXPECT_EQ(64, found[1].size);
  EXPECT_EQ("clients/c1/backup_info_1001011600.xml", found[2].fullname);
  EXPECT_EQ(0, found[2].size);
  EXPECT_EQ("clients/c1/backup_info_1001011700.xml", found[3].fullname);
  EXPECT_EQ(0, found[3].size);
  EXPECT_TRUE(log.HasPart("Unable to parse size of dump: "));
  EXPECT_TRUE(log.HasPart("unable to check xml validity"));

  // Asked for directly, a descriptor without sidecar is "not found".
  try {
    Repo().GetBackupInfo("clients/c1/backup_info_1001011400.xml", true);
    FAIL() << "no error for a dump without sidecar";
  } catch (const ovrin::RepositoryException& e) {
    EXPECT_EQ(1, e.status);
    EXPECT_STREQ("Repository error: Discovered dir 'clients/c1/.discovered/backup_info_1001011400' not found",
                 e.what());
  }
}

// The listing takes sidecars and descriptors by the kind their directory
// gives; links are followed, and a name of the wrong kind is no dump.
TEST_F(Catalogue, LinkedSidecarsAndDescriptorsCountAndWrongKindsDoNot) {
  Build(R"({"dumps": [
    {"guid": "G", "label": "1001011200"},
    {"guid": "G", "label": "1001011300"},
    {"guid": "G", "label": "1001011400"},
    {"guid": "G", "label": "1001011500"}]})");
  const std::string d = Path("clients/c1/");
  // 1200: both linked from elsewhere.
  dktest::Shell("mv '" + d + ".discovered/backup_info_1001011200' '" + Path("elsewhere_sidecar") + "' && mv '" + d +
                "backup_info_1001011200.xml' '" + Path("elsewhere.xml") + "'");
  ASSERT_EQ(0, symlink(Path("elsewhere_sidecar").c_str(), (d + ".discovered/backup_info_1001011200").c_str()));
  ASSERT_EQ(0, symlink(Path("elsewhere.xml").c_str(), (d + "backup_info_1001011200.xml").c_str()));
  // 1300: the descriptor is a directory; 1400: the sidecar is a file.
  dktest::Shell("rm '" + d + "backup_info_1001011300.xml' && mkdir '" + d + "backup_info_1001011300.xml'");
  dktest::Shell("rm -r '" + d + ".discovered/backup_info_1001011400' && touch '" + d +
                ".discovered/backup_info_1001011400'");
  // 1500: both links lead nowhere.
  dktest::Shell("rm -r '" + d + ".discovered/backup_info_1001011500' '" + d + "backup_info_1001011500.xml'");
  ASSERT_EQ(0, symlink(Path("gone").c_str(), (d + ".discovered/backup_info_1001011500").c_str()));
  ASSERT_EQ(0, symlink(Path("gone.xml").c_str(), (d + "backup_info_1001011500.xml").c_str()));

  for (bool brief : {false, true}) {
    BackupInfoList list;
    Repo().BackupsList("client", "G", "", list, brief);
    std::vector<BackupInfo> found = ByPath(list);
    ASSERT_EQ(1u, found.size()) << brief;
    EXPECT_EQ("clients/c1/backup_info_1001011200.xml", found[0].fullname);
    EXPECT_EQ(64, found[0].size);
    if (!brief) {
      EXPECT_EQ(kOk, Statuses(found[0].validationResults));
    }
  }
}

TEST_F(Catalogue, BriefListingsFeedTheDiskUsageByOwner) {
  Build(R"({"dumps": [
    {"guid": "G", "label": "1001011200", "size": 100, "owner": "O1", "descriptor": "invalid"},
    {"guid": "G", "label": "1001011300", "size": 250, "owner": "O2"},
    {"guid": "G", "label": "1001011400", "size": 5000000000, "owner": "O1"},
    {"guid": "other", "id": "c2", "size": 9}]})");

  BackupInfoList brief;
  Repo().BackupsList("client", "G", "", brief, true);
  ASSERT_EQ(3u, brief.size());
  for (const BackupInfo& info : brief) {
    EXPECT_EQ(kOk, Statuses(info.validationResults)) << info.fullname;
    EXPECT_EQ("", info.description);
  }
  // Nothing was validated, so nothing was recorded.
  EXPECT_FALSE(dktest::Exists(Path("clients/c1/.discovered/backup_info_1001011200/status_WRONG-FORMAT")));

  EXPECT_EQ(5000000350, Repo().GetDiskUsage("client", "G", ""));
  EXPECT_EQ(5000000100, Repo().GetDiskUsage("client", "G", "O1"));
  EXPECT_EQ(0, Repo().GetDiskUsage("client", "G", "nobody"));
}

class PackedCatalogue : public dktest::FixtureRepoTest {
 protected:
  std::vector<std::string> Names(const std::string& mask) {
    BackupInfoList list;
    Repo().PackedBackupsList("", mask, list);
    std::vector<std::string> names;
    for (const BackupInfo& info : ByPath(list)) names.push_back(info.name);
    return names;
  }
};

TEST_F(PackedCatalogue, ListsExportedDumpsByNameAndPosixBasicMask) {
  Build(R"({"exports": [
    {"name": "a_1001011200.tar", "parts": 2, "dump": {"id": "c1"}},
    {"name": "b_1001011300.TGZ", "gzip": true, "dump": {"id": "c2", "label": "1001011300"}}],
    "files": {"notes.txt": "n", "a_1001011200.tar.1": "x", "c_1001011200.tar/inside": "",
              "sub/d_1001011200.tar": "elsewhere"}})");

  EXPECT_EQ((std::vector<std::string>{"a_1001011200.tar", "b_1001011300.TGZ"}), Names(""));
  EXPECT_EQ((std::vector<std::string>{"a_1001011200.tar"}), Names("a_.*"));
  // Basic syntax: \{n\} is an interval, "(" and "|" are plain characters.
  EXPECT_EQ((std::vector<std::string>{"a_1001011200.tar"}), Names("a_10\\{2\\}1011200.tar"));
  EXPECT_TRUE(Names("(a|b)_.*").empty());
  // The mask must match the whole name.
  EXPECT_TRUE(Names("a_").empty());

  BackupInfoList list;
  Repo().PackedBackupsList("", "a_.*", list);
  ASSERT_EQ(1u, list.size());
  const BackupInfo& a = list.front();
  EXPECT_EQ(static_cast<int64_t>(dktest::ReadFile(Path("a_1001011200.tar")).size() +
                                 dktest::ReadFile(Path("a_1001011200.tar1")).size()),
            a.size);
  EXPECT_EQ("1001011200", a.GetDateTimeStr());
  EXPECT_EQ(kOk, Statuses(a.validationResults));
}

TEST_F(PackedCatalogue, SizesOfSplitDumpsAreSixtyFourBit) {
  dktest::Shell("truncate -s 3G '" + Path("big_1001011200.tar") + "' && truncate -s 2G '" +
                Path("big_1001011200.tar1") + "'");
  const int64_t fiveGiB = int64_t(5) << 30;

  BackupInfoList list;
  Repo().PackedBackupsList("", "", list);
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ(fiveGiB, list.front().size);

  // Zeros are no archive; the size reported with the verdict is still whole.
  BackupInfo info = Repo().GetPackedBackupInfo("big_1001011200.tar");
  EXPECT_EQ(std::vector<std::string>{"WRONG-FORMAT"}, Statuses(info.validationResults));
  EXPECT_EQ(fiveGiB, info.size);
}

TEST_F(PackedCatalogue, InfoOfASplitDumpValidatesTheWholeArchive) {
  Build(R"({"exports": [{"name": "s_1001011200.tar", "parts": 3, "dump": {"id": "c1"}}],
            "files": {"d_1001011200.tar/x": ""}})");

  BackupInfo info = Repo().GetPackedBackupInfo("s_1001011200.tar");
  EXPECT_EQ(kOk, Statuses(info.validationResults));
  EXPECT_EQ("s_1001011200.tar", info.name);
  EXPECT_EQ(static_cast<int64_t>(dktest::ReadFile(Path("s_1001011200.tar")).size() +
                                 dktest::ReadFile(Path("s_1001011200.tar1")).size() +
                                 dktest::ReadFile(Path("s_1001011200.tar2")).size()),
            info.size);

  try {
    Repo().GetPackedBackupInfo("d_1001011200.tar");
    FAIL() << "a directory was taken for an exported dump";
  } catch (const ovrin::RepositoryException& e) {
    EXPECT_EQ(1, e.status);
    EXPECT_STREQ("Repository error: File 'd_1001011200.tar' not found", e.what());
  }
}

}  // namespace
