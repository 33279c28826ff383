// The catalogue over repositories made by the fixture generator.
#include "repository/catalogue.h"
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

const std::string S = "00000000-0000-4000-8000-000000000000";  // the generator's server GUID

// A record as "fullname date size owner ownertype objectid [statuses] description".
std::string Record(const BackupInfo& info) {
  return info.fullname + " " + info.GetDateTimeStr() + " " + std::to_string(info.size) + " " + info.ownerGuid + " " +
         info.ownerType + " " + info.objectId + " [" + Statuses(info.validationResults) + "] " + info.description;
}

class Catalogue : public FixtureRepoTest {
 protected:
  // The records of a listing, sorted: listings come in the storage's order.
  Words List(const std::string& type, const std::string& guid, const std::string& name, bool brief) {
    BackupInfoList list;
    Repo().BackupsList(type, guid, name, list, brief);
    return Records(list);
  }
  Words Packed(const std::string& mask) {
    BackupInfoList list;
    Repo().PackedBackupsList("", mask, list);
    return Records(list);
  }
  static Words Records(const BackupInfoList& list) {
    Words records;
    for (const BackupInfo& info : list) records.push_back(Record(info));
    return Sorted(records);
  }
};

// An object's dumps are found at every nesting depth with every field of the
// record (the description in full listings only); the server's are the
// root's. Without an index entry the object's name finds its directory, where
// only dumps of its object id count; malformed index items find nothing. A
// brief listing neither validates nor reads descriptions and records nothing.
// The disk usage of an object counts every dump.
TEST_F(Catalogue, ListsAnObjectsDumpsAtEveryNestingDepthAndNothingElse) {
  Build(R"({"dumps": [
    {"type": "client", "id": "c1", "guid": "G1", "owner": "R1", "ownertype": "reseller", "size": 700,
     "description": "Weekly <b>dump</b>"},
    {"type": "client", "id": "c1", "guid": "G1", "label": "1001011100", "descriptor": "invalid", "size": 5000000000,
     "owner": "O1"},
    {"type": "client", "id": "c1", "guid": "G1", "under": "resellers/r1", "label": "1002021300", "size": 5},
    {"type": "client", "id": "c2", "guid": "G2"},
    {"type": "reseller", "id": "r1", "guid": "R1", "size": 5},
    {"type": "domain", "id": "d1", "guid": "D1", "under": "resellers/r1/clients/c1", "label": "1003031400", "size": 5},
    {"type": "server", "guid": "S", "label": "1004041500", "size": 5},
    {"type": "domain", "id": "d9", "guid": "G9", "index": false, "size": 5},
    {"type": "domain", "id": "d9", "guid": "G9", "index": false, "label": "1001011300", "objectid": "other"},
    {"type": "domain", "id": "d8", "guid": "H", "index": false}],
    "index": ["H", "H_"]})");
  const std::string c1 = "clients/c1/backup_info_", r1c1 = "resellers/r1/clients/c1/backup_info_";
  const std::string d1 = "resellers/r1/clients/c1/domains/d1/";
  // The brief record of a dump of size 5 made for the server.
  auto tail = [&](const std::string& label, const std::string& id) {
    return "backup_info_" + label + ".xml " + label + " 5 " + S + " server " + id + " [OK] ";
  };
  EXPECT_EQ(List("client", "G1", "", true),
            (Words{c1 + "1001011100.xml 1001011100 5000000000 O1 server c1 [OK] ",
                   c1 + "1001011200.xml 1001011200 700 R1 reseller c1 [OK] ",
                   r1c1 + "1002021300.xml 1002021300 5 " + S + " server c1 [OK] "}));
  EXPECT_FALSE(Exists(Path("clients/c1/.discovered/backup_info_1001011100/status_WRONG-FORMAT")));
  EXPECT_EQ(5000000705, Repo().GetDiskUsage("client", "G1", ""));
  EXPECT_EQ(List("client", "G1", "", false).at(1),
            c1 + "1001011200.xml 1001011200 700 R1 reseller c1 [OK] Weekly <b>dump</b>");

  EXPECT_EQ(List("domain", "D1", "", true), Words{d1 + tail("1003031400", "d1")});
  EXPECT_EQ(List("reseller", "R1", "", true), Words{"resellers/r1/" + tail("1001011200", "r1")});
  EXPECT_EQ(List("server", "S", "", true), Words{tail("1004041500", "0")});
  EXPECT_EQ(List("domain", "G9", "d9", true), Words{"domains/d9/" + tail("1001011200", "d9")});
  EXPECT_EQ(List("domain", "G9", "", true), Words{});
  EXPECT_EQ(List("domain", "H", "", true), Words{});
  // An empty GUID would be a prefix of every index item.
  EXPECT_EQ(List("client", "", "", true), Words{});
}

