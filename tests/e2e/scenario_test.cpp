// Command chains as the backup manager runs them: exported dumps are
// imported, listed, reported, joined, rotated and deleted one run after the
// other on the same storage, a local directory or an FTP server's directory,
// and after every run the storage holds exactly what the next run builds on.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

namespace {

using dktest::BriefDump;
using dktest::DECLARATION;
using dktest::ListedDumps;
using dktest::Sorted;

const std::string SERVER_GUID = "00000000-0000-4000-8000-000000000000";
const std::string RESELLER_GUID = "reseller-guid-r1";
const std::string CLIENT_GUID = "client-guid-c1";
const std::string DOMAIN_GUID = "domain-guid-d1";
const std::string OTHER_OWNER = "another-owner-guid";

// One exported dump handed to the utility, and what it becomes once imported.
struct Exported {
  std::string archive;  // file name in the incoming storage
  std::string type, id, guid, label, owner, ownerType, size, description;
  bool gzip = false;
  int parts = 1;
  bool withTar = false;  // packed by tar itself instead of the fixture generator

  std::string Dir() const {
    if (type == "server") return "";
    return (type == "reseller" ? "resellers/" : type == "client" ? "clients/" : "domains/") + id;
  }
  std::string Stem() const { return "backup_info_" + label; }
  std::string Descriptor() const { return (Dir().empty() ? "" : Dir() + "/") + Stem() + ".xml"; }
  std::string Content() const { return "backup_" + (id.empty() ? std::string("server") : id) + "_" + label + ".tgz"; }
  std::string ObjectId() const { return id.empty() ? "0" : id; }
  std::vector<std::string> Items() const {
    return {"GUID_" + guid, "objectid_" + ObjectId(), "owner_" + owner, "ownertype_" + ownerType, "size_" + size};
  }
  std::string DumpJson(const std::string& extra = "") const {
    std::string json = "{\"type\": \"" + type + "\", \"guid\": \"" + guid + "\", \"label\": \"" + label +
                       "\", \"owner\": \"" + owner + "\", \"ownertype\": \"" + ownerType + "\", \"size\": " + size +
                       ", \"description\": \"" + description + "\"";
    if (!id.empty()) json += ", \"id\": \"" + id + "\"";
    return json + extra + "}";
  }
};

Exported Dump(std::string archive, std::string type, std::string id, std::string guid, std::string label,
              std::string owner, std::string ownerType, std::string size, std::string description) {
  Exported e;
  e.archive = archive;
  e.type = type;
  e.id = id;
  e.guid = guid;
  e.label = label;
  e.owner = owner;
  e.ownerType = ownerType;
  e.size = size;
  e.description = description;
  return e;
}

// The exports of one week: a server dump, a reseller's, four of one client
// (the oldest split into three parts, the newest made for another owner) and
// a domain's packed by tar with a stale verdict in its sidecar.
std::vector<Exported> WeekOfExports() {
  std::vector<Exported> all;
  all.push_back(Dump("backup_1001011200.tar", "server", "", SERVER_GUID, "1001011200", SERVER_GUID, "server", "100",
                     "server weekly"));
  all.push_back(Dump("backup_1001021200.tgz", "reseller", "r1", RESELLER_GUID, "1001021200", SERVER_GUID, "server",
                     "200", "reseller r1"));
  all.back().gzip = true;
  all.push_back(Dump("backup_1001031200.tar", "client", "c1", CLIENT_GUID, "1001031200", RESELLER_GUID, "reseller",
                     "300", "client c1 monday"));
  all.back().parts = 3;
  all.push_back(Dump("backup_1001041200.tgz", "client", "c1", CLIENT_GUID, "1001041200", RESELLER_GUID, "reseller",
                     "400", "client c1 tuesday"));
  all.back().gzip = true;
  all.push_back(Dump("backup_1001051200.tar", "client", "c1", CLIENT_GUID, "1001051200", RESELLER_GUID, "reseller",
                     "500", "client c1 wednesday"));
  all.push_back(Dump("backup_1001061200.tar", "client", "c1", CLIENT_GUID, "1001061200", OTHER_OWNER, "server",
                     "600", "client c1 thursday"));
  all.push_back(Dump("domain_1001071200.tgz", "domain", "d1", DOMAIN_GUID, "1001071200", CLIENT_GUID, "client",
                     "700", "domain d1"));
  all.back().withTar = true;
  return all;
}

const Exported& Find(const std::vector<Exported>& all, const std::string& label) {
  for (const Exported& e : all) {
    if (e.label == label) return e;
  }
  throw std::runtime_error("no export with label " + label);
}

// Writes the exports into `dir`: the fixture generator packs most of them,
// tar packs the others from a structured copy made in a scratch repository.
void WriteExports(const std::vector<Exported>& exports, const std::string& dir) {
  std::string json = "{\"exports\": [";
  bool first = true;
  for (const Exported& e : exports) {
    if (e.withTar) continue;
    json += std::string(first ? "" : ", ") + "{\"name\": \"" + e.archive + "\", \"gzip\": " +
            (e.gzip ? "true" : "false") + ", \"parts\": " + std::to_string(e.parts) + ", \"dump\": " + e.DumpJson() +
            "}";
    first = false;
  }
  dktest::MakeFixtureRepo(dir, json + "]}");
  for (const Exported& e : exports) {
    if (!e.withTar) continue;
    dktest::TempDir scratch;
    dktest::MakeFixtureRepo(scratch.path(), "{\"dumps\": [" + e.DumpJson(", \"status\": [\"OK\"]") + "]}");
    dktest::Shell("tar -C '" + (scratch / e.Dir()) + "' -czf '" + dir + "/" + e.archive + "' '" + e.Stem() +
                  ".xml' '" + e.Content() + "' .discovered");
  }
}

// The tree (as ListTree shows it) of a repository holding `dumps` as
// imported, with the index entries of their objects and any `extra` entries.
std::vector<std::string> RepositoryTree(const std::vector<Exported>& dumps,
                                        const std::vector<std::string>& extra = {}) {
  std::set<std::string> tree;
  auto add = [&](const std::string& path) {
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      tree.insert(path.substr(0, slash + 1));
    }
    tree.insert(path);
  };
  for (const Exported& d : dumps) {
    const std::string base = d.Dir().empty() ? "" : d.Dir() + "/";
    add(base + d.Stem() + ".xml");
    add(base + d.Content());
    add(base + ".discovered/" + d.Stem() + "/");
    for (const std::string& item : d.Items()) add(base + ".discovered/" + d.Stem() + "/" + item);
    add(".discovered/" + d.guid + "_" + d.ObjectId());
  }
  for (const std::string& e : extra) add(e);
  return std::vector<std::string>(tree.begin(), tree.end());
}

