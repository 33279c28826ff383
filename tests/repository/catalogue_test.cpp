// The catalogue over repositories made by the fixture generator.
#include "repository/catalogue.h"
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

const std::string S = "00000000-0000-4000-8000-000000000000";  // the generator's server GUID

// "fullname date size owner ownertype objectid [statuses] description" of each record, sorted.
Words Records(const BackupInfoList& list) {
  Words records;
  for (const BackupInfo& i : list)
    records.push_back(i.fullname + " " + i.GetDateTimeStr() + " " + std::to_string(i.size) + " " + i.ownerGuid + " " +
                      i.ownerType + " " + i.objectId + " [" + Statuses(i.validationResults) + "] " + i.description);
  return Sorted(records);
}

class Catalogue : public FixtureRepoTest {
 protected:
  Words List(const std::string& type, const std::string& guid, const std::string& name, bool brief) {
    BackupInfoList list;
    repo->BackupsList(type, guid, name, list, brief);
    return Records(list);
  }
  Words Packed(const std::string& mask) {
    BackupInfoList list;
    repo->PackedBackupsList("", mask, list);
    return Records(list);
  }
};

// An object's dumps are found at every depth, and by its name where the index lacks it (dumps of its object
// id only); malformed index items find nothing; a brief listing validates and records nothing.
TEST_F(Catalogue, ListsAnObjectsDumpsAtEveryNestingDepthAndNothingElse) {
  Build(R"({"dumps": [
    {"id": "c1", "guid": "G1", "owner": "R1", "ownertype": "reseller", "size": 700},
    {"id": "c1", "guid": "G1", "label": "1001011100", "descriptor": "invalid", "size": 5000000000, "owner": "O1"},
    {"id": "c1", "guid": "G1", "under": "resellers/r1", "label": "1002021300", "size": 5}, {"id": "c2", "guid": "G2"},
    {"type": "domain", "id": "d1", "guid": "D1", "under": "resellers/r1/clients/c1", "label": "1003031400", "size": 5},
    {"type": "domain", "id": "d9", "guid": "G9", "index": false, "size": 5},
    {"type": "domain", "id": "d9", "guid": "G9", "index": false, "label": "1001011300", "objectid": "other"},
    {"type": "domain", "id": "d8", "guid": "H", "index": false}], "index": ["H", "H_"]})");
  const std::string c1 = "clients/c1/backup_info_";
  auto tail = [&](const std::string& label, const std::string& id) {
    return "backup_info_" + label + ".xml " + label + " 5 " + S + " server " + id + " [OK] ";
  };
  EXPECT_EQ(List("client", "G1", "", true),
            (Words{c1 + "1001011100.xml 1001011100 5000000000 O1 server c1 [OK] ",
                   c1 + "1001011200.xml 1001011200 700 R1 reseller c1 [OK] ",
                   "resellers/r1/clients/c1/" + tail("1002021300", "c1")}));
  EXPECT_FALSE(Exists(Path("clients/c1/.discovered/backup_info_1001011100/status_WRONG-FORMAT")));
  EXPECT_EQ(List("domain", "D1", "", true), Words{"resellers/r1/clients/c1/domains/d1/" + tail("1003031400", "d1")});
  EXPECT_EQ(List("domain", "G9", "d9", true), Words{"domains/d9/" + tail("1001011200", "d9")});
  EXPECT_EQ(List("domain", "H", "", true), Words{});
  // An empty GUID would be a prefix of every index item.
  EXPECT_EQ(List("client", "", "", true), Words{});
}