// Dumps with a missing, malformed or directory descriptor, or a missing,
// plain-file or dangling sidecar are left out; linked ones count. A size that
// does not parse or is absent reads as 0; a stem without label dates to zero.
TEST_F(Catalogue, IncompleteOrDamagedDumpsAreSkippedAndTheOthersListed) {
  Build(R"({"dumps": [
    {"guid": "G", "label": "1001011200", "size": 64}, {"guid": "G", "label": "1001011300", "descriptor": "missing"},
    {"guid": "G", "label": "1001011400", "sidecar": false},
    {"guid": "G", "label": "1001011500", "descriptor": "malformed"},
    {"guid": "G", "label": "1001011600", "size": "abc"}, {"guid": "G", "label": "1001011700", "size": null},
    {"guid": "G", "stem": "backup", "size": 3}, {"guid": "G", "label": "1001011800", "size": 8},
    {"guid": "G", "label": "1001011900"}, {"guid": "G", "label": "1001012000"},
    {"guid": "G", "label": "1001012100"}]})");
  const std::string d = Path("clients/c1/");
  Shell("cd '" + d + "' && mv .discovered/backup_info_1001011800 ../../side && mv backup_info_1001011800.xml "
                "../../side.xml && ln -s '" + Path("side") + "' .discovered/backup_info_1001011800 && ln -s '" +
                Path("side.xml") + "' backup_info_1001011800.xml && rm backup_info_1001011900.xml && mkdir "
                "backup_info_1001011900.xml && rm -r .discovered/backup_info_1001012000 && touch "
                ".discovered/backup_info_1001012000 && rm -r .discovered/backup_info_1001012100 "
                "backup_info_1001012100.xml && ln -s ../gone .discovered/backup_info_1001012100 && ln -s gone.xml "
                "backup_info_1001012100.xml");
  const std::string tail = " " + S + " server c1 [OK] Dump of client c1", c1 = "clients/c1/backup_info_";
  EXPECT_EQ(List("client", "G", "", false),
            (Words{"clients/c1/backup.xml 0000000000 3" + tail, c1 + "1001011200.xml 1001011200 64" + tail,
                   c1 + "1001011600.xml 1001011600 0" + tail, c1 + "1001011700.xml 1001011700 0" + tail,
                   c1 + "1001011800.xml 1001011800 8" + tail}));
  // Asked for directly, a descriptor without sidecar is "not found".
  EXPECT_EQ(Refusal([&] { Repo().GetBackupInfo(c1 + "1001011400.xml", true); }),
            "Repository error: Discovered dir 'clients/c1/.discovered/backup_info_1001011400' not found [1]");
}

// Exported dumps are listed by whole name under a POSIX basic mask, with the
// size of all their parts and the verdict of the whole archive, sizes beyond
// 32 bits included; a directory is no exported dump.
TEST_F(Catalogue, ExportedDumps) {
  Build(R"({"exports": [
    {"name": "a_1001011200.tar", "parts": 3, "dump": {"id": "c1"}},
    {"name": "b_1001011300.TGZ", "gzip": true, "dump": {"id": "c2", "label": "1001011300"}}],
    "files": {"notes.txt": "n", "a_1001011200.tar.1": "x", "c_1001011200.tar/inside": "",
              "sub/d_1001011200.tar": "elsewhere"}})");
  const std::string a = "a_1001011200.tar 1001011200 " + SizeOf("a_1001011200.tar", 3) + "    [OK] ";
  EXPECT_EQ(Packed(""), (Words{a, "b_1001011300.TGZ 1001011300 " + SizeOf("b_1001011300.TGZ") + "    [OK] "}));
  EXPECT_EQ(Packed("a_.*"), Words{a});
  // Basic syntax: \{n\} is an interval, "(" and "|" are plain characters.
  EXPECT_EQ(Packed("a_10\\{2\\}1011200.tar"), Words{a});
  EXPECT_EQ(Packed("(a|b)_.*"), Words{});
  EXPECT_EQ(Packed("a_"), Words{});
  EXPECT_EQ(Record(Repo().GetPackedBackupInfo("a_1001011200.tar")), a);
  EXPECT_EQ(Refusal([&] { Repo().GetPackedBackupInfo("c_1001011200.tar"); }),
            "Repository error: File 'c_1001011200.tar' not found [1]");

  Shell("truncate -s 3G '" + Path("big_1001011200.tar") + "' && truncate -s 2G '" +
                Path("big_1001011200.tar1") + "'");
  const std::string big = "big_1001011200.tar 1001011200 " + std::to_string(int64_t(5) << 30) + "    [";
  EXPECT_EQ(Packed("big.*"), Words{big + "OK] "});
  // Zeros are no archive; the size reported with the verdict is still whole.
  EXPECT_EQ(Record(Repo().GetPackedBackupInfo("big_1001011200.tar")), big + "WRONG-FORMAT] ");
}

}  // namespace
}  // namespace dktest