std::vector<std::string> Without(std::vector<std::string> tree, const std::vector<std::string>& gone) {
  for (const std::string& g : gone) tree.erase(std::remove(tree.begin(), tree.end(), g), tree.end());
  return tree;
}

// One `dump` element of a listing or an info document.
std::string FullDump(const Exported& d, const std::vector<std::string>& statuses, const std::string& indent,
                     const std::string& description) {
  std::string xml = indent + "<dump name=\"" + d.Stem() + ".xml\" fullname=\"" + d.Descriptor() +
                    "\" creation-date=\"" + d.label + "\" description=\"" + description + "\" size=\"" + d.size +
                    "\" owner-guid=\"" + d.owner + "\" owner-type=\"" + d.ownerType + "\">\n";
  for (const std::string& s : statuses) xml += indent + " <dump-status dump-status=\"" + s + "\"/>\n";
  return xml + indent + "</dump>\n";
}

std::string FullDump(const Exported& d, const std::vector<std::string>& statuses, const std::string& indent = " ") {
  return FullDump(d, statuses, indent, d.description);
}

std::string InfoDocument(const Exported& d, const std::vector<std::string>& statuses) {
  return DECLARATION + FullDump(d, statuses, "");
}

size_t FileSize(const std::string& path) { return dktest::ReadFile(path).size(); }

// The bytes of the exported file `base` and its parts 1 and 2 in order.
std::string Joined(const std::string& base) {
  return dktest::ReadFile(base) + dktest::ReadFile(base + "1") + dktest::ReadFile(base + "2");
}

// A sample installation, an incoming storage for the exports and the runs of
// the binary, each in its own session directory like the backup manager's.
class Scenario : public ::testing::Test {
 protected:
  explicit Scenario(const std::string& dbPassword = "") : install(dbPassword), exports(WeekOfExports()) {}

  dktest::RunResult Run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.push_back("--session-path=" + (work / ("session" + std::to_string(++runs))));
    env["OVR_CONF_DIR"] = install.confDir();
    return dktest::RunDumpkeep(args, env);
  }
  std::vector<std::string> Repo() const { return dktest::ListTree(install.dumps()); }
  const Exported& E(const std::string& label) const { return Find(exports, label); }
  std::vector<Exported> Labels(const std::vector<std::string>& labels) const {
    std::vector<Exported> chosen;
    for (const std::string& l : labels) chosen.push_back(E(l));
    return chosen;
  }

  dktest::SampleInstallation install;
  dktest::TempDir work;
  std::vector<Exported> exports;
  int runs = 0;
};