// Dumps with a broken descriptor or sidecar are left out, linked ones count; a bad or absent size reads
// as 0, a stem without label dates to zero.
TEST_F(Catalogue, IncompleteOrDamagedDumpsAreSkippedAndTheOthersListed) {
  Build(R"({"dumps": [
    {"guid": "G", "label": "1001011200", "size": 64}, {"guid": "G", "label": "1001011300", "descriptor": "missing"},
    {"guid": "G", "label": "1001011400", "sidecar": false}, {"guid": "G", "label": "1001011600", "size": "abc"},
    {"guid": "G", "label": "1001011700", "size": null}, {"guid": "G", "stem": "backup", "size": 3},
    {"guid": "G", "label": "1001011800", "size": 8}, {"guid": "G", "label": "1001011900"},
    {"guid": "G", "label": "1001012000"}, {"guid": "G", "label": "1001012100"}]})");
  // 11800 linked, 11900 a directory descriptor, 12000 a plain-file sidecar, 12100 dangling links.
  Shell("cd '" + Path("clients/c1") + "' && S=.discovered/backup_info_10010 && D=backup_info_10010 && "
        "mv ${S}11800 ../../side && mv ${D}11800.xml ../../side.xml && ln -s \"$PWD/../../side\" ${S}11800 && "
        "ln -s \"$PWD/../../side.xml\" ${D}11800.xml && rm ${D}11900.xml && mkdir ${D}11900.xml && rm -r ${S}12000 "
        "&& touch ${S}12000 && rm -r ${S}12100 ${D}12100.xml && ln -s ../gone ${S}12100 && ln -s gone ${D}12100.xml");
  const std::string tail = " " + S + " server c1 [OK] Dump of client c1", c1 = "clients/c1/backup_info_";
  EXPECT_EQ(List("client", "G", "", false),
            (Words{"clients/c1/backup.xml 0000000000 3" + tail, c1 + "1001011200.xml 1001011200 64" + tail,
                   c1 + "1001011600.xml 1001011600 0" + tail, c1 + "1001011700.xml 1001011700 0" + tail,
                   c1 + "1001011800.xml 1001011800 8" + tail}));
  // Asked for directly, a descriptor without sidecar is "not found".
  EXPECT_EQ(Refusal([&] { repo->GetBackupInfo(c1 + "1001011400.xml", true); }),
            "Repository error: Discovered dir 'clients/c1/.discovered/backup_info_1001011400' not found [1]");
}

// Exported dumps are listed by whole name under a basic mask with the size of all parts; asked for one,
// its archive is validated whole, leaving nothing behind.
TEST_F(Catalogue, ExportedDumps) {
  Build(R"({"exports": [
    {"name": "a_1001011200.tar", "parts": 3, "dump": {"id": "c1"}},
    {"name": "b_1001011300.TGZ", "gzip": true, "parts": 2, "dump": {"id": "c2", "label": "1001011300"}},
    {"name": "e_1001011200.tar", "dump": {"id": "c3",
      "contents": [{"path": ".", "files": [{"name": "backup_c3_1001011200.tgz", "size": 0}]}]}},
    {"name": "s_1001011200.tar", "dump": {"id": "c4", "descriptor": "invalid"}}],
    "files": {"notes.txt": "n", "a_1001011200.tar.1": "x", "c_1001011200.tar/inside": "",
              "sub/d_1001011200.tar": "elsewhere"}})");
  const std::string a = "a_1001011200.tar 1001011200 " + SizeOf("a_1001011200.tar", 3) + "    [OK] ",
                    b = "b_1001011300.TGZ 1001011300 " + SizeOf("b_1001011300.TGZ", 2) + "    [OK] ",
                    e = "e_1001011200.tar 1001011200 " + SizeOf("e_1001011200.tar") + "    [",
                    s = "s_1001011200.tar 1001011200 " + SizeOf("s_1001011200.tar") + "    [";
  EXPECT_EQ(Packed(""), (Words{a, b, e + "OK] ", s + "OK] "}));
  // Basic syntax: \{n\} is an interval, "(" and "|" are plain characters.
  EXPECT_EQ(Packed("a_10\\{2\\}1011200.tar"), Words{a});
  EXPECT_EQ(Packed("(a|b)_.*"), Words{});
  EXPECT_EQ(Packed("a_"), Words{});
  const Words before = SnapshotTree(install.dumps());
  EXPECT_EQ(Records({repo->GetPackedBackupInfo("b_1001011300.TGZ"), repo->GetPackedBackupInfo("e_1001011200.tar"),
                     repo->GetPackedBackupInfo("s_1001011200.tar")}),
            (Words{b, e + "CONTENT-ERROR] ", s + "WRONG-FORMAT] "}));
  EXPECT_EQ(SnapshotTree(install.dumps()), before);
  EXPECT_EQ(ListTree(install.tmp()), Words{});
  EXPECT_EQ(Refusal([&] { repo->GetPackedBackupInfo("c_1001011200.tar"); }),
            "Repository error: File 'c_1001011200.tar' not found [1]");

  Shell("truncate -s 3G '" + Path("big_1001011200.tar") + "' && truncate -s 2G '" + Path("big_1001011200.tar1") + "'");
  const std::string big = "big_1001011200.tar 1001011200 " + std::to_string(int64_t(5) << 30) + "    [";
  EXPECT_EQ(Packed("big.*"), Words{big + "OK] "});
  // Zeros are no archive; the size reported with the verdict is still whole.
  EXPECT_EQ(Records({repo->GetPackedBackupInfo("big_1001011200.tar")}), Words{big + "WRONG-FORMAT] "});
}

}  // namespace
}  // namespace dktest