TEST_F(Scenario, LocalStorageFromImportToDeletion) {
  dktest::TempDir incoming, joined;
  WriteExports(exports, incoming.path());

  // Import: every dump lands in its object's directory, split and gzip
  // archives alike; the stale verdict packed with the domain's dump is gone.
  for (const Exported& e : exports) {
    dktest::RunResult r = Run({"--import-file-as-dump", "--dump-file-specification", incoming / e.archive});
    ASSERT_EQ(0, r.code) << e.archive << ": " << r.out;
    EXPECT_EQ(e.Descriptor() + "\n", r.out);
  }
  std::vector<std::string> tree = RepositoryTree(exports);
  ASSERT_EQ(tree, Repo());
  EXPECT_EQ("content of backup_c1_1001031200.tgz\n",
            dktest::ReadFile(install.dumps() + "/clients/c1/backup_c1_1001031200.tgz").substr(0, 36));
  // A second import of the same export is refused and changes nothing.
  dktest::RunResult again =
      Run({"--import-file-as-dump", "--dump-file-specification", "local:" + (incoming / "backup_1001031200.tar")});
  EXPECT_EQ(111, again.code) << again.out;
  EXPECT_EQ("clients/c1/backup_info_1001031200.xml\n", again.out);
  EXPECT_EQ(tree, Repo());

  // Reports. Monday's descriptor is signed in place by the panel's utility:
  // its signature verifies, and the description of a signed descriptor is
  // not read. Tuesday's is unsigned, so the signature check fails, and that
  // verdict answers every later query, with or without --check-sign.
  const std::string monday = install.dumps() + "/" + E("1001031200").Descriptor();
  dktest::Shell("'" + install.productRoot() + "/admin/sbin/backup_sign' sign '" + monday + "' > '" + monday +
                ".signed' && mv '" + monday + ".signed' '" + monday + "'");
  dktest::RunResult signedInfo =
      Run({"--get-dump-info", "--check-sign", "--dump-file-specification", E("1001031200").Descriptor()});
  ASSERT_EQ(0, signedInfo.code) << signedInfo.out;
  EXPECT_EQ(DECLARATION + FullDump(E("1001031200"), {"OK"}, "", ""), signedInfo.out);

  const std::string tuesday = E("1001041200").Descriptor();
  dktest::RunResult checked = Run({"--get-dump-info", "--check-sign", "--dump-file-specification", tuesday});
  ASSERT_EQ(0, checked.code) << checked.out;
  EXPECT_EQ(InfoDocument(E("1001041200"), {"SIGN-ERROR"}), checked.out);
  EXPECT_EQ(InfoDocument(E("1001041200"), {"SIGN-ERROR"}),
            Run({"--get-dump-info", "--dump-file-specification", tuesday}).out);
  // Wednesday's is reported without the signature check first: OK is
  // recorded, and --check-sign afterwards answers from that record.
  const std::string wednesday = E("1001051200").Descriptor();
  EXPECT_EQ(InfoDocument(E("1001051200"), {"OK"}),
            Run({"--get-dump-info", "--dump-file-specification", wednesday}).out);
  EXPECT_EQ(InfoDocument(E("1001051200"), {"OK"}),
            Run({"--get-dump-info", "--check-sign", "--dump-file-specification", wednesday}).out);
  tree = RepositoryTree(exports, {"clients/c1/.discovered/backup_info_1001031200/status_OK",
                                  "clients/c1/.discovered/backup_info_1001041200/status_SIGN-ERROR",
                                  "clients/c1/.discovered/backup_info_1001051200/status_OK"});
  EXPECT_EQ(tree, Repo());

  // Listings through the index: each object sees its own dumps, with the
  // verdicts recorded above and new ones for the rest.
  auto list = [&](const std::string& type, const std::string& guid, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--get-dump-list", "--type", type, "--guid", guid};
    args.insert(args.end(), extra.begin(), extra.end());
    dktest::RunResult r = Run(args);
    EXPECT_EQ(0, r.code) << r.out;
    return ListedDumps(r.out);
  };
  EXPECT_EQ(std::vector<std::string>{FullDump(E("1001011200"), {"OK"})}, list("server", SERVER_GUID));
  EXPECT_EQ(std::vector<std::string>{FullDump(E("1001021200"), {"OK"})}, list("reseller", RESELLER_GUID));
  const std::vector<std::string> clientDumps =
      Sorted({FullDump(E("1001031200"), {"OK"}, " ", ""), FullDump(E("1001041200"), {"SIGN-ERROR"}),
              FullDump(E("1001051200"), {"OK"}), FullDump(E("1001061200"), {"OK"})});
  EXPECT_EQ(clientDumps, list("client", CLIENT_GUID));
  EXPECT_EQ(std::vector<std::string>{FullDump(E("1001071200"), {"OK"})}, list("domain", DOMAIN_GUID));
  tree = RepositoryTree(exports, {"backup_info_1001011200.xml", ".discovered/backup_info_1001011200/status_OK",
                                  "resellers/r1/.discovered/backup_info_1001021200/status_OK",
                                  "clients/c1/.discovered/backup_info_1001031200/status_OK",
                                  "clients/c1/.discovered/backup_info_1001041200/status_SIGN-ERROR",
                                  "clients/c1/.discovered/backup_info_1001051200/status_OK",
                                  "clients/c1/.discovered/backup_info_1001061200/status_OK",
                                  "domains/d1/.discovered/backup_info_1001071200/status_OK"});
  EXPECT_EQ(tree, Repo());

  // Without the index only the object name given on the command line finds
  // the dumps.
  std::set<std::string> entries;
  for (const Exported& e : exports) entries.insert(".discovered/" + e.guid + "_" + e.ObjectId());
  const std::vector<std::string> index(entries.begin(), entries.end());
  for (const std::string& entry : index) dktest::Shell("rm '" + install.dumps() + "/" + entry + "'");
  EXPECT_EQ(std::vector<std::string>{}, list("client", CLIENT_GUID));
  EXPECT_EQ(clientDumps, list("client", CLIENT_GUID, {"--name", "c1"}));
  EXPECT_EQ(std::vector<std::string>{FullDump(E("1001071200"), {"OK"})}, list("domain", DOMAIN_GUID, {"--name", "d1"}));
  // The server needs neither.
  EXPECT_EQ(std::vector<std::string>{FullDump(E("1001011200"), {"OK"})}, list("server", SERVER_GUID));
  tree = Without(tree, index);
  EXPECT_EQ(tree, Repo());

  // The exported files of the incoming storage: a split dump is listed once
  // with the size of all its parts.
  const std::string mondayBytes = Joined(incoming / "backup_1001031200.tar");
  const size_t mondayParts = mondayBytes.size();
  dktest::RunResult packed =
      Run({"--get-ftp-dump-list", "--dump-storage", incoming.path(), "--mask", "backup_.*\\.tar"});
  ASSERT_EQ(0, packed.code) << packed.out;
  EXPECT_EQ(Sorted({BriefDump("backup_1001011200.tar", "1001011200", FileSize(incoming / "backup_1001011200.tar"), " "),
                    BriefDump("backup_1001031200.tar", "1001031200", mondayParts, " "),
                    BriefDump("backup_1001051200.tar", "1001051200", FileSize(incoming / "backup_1001051200.tar"), " "),
                    BriefDump("backup_1001061200.tar", "1001061200", FileSize(incoming / "backup_1001061200.tar"),
                              " ")}),
            ListedDumps(packed.out));

  // Join the split export into one file on another storage; that file is the
  // same archive: it validates, and importing it finds the dump already there.
  dktest::RunResult join = Run({"--export-file-as-file", "--file-from", incoming / "backup_1001031200.tar", "--file-to",
                                "local:" + (joined / "backup_1001031200.tar")});
  ASSERT_EQ(0, join.code) << join.out;
  EXPECT_EQ("", join.out);
  EXPECT_EQ(mondayBytes, dktest::ReadFile(joined / "backup_1001031200.tar"));
  EXPECT_EQ(std::vector<std::string>{"backup_1001031200.tar"}, dktest::ListTree(joined.path()));
  dktest::RunResult joinedInfo = Run({"--get-ftp-dump-info", "--dump-storage", joined.path(),
                                      "--dump-file-specification", "backup_1001031200.tar"});
  EXPECT_EQ(DECLARATION + BriefDump("backup_1001031200.tar", "1001031200", mondayParts, ""), joinedInfo.out);
  dktest::RunResult reimport =
      Run({"--import-file-as-dump", "--dump-file-specification", joined / "backup_1001031200.tar"});
  EXPECT_EQ(111, reimport.code) << reimport.out;
  EXPECT_EQ(tree, Repo());

  // Structured rotation keeps the newest valid dump of the reseller's series:
  // Monday's goes, Tuesday's failed verdict keeps it out of the count, and
  // Thursday's belongs to another owner.
  dktest::RunResult rotate = Run({"--rotate-dump", "--storage-structured", "--guid", RESELLER_GUID,
                                  "--dump-specification", wednesday, "--dump-rotation", "1"});
  ASSERT_EQ(0, rotate.code) << rotate.out;
  EXPECT_EQ("", rotate.out);
  const std::vector<std::string> mondayFiles = Without(
      RepositoryTree({E("1001031200")}, {"clients/c1/.discovered/backup_info_1001031200/status_OK"}),
      {"clients/", "clients/c1/", "clients/c1/.discovered/", ".discovered/", ".discovered/" + CLIENT_GUID + "_c1"});
  tree = Without(tree, mondayFiles);
  EXPECT_EQ(tree, Repo());
  EXPECT_EQ(Sorted({FullDump(E("1001041200"), {"SIGN-ERROR"}), FullDump(E("1001051200"), {"OK"}),
                    FullDump(E("1001061200"), {"OK"})}),
            list("client", CLIENT_GUID, {"--name", "c1"}));

  // File rotation of the incoming storage keeps the two newest .tar exports;
  // the split one goes with all its parts, the gzip series is another one.
  rotate = Run({"--rotate-dump", "--dump-storage", incoming.path(), "--guid", RESELLER_GUID, "--dump-specification",
                "backup_1001061200.tar", "--dump-rotation", "2"});
  ASSERT_EQ(0, rotate.code) << rotate.out;
  EXPECT_EQ(Sorted({"backup_1001021200.tgz", "backup_1001041200.tgz", "backup_1001051200.tar",
                    "backup_1001061200.tar", "domain_1001071200.tgz"}),
            dktest::ListTree(incoming.path()));

  // Deleting the reseller's dump empties its listing; the index is left alone.
  dktest::RunResult del = Run({"--delete-dump", "--dump-specification", E("1001021200").Descriptor()});
  ASSERT_EQ(0, del.code) << del.out;
  tree = Without(tree, Without(RepositoryTree({E("1001021200")},
                                              {"resellers/r1/.discovered/backup_info_1001021200/status_OK"}),
                               {"resellers/", "resellers/r1/", "resellers/r1/.discovered/", ".discovered/",
                                ".discovered/" + RESELLER_GUID + "_r1"}));
  EXPECT_EQ(tree, Repo());
  EXPECT_EQ(std::vector<std::string>{}, list("reseller", RESELLER_GUID, {"--name", "r1"}));
  // The server's dump lies at the root; its deletion walks the whole tree and
  // takes only the files of its own label.
  del = Run({"--delete-dump", "--dump-specification", E("1001011200").Descriptor()});
  ASSERT_EQ(0, del.code) << del.out;
  tree = Without(tree, {"backup_info_1001011200.xml", "backup_server_1001011200.tgz",
                        ".discovered/backup_info_1001011200/", ".discovered/backup_info_1001011200/status_OK"});
  for (const std::string& item : E("1001011200").Items()) {
    tree = Without(tree, {".discovered/backup_info_1001011200/" + item});
  }
  EXPECT_EQ(tree, Repo());
  EXPECT_EQ(std::vector<std::string>{}, list("server", SERVER_GUID));

  // Exported dumps are deleted from their storages, a second time not at all.
  del = Run({"--delete-exported-dump", "--dump-storage", incoming.path(), "--dump-file-specification",
             "backup_1001021200.tgz"});
  ASSERT_EQ(0, del.code) << del.out;
  del = Run({"--delete-exported-dump", "--dump-storage", "local:" + joined.path(), "--dump-file-specification",
             "backup_1001031200.tar"});
  ASSERT_EQ(0, del.code) << del.out;
  EXPECT_EQ(
      Sorted({"backup_1001041200.tgz", "backup_1001051200.tar", "backup_1001061200.tar", "domain_1001071200.tgz"}),
      dktest::ListTree(incoming.path()));
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(joined.path()));
  del = Run({"--delete-exported-dump", "--dump-storage", incoming.path(), "--dump-file-specification",
             "backup_1001021200.tgz"});
  EXPECT_EQ(151, del.code);
  EXPECT_EQ("Repository error: file backup_1001021200.tgz not exists\n", del.out);

  EXPECT_EQ(tree, Repo());
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp()));
}


// The panel names its objects by database id: the listing asks the panel
// database for the login or domain name, which is the object directory of
// a repository that has no index.
class DatabaseScenario : public Scenario {
 protected:
  DatabaseScenario() : Scenario(dktest::MysqlAdminPassword()) {}
  void SetUp() override {
    if (dktest::MysqlSocket().empty()) GTEST_FAIL() << "no test MariaDB server (DUMPKEEP_TEST_MYSQL_SOCKET unset)";
  }
};

TEST_F(DatabaseScenario, ListingsFindObjectsByTheirDatabaseId) {
  // Reseller 7, client 12 and domain 33 of the panel database.
  std::vector<Exported> named = Labels({"1001021200", "1001051200", "1001071200"});
  named[0].id = "reseller-7";
  named[1].id = "client-login-12";
  named[2].id = "example-33.test";
  named[2].archive = "backup_1001071200.tgz";
  named[2].withTar = false;
  named[2].gzip = true;
  dktest::TempDir incoming;
  WriteExports(named, incoming.path());
  for (const Exported& e : named) {
    dktest::RunResult r = Run({"--import-file-as-dump", "--dump-file-specification", incoming / e.archive});
    ASSERT_EQ(0, r.code) << e.archive << ": " << r.out;
    EXPECT_EQ(e.Descriptor() + "\n", r.out);
  }
  dktest::Shell("rm -r '" + install.dumps() + "/.discovered'");
  std::vector<std::string> tree = Without(RepositoryTree(named), {".discovered/"});
  for (const Exported& e : named) tree = Without(tree, {".discovered/" + e.guid + "_" + e.id});

  auto list = [&](const std::string& type, const std::string& guid, const std::string& id) {
    dktest::RunResult r = Run({"--get-dump-list", "--type", type, "--guid", guid, "--id", id});
    EXPECT_EQ(0, r.code) << r.out;
    return ListedDumps(r.out);
  };
  EXPECT_EQ(std::vector<std::string>{FullDump(named[0], {"OK"})}, list("reseller", RESELLER_GUID, "7"));
  EXPECT_EQ(std::vector<std::string>{FullDump(named[1], {"OK"})}, list("client", CLIENT_GUID, "12"));
  EXPECT_EQ(std::vector<std::string>{FullDump(named[2], {"OK"})}, list("domain", DOMAIN_GUID, "33"));
  // An id the database does not know, or the id of another object, finds nothing.
  EXPECT_EQ(std::vector<std::string>{}, list("client", CLIENT_GUID, "999"));
  EXPECT_EQ(std::vector<std::string>{}, list("client", CLIENT_GUID, "7"));
  // The id takes the place of the name.
  dktest::RunResult both =
      Run({"--get-dump-list", "--type", "client", "--guid", CLIENT_GUID, "--id", "7", "--name", "client-login-12"});
  EXPECT_EQ(std::vector<std::string>{}, ListedDumps(both.out));
  for (const Exported& e : named) {
    tree.push_back(e.Dir() + "/.discovered/" + e.Stem() + "/status_OK");
  }
  EXPECT_EQ(Sorted(tree), Repo());
}

// The same chain with the repository and the exports on an FTP server, as
// far as the commands take an FTP storage: the listing of structured dumps
// works on the local storage only, so the FTP repository is checked in the
// server's directory instead.
class FtpScenario : public Scenario {
 protected:
  FtpScenario() : server("normal", {{"dk", "pw"}}) {}
  // The server's URL for `path` with the login in it; the password comes
  // from the environment of each run.
  std::string Url(const std::string& path) const {
    return "ftp://dk@127.0.0.1:" + std::to_string(server.port()) + path;
  }
  std::string Remote(const std::string& path) const { return server.root() + path; }
  dktest::RunResult RunFtp(std::vector<std::string> args) {
    return Run(args,
               {{"DUMP_STORAGE_PASSWD", "pw"}, {"DUMP_STORAGE_PASSWD_SRC", "pw"}, {"DUMP_STORAGE_PASSWD_DST", "pw"}});
  }
  std::vector<std::string> RemoteRepo() const { return dktest::ListTree(Remote("/repo")); }

  dktest::FtpServer server;
};

TEST_F(FtpScenario, FtpStorageFromImportToDeletion) {
  WriteExports(exports, Remote("/incoming"));
  // The repository starts empty: every object directory is made by the
  // import of the object's first dump.
  dktest::Shell("mkdir -p '" + Remote("/repo") + "'");
  for (const Exported& e : exports) {
    dktest::RunResult r = RunFtp({"--import-file-as-dump", "--dump-storage", Url("/repo"), "--dump-file-specification",
                                  Url("/incoming/" + e.archive)});
    ASSERT_EQ(0, r.code) << e.archive << ": " << r.out;
    EXPECT_EQ(e.Descriptor() + "\n", r.out);
  }
  std::vector<std::string> tree = RepositoryTree(exports);
  ASSERT_EQ(tree, RemoteRepo());
  EXPECT_EQ("content of backup_c1_1001031200.tgz\n",
            dktest::ReadFile(Remote("/repo/clients/c1/backup_c1_1001031200.tgz")).substr(0, 36));
  dktest::RunResult again = RunFtp({"--import-file-as-dump", "--use-ftp-passive-mode", "--dump-storage", Url("/repo"),
                                    "--dump-file-specification", Url("/incoming/backup_1001031200.tar")});
  EXPECT_EQ(111, again.code) << again.out;
  EXPECT_EQ("clients/c1/backup_info_1001031200.xml\n", again.out);
  EXPECT_EQ(tree, RemoteRepo());

  // The FTP storage cannot measure content files, so the report of a dump
  // without a recorded verdict fails after the signature check; the verdict
  // of that check stays recorded and answers the next report.
  const std::string tuesday = E("1001041200").Descriptor();
  dktest::RunResult checked =
      RunFtp({"--get-dump-info", "--check-sign", "--dump-storage", Url("/repo"), "--dump-file-specification", tuesday});
  EXPECT_EQ(1, checked.code);
  EXPECT_EQ("Transport error: tRepositoryFtp::GetFileSize not implemented\n", checked.out);
  tree = RepositoryTree(exports, {"clients/c1/.discovered/backup_info_1001041200/status_SIGN-ERROR"});
  EXPECT_EQ(tree, RemoteRepo());
  dktest::RunResult info =
      RunFtp({"--get-dump-info", "--dump-storage", Url("/repo"), "--dump-file-specification", tuesday});
  ASSERT_EQ(0, info.code) << info.out;
  EXPECT_EQ(InfoDocument(E("1001041200"), {"SIGN-ERROR"}), info.out);

  // The exported files on the server, the split one with all its parts.
  auto size = [&](const std::string& name) { return FileSize(Remote("/incoming/" + name)); };
  const std::string mondayBytes = Joined(Remote("/incoming/backup_1001031200.tar"));
  const size_t mondayParts = mondayBytes.size();
  dktest::RunResult packed =
      RunFtp({"--get-ftp-dump-list", "--dump-storage", Url("/incoming"), "--mask", "backup_.*\\.tar"});
  ASSERT_EQ(0, packed.code) << packed.out;
  EXPECT_EQ(Sorted({BriefDump("backup_1001011200.tar", "1001011200", size("backup_1001011200.tar"), " "),
                    BriefDump("backup_1001031200.tar", "1001031200", mondayParts, " "),
                    BriefDump("backup_1001051200.tar", "1001051200", size("backup_1001051200.tar"), " "),
                    BriefDump("backup_1001061200.tar", "1001061200", size("backup_1001061200.tar"), " ")}),
            ListedDumps(packed.out));
  dktest::RunResult packedInfo = RunFtp({"--get-ftp-dump-info", "--dump-storage", Url("/incoming"),
                                         "--dump-file-specification", "backup_1001031200.tar"});
  EXPECT_EQ(DECLARATION + BriefDump("backup_1001031200.tar", "1001031200", mondayParts, ""), packedInfo.out);

  // Join the split export into one local file, and import that file into
  // the FTP repository: the dump is already there.
  dktest::TempDir joined;
  dktest::RunResult join = RunFtp({"--export-file-as-file", "--file-from", Url("/incoming/backup_1001031200.tar"),
                                   "--file-to", "local:" + (joined / "backup_1001031200.tar")});
  ASSERT_EQ(0, join.code) << join.out;
  EXPECT_EQ("", join.out);
  EXPECT_EQ(mondayBytes, dktest::ReadFile(joined / "backup_1001031200.tar"));
  dktest::RunResult reimport = RunFtp({"--import-file-as-dump", "--dump-storage", Url("/repo"),
                                       "--dump-file-specification", joined / "backup_1001031200.tar"});
  EXPECT_EQ(111, reimport.code) << reimport.out;
  EXPECT_EQ("clients/c1/backup_info_1001031200.xml\n", reimport.out);
  EXPECT_EQ(tree, RemoteRepo());

  // Structured rotation: the dumps without a verdict count, Tuesday's failed
  // one does not, Thursday's belongs to another owner; Monday's goes.
  dktest::RunResult rotate = RunFtp({"--rotate-dump", "--storage-structured", "--dump-storage", Url("/repo"), "--guid",
                                     RESELLER_GUID, "--dump-specification", E("1001051200").Descriptor(),
                                     "--dump-rotation", "1"});
  ASSERT_EQ(0, rotate.code) << rotate.out;
  tree = Without(tree, Without(RepositoryTree({E("1001031200")}),
                               {"clients/", "clients/c1/", "clients/c1/.discovered/", ".discovered/",
                                ".discovered/" + CLIENT_GUID + "_c1"}));
  EXPECT_EQ(tree, RemoteRepo());

  // Deleting the reseller's dump leaves its object directory and the index.
  dktest::RunResult del =
      RunFtp({"--delete-dump", "--dump-storage", Url("/repo"), "--dump-specification", E("1001021200").Descriptor()});
  ASSERT_EQ(0, del.code) << del.out;
  tree = Without(tree, Without(RepositoryTree({E("1001021200")}), {"resellers/", "resellers/r1/",
                                                                  "resellers/r1/.discovered/", ".discovered/",
                                                                  ".discovered/" + RESELLER_GUID + "_r1"}));
  EXPECT_EQ(tree, RemoteRepo());

  // File rotation of the exports on the server keeps the two newest .tar
  // exports; the split one goes with all its parts.
  rotate = RunFtp({"--rotate-dump", "--dump-storage", Url("/incoming"), "--guid", RESELLER_GUID,
                                     "--dump-specification", "backup_1001061200.tar", "--dump-rotation", "2"});
  ASSERT_EQ(0, rotate.code) << rotate.out;
  EXPECT_EQ(Sorted({"backup_1001021200.tgz", "backup_1001041200.tgz", "backup_1001051200.tar",
                    "backup_1001061200.tar", "domain_1001071200.tgz"}),
            dktest::ListTree(Remote("/incoming")));

  // An exported dump is deleted from the server, a second time not at all.
  del = RunFtp({"--delete-exported-dump", "--dump-storage", Url("/incoming"), "--dump-file-specification",
                "backup_1001051200.tar"});
  ASSERT_EQ(0, del.code) << del.out;
  EXPECT_EQ(
      Sorted({"backup_1001021200.tgz", "backup_1001041200.tgz", "backup_1001061200.tar", "domain_1001071200.tgz"}),
      dktest::ListTree(Remote("/incoming")));
  del = RunFtp({"--delete-exported-dump", "--dump-storage", Url("/incoming"), "--dump-file-specification",
                "backup_1001051200.tar"});
  EXPECT_EQ(151, del.code);
  EXPECT_EQ("Repository error: file backup_1001051200.tar not exists\n", del.out);

  EXPECT_EQ(tree, RemoteRepo());
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp()));
}


// The existence test of the target descriptor must not fail on an object
// directory that a fresh FTP repository does not have yet.
TEST_F(FtpScenario, ImportCreatesTheObjectDirectory) {
  WriteExports({E("1001021200")}, Remote("/incoming"));
  dktest::Shell("mkdir -p '" + Remote("/repo") + "'");
  dktest::RunResult r = RunFtp({"--import-file-as-dump", "--dump-storage", Url("/repo"), "--dump-file-specification",
                                Url("/incoming/backup_1001021200.tgz")});
  EXPECT_EQ(0, r.code) << r.out;
  EXPECT_EQ(RepositoryTree({E("1001021200")}), RemoteRepo());
}

// The unpacking merges the archive's sidecar directory into the object's
// existing one on the server, through a receiving directory that holds only
// what is new.
TEST_F(FtpScenario, SecondDumpOfAnObjectImportsBesideTheFirst) {
  const std::vector<Exported> client = Labels({"1001031200", "1001041200"});
  WriteExports(client, Remote("/incoming"));
  dktest::Shell("mkdir -p '" + Remote("/repo/clients/c1") + "'");
  for (const Exported& e : client) {
    dktest::RunResult r = RunFtp({"--import-file-as-dump", "--dump-storage", Url("/repo"), "--dump-file-specification",
                                  Url("/incoming/" + e.archive)});
    EXPECT_EQ(0, r.code) << e.archive << ": " << r.out;
  }
  EXPECT_EQ(RepositoryTree(client), RemoteRepo());
}

}  // namespace
