// Command chains as the backup manager runs them: exported dumps are
// imported, listed, reported, joined, rotated and deleted one run after the
// other on the same storage, a local directory or an FTP server's directory,
// and after every run the storage holds exactly what the next run builds on.
#include <gtest/gtest.h>

#include <algorithm>
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
using Words = std::vector<std::string>;

const std::string SERVER_GUID = "00000000-0000-4000-8000-000000000000";
const std::string RESELLER_GUID = "reseller-guid-r1";
const std::string CLIENT_GUID = "client-guid-c1";
const std::string DOMAIN_GUID = "domain-guid-d1";

// One exported dump handed to the utility, and what it becomes once imported.
struct Exported {
  std::string archive;  // file name in the incoming storage
  std::string type, id, guid, label, owner, ownerType, size, description;
  bool gzip = false;
  int parts = 1;

  std::string Dir() const {
    if (type == "server") return "";
    return (type == "reseller" ? "resellers/" : type == "client" ? "clients/" : "domains/") + id + "/";
  }
  std::string Stem() const { return "backup_info_" + label; }
  std::string Descriptor() const { return Dir() + Stem() + ".xml"; }
  std::string Content() const { return "backup_" + (id.empty() ? std::string("server") : id) + "_" + label + ".tgz"; }
  std::string Sidecar() const { return Dir() + ".discovered/" + Stem() + "/"; }
  std::string ObjectId() const { return id.empty() ? "0" : id; }
  std::string Index() const { return ".discovered/" + guid + "_" + ObjectId(); }
  std::string Status(const std::string& word) const { return Sidecar() + "status_" + word; }
  // The dump's files in the repository, without the directories above them.
  Words Files() const {
    Words files{Descriptor(), Dir() + Content(), Sidecar()};
    for (const std::string& item : {"GUID_" + guid, "objectid_" + ObjectId(), "owner_" + owner,
                                    "ownertype_" + ownerType, "size_" + size}) {
      files.push_back(Sidecar() + item);
    }
    return files;
  }
};

// The exports of one week: a server dump, a reseller's, four of one client
// (the oldest split into three parts, the newest made for another owner) and
// a domain's.
std::vector<Exported> WeekOfExports() {
  return {
      {"backup_1001011200.tar", "server", "", SERVER_GUID, "1001011200", SERVER_GUID, "server", "100", "server weekly"},
      {"backup_1001021200.tgz", "reseller", "r1", RESELLER_GUID, "1001021200", SERVER_GUID, "server", "200",
       "reseller r1", true},
      {"backup_1001031200.tar", "client", "c1", CLIENT_GUID, "1001031200", RESELLER_GUID, "reseller", "300",
       "client c1 monday", false, 3},
      {"backup_1001041200.tgz", "client", "c1", CLIENT_GUID, "1001041200", RESELLER_GUID, "reseller", "400",
       "client c1 tuesday", true},
      {"backup_1001051200.tar", "client", "c1", CLIENT_GUID, "1001051200", RESELLER_GUID, "reseller", "500",
       "client c1 wednesday"},
      {"backup_1001061200.tar", "client", "c1", CLIENT_GUID, "1001061200", "another-owner-guid", "server", "600",
       "client c1 thursday"},
      {"domain_1001071200.tgz", "domain", "d1", DOMAIN_GUID, "1001071200", CLIENT_GUID, "client", "700", "domain d1",
       true},
  };
}

// Writes the exports into `dir` with the fixture generator.
void WriteExports(const std::vector<Exported>& exports, const std::string& dir) {
  std::string json;
  for (const Exported& e : exports) {
    json += std::string(json.empty() ? "" : ", ") + "{\"name\": \"" + e.archive + "\", \"gzip\": " +
            (e.gzip ? "true" : "false") + ", \"parts\": " + std::to_string(e.parts) + ", \"dump\": {\"type\": \"" +
            e.type + "\", \"id\": \"" + e.id + "\", \"guid\": \"" + e.guid + "\", \"label\": \"" + e.label +
            "\", \"owner\": \"" + e.owner + "\", \"ownertype\": \"" + e.ownerType + "\", \"size\": " + e.size +
            ", \"description\": \"" + e.description + "\"}}";
  }
  dktest::MakeFixtureRepo(dir, "{\"exports\": [" + json + "]}");
}

// `tree` with `extra` entries and their directories, sorted.
Words With(const Words& tree, const Words& extra) {
  std::set<std::string> all(tree.begin(), tree.end());
  for (const std::string& path : extra) {
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      all.insert(path.substr(0, slash + 1));
    }
    all.insert(path);
  }
  return Words(all.begin(), all.end());
}

// The tree (as ListTree shows it) of a repository holding `dumps` as
// imported, with the index entries of their objects.
Words RepositoryTree(const std::vector<Exported>& dumps) {
  Words tree;
  for (const Exported& d : dumps) {
    tree = With(tree, d.Files());
    tree = With(tree, {d.Index()});
  }
  return tree;
}

// `tree` without the files of dump `d`, its verdicts included; the
// directories above them stay.
Words WithoutDump(Words tree, const Exported& d) {
  tree.erase(std::remove_if(tree.begin(), tree.end(),
                            [&](const std::string& path) {
                              return path == d.Descriptor() || path == d.Dir() + d.Content() ||
                                     path.compare(0, d.Sidecar().size(), d.Sidecar()) == 0;
                            }),
             tree.end());
  return tree;
}

// One `dump` element of a listing or an info document; the description of a
// signed descriptor is not read.
std::string FullDump(const Exported& d, const std::string& status, const std::string& indent = " ",
                     bool described = true) {
  return indent + "<dump name=\"" + d.Stem() + ".xml\" fullname=\"" + d.Descriptor() + "\" creation-date=\"" +
         d.label + "\" description=\"" + (described ? d.description : "") + "\" size=\"" + d.size +
         "\" owner-guid=\"" + d.owner + "\" owner-type=\"" + d.ownerType + "\">\n" + indent +
         " <dump-status dump-status=\"" + status + "\"/>\n" + indent + "</dump>\n";
}

std::string InfoDocument(const Exported& d, const std::string& status) { return DECLARATION + FullDump(d, status, ""); }

// The bytes of the exported file `base` followed by those of its parts.
std::string Joined(const std::string& base) {
  return dktest::ReadFile(base) + dktest::ReadFile(base + "1") + dktest::ReadFile(base + "2");
}

// The brief listing of the four .tar exports in `dir`: the split one once,
// with the size of all its parts.
Words TarExports(const std::string& dir) {
  Words dumps;
  for (const std::string label : {"1001011200", "1001031200", "1001051200", "1001061200"}) {
    const std::string name = "backup_" + label + ".tar";
    dumps.push_back(BriefDump(name, label, Joined(dir + "/" + name).size(), " "));
  }
  return Sorted(dumps);
}

// A sample installation, the week's exports and the runs of the binary, each
// in its own session directory like the backup manager's.
class Scenario : public ::testing::Test {
 protected:
  explicit Scenario(const std::string& dbPassword = "") : install(dbPassword), exports(WeekOfExports()) {}

  dktest::RunResult Run(std::vector<std::string> args) {
    args.push_back("--session-path=" + (work / ("session" + std::to_string(++runs))));
    return dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()},
                                      {"DUMP_STORAGE_PASSWD", "pw"},
                                      {"DUMP_STORAGE_PASSWD_SRC", "pw"},
                                      {"DUMP_STORAGE_PASSWD_DST", "pw"}});
  }
  // Runs a command that must succeed; returns what it printed.
  std::string Ok(const Words& args) {
    dktest::RunResult r = Run(args);
    EXPECT_EQ(0, r.code) << r.out;
    return r.out;
  }
  // Runs a command that must end with `code` after printing `out`.
  void Refused(int code, const std::string& out, const Words& args) {
    dktest::RunResult r = Run(args);
    EXPECT_EQ(code, r.code) << r.out;
    EXPECT_EQ(out, r.out);
  }
  // The dump elements of the object's listing, sorted.
  Words List(const std::string& type, const std::string& guid, const Words& extra = {}) {
    Words args{"--get-dump-list", "--type", type, "--guid", guid};
    args.insert(args.end(), extra.begin(), extra.end());
    return ListedDumps(Ok(args));
  }
  Words Repo() const { return dktest::ListTree(install.dumps()); }
  const Exported& E(const std::string& label) const {
    return *std::find_if(exports.begin(), exports.end(), [&](const Exported& e) { return e.label == label; });
  }

  dktest::SampleInstallation install;
  dktest::TempDir work;
  std::vector<Exported> exports;
  int runs = 0;
};

// One chain per storage kind: the repository and the exports in local
// directories, or in an FTP server's directory. An FTP storage takes the
// commands as far as they go: the listing of structured dumps works on the
// local storage only, so the FTP repository is checked in the server's
// directory instead.
class Chain : public Scenario, public ::testing::WithParamInterface<bool> {
 protected:
  bool Ftp() const { return GetParam(); }
  std::string Url(const std::string& path) const {
    return "ftp://dk@127.0.0.1:" + std::to_string(server.port()) + path;
  }
  // Where the repository and the exports lie on disk.
  std::string RepoDir() const { return Ftp() ? server.root() + "/repo" : install.dumps(); }
  std::string InDir() const { return Ftp() ? server.root() + "/incoming" : incoming.path(); }
  // The exports' storage, or one of its files, as the commands name it.
  std::string In(const std::string& name = "") const {
    return (Ftp() ? Url("/incoming") : "local:" + incoming.path()) + (name.empty() ? "" : "/" + name);
  }
  // `args` with the repository's storage.
  Words S(Words args) const {
    if (Ftp()) args.insert(args.end(), {"--dump-storage", Url("/repo")});
    return args;
  }
  Words Repo() const { return dktest::ListTree(RepoDir()); }

  dktest::FtpServer server{"normal", {{"dk", "pw"}}};
  dktest::TempDir incoming, joined;
};

TEST_P(Chain, FromImportToDeletion) {
  const Exported &server = E("1001011200"), &reseller = E("1001021200"), &monday = E("1001031200"),
                 &tuesday = E("1001041200"), &wednesday = E("1001051200"), &thursday = E("1001061200"),
                 &domain = E("1001071200");
  WriteExports(exports, InDir());
  dktest::Shell("mkdir -p '" + RepoDir() + "'");

  // Import: every dump lands in its object's directory, split and gzip
  // archives alike. The first dump of an object makes the directory; later
  // ones merge their sidecars into the object's.
  for (const Exported& e : exports) {
    EXPECT_EQ(e.Descriptor() + "\n", Ok(S({"--import-file-as-dump", "--dump-file-specification", In(e.archive)})));
  }
  Words tree = RepositoryTree(exports);
  ASSERT_EQ(tree, Repo());
  EXPECT_EQ("content of backup_c1_1001031200.tgz\n",
            dktest::ReadFile(RepoDir() + "/clients/c1/backup_c1_1001031200.tgz").substr(0, 36));
  // A second import of the same export is refused and changes nothing.
  Refused(111, monday.Descriptor() + "\n",
          S({"--import-file-as-dump", "--use-ftp-passive-mode", "--dump-file-specification", In(monday.archive)}));
  EXPECT_EQ(tree, Repo());

  // Reports. Tuesday's descriptor is unsigned, so the signature check fails,
  // and that verdict answers every later query, with or without
  // --check-sign. The FTP storage cannot measure content files, so there the
  // report fails after the signature check, whose verdict stays recorded.
  auto info = [&](const Exported& d, bool checkSign) {
    Words args = S({"--get-dump-info", "--dump-file-specification", d.Descriptor()});
    if (checkSign) args.push_back("--check-sign");
    return args;
  };
  if (Ftp()) {
    Refused(1, "Transport error: tRepositoryFtp::GetFileSize not implemented\n", info(tuesday, true));
  } else {
    EXPECT_EQ(InfoDocument(tuesday, "SIGN-ERROR"), Ok(info(tuesday, true)));
  }
  EXPECT_EQ(InfoDocument(tuesday, "SIGN-ERROR"), Ok(info(tuesday, false)));
  tree = With(tree, {tuesday.Status("SIGN-ERROR")});
  EXPECT_EQ(tree, Repo());

  if (!Ftp()) {
    // Monday's descriptor, signed in place by the panel's utility, verifies.
    // Wednesday's is reported without the check first: OK is recorded, and
    // --check-sign afterwards answers from that record.
    const std::string signedPath = RepoDir() + "/" + monday.Descriptor();
    dktest::Shell("'" + install.productRoot() + "/admin/sbin/backup_sign' sign '" + signedPath + "' > '" +
                  signedPath + ".signed' && mv '" + signedPath + ".signed' '" + signedPath + "'");
    EXPECT_EQ(DECLARATION + FullDump(monday, "OK", "", false), Ok(info(monday, true)));
    EXPECT_EQ(InfoDocument(wednesday, "OK"), Ok(info(wednesday, false)));
    EXPECT_EQ(InfoDocument(wednesday, "OK"), Ok(info(wednesday, true)));

    // Listings through the index: each object sees its own dumps, with the
    // verdicts recorded above and new ones for the rest.
    EXPECT_EQ(Words{FullDump(server, "OK")}, List("server", SERVER_GUID));
    EXPECT_EQ(Words{FullDump(reseller, "OK")}, List("reseller", RESELLER_GUID));
    const Words clientDumps = Sorted({FullDump(monday, "OK", " ", false), FullDump(tuesday, "SIGN-ERROR"),
                                      FullDump(wednesday, "OK"), FullDump(thursday, "OK")});
    EXPECT_EQ(clientDumps, List("client", CLIENT_GUID));
    EXPECT_EQ(Words{FullDump(domain, "OK")}, List("domain", DOMAIN_GUID));
    for (const Exported& e : exports) tree = With(tree, {e.Status(&e == &tuesday ? "SIGN-ERROR" : "OK")});
    EXPECT_EQ(tree, Repo());

    // Without the index only the object name given on the command line finds
    // the dumps; the server needs neither.
    for (const Exported& e : exports) {
      dktest::Shell("rm -f '" + RepoDir() + "/" + e.Index() + "'");
      tree.erase(std::remove(tree.begin(), tree.end(), e.Index()), tree.end());
    }
    EXPECT_EQ(Words{}, List("client", CLIENT_GUID));
    EXPECT_EQ(clientDumps, List("client", CLIENT_GUID, {"--name", "c1"}));
    EXPECT_EQ(Words{FullDump(server, "OK")}, List("server", SERVER_GUID));
    EXPECT_EQ(tree, Repo());
  }

  // The exported files, the split one listed once with the size of all its
  // parts, and validated whole.
  const std::string mondayBytes = Joined(InDir() + "/" + monday.archive);
  EXPECT_EQ(TarExports(InDir()),
            ListedDumps(Ok({"--get-ftp-dump-list", "--dump-storage", In(), "--mask", "backup_.*\\.tar"})));
  EXPECT_EQ(DECLARATION + BriefDump(monday.archive, monday.label, mondayBytes.size(), ""),
            Ok({"--get-ftp-dump-info", "--dump-storage", In(), "--dump-file-specification", monday.archive}));

  // Join the split export into one local file: the same archive, whose
  // import finds the dump already there.
  EXPECT_EQ("", Ok({"--export-file-as-file", "--file-from", In(monday.archive), "--file-to",
                    "local:" + (joined / monday.archive)}));
  EXPECT_EQ(mondayBytes, dktest::ReadFile(joined / monday.archive));
  EXPECT_EQ(Words{monday.archive}, dktest::ListTree(joined.path()));
  Refused(111, monday.Descriptor() + "\n",
          S({"--import-file-as-dump", "--dump-file-specification", joined / monday.archive}));
  EXPECT_EQ(tree, Repo());

  // Structured rotation keeps the newest valid dump of the reseller's series:
  // Monday's goes, Tuesday's failed verdict keeps it out of the count, and
  // Thursday's belongs to another owner.
  EXPECT_EQ("", Ok(S({"--rotate-dump", "--storage-structured", "--guid", RESELLER_GUID, "--dump-specification",
                      wednesday.Descriptor(), "--dump-rotation", "1"})));
  tree = WithoutDump(tree, monday);
  EXPECT_EQ(tree, Repo());

  // File rotation of the exports keeps the two newest .tar exports; the
  // split one goes with all its parts, the gzip series is another one.
  EXPECT_EQ("", Ok({"--rotate-dump", "--dump-storage", In(), "--guid", RESELLER_GUID, "--dump-specification",
                    thursday.archive, "--dump-rotation", "2"}));
  EXPECT_EQ(Sorted({reseller.archive, tuesday.archive, wednesday.archive, thursday.archive, domain.archive}),
            dktest::ListTree(InDir()));

  // Deleting Tuesday's dump leaves its neighbours and the object directory.
  // The server's dump lies at the root; its deletion walks the whole tree
  // and takes only the files of its own label.
  for (const Exported* d : {&tuesday, &server}) {
    EXPECT_EQ("", Ok(S({"--delete-dump", "--dump-specification", d->Descriptor()})));
    tree = WithoutDump(tree, *d);
    EXPECT_EQ(tree, Repo());
  }
  if (!Ftp()) {
    EXPECT_EQ(Sorted({FullDump(wednesday, "OK"), FullDump(thursday, "OK")}),
              List("client", CLIENT_GUID, {"--name", "c1"}));
    EXPECT_EQ(Words{}, List("server", SERVER_GUID));
  }

  // Exported dumps are deleted from their storages, a second time not at all.
  const Words del = {"--delete-exported-dump", "--dump-storage", In(), "--dump-file-specification", reseller.archive};
  EXPECT_EQ("", Ok(del));
  EXPECT_EQ("", Ok({"--delete-exported-dump", "--dump-storage", joined.path(), "--dump-file-specification",
                    monday.archive}));
  EXPECT_EQ(Sorted({tuesday.archive, wednesday.archive, thursday.archive, domain.archive}), dktest::ListTree(InDir()));
  EXPECT_EQ(Words{}, dktest::ListTree(joined.path()));
  Refused(151, "Repository error: file " + reseller.archive + " not exists\n", del);
  EXPECT_EQ(tree, Repo());
  EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
}

INSTANTIATE_TEST_SUITE_P(Storage, Chain, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Ftp" : "Local"; });

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
  std::vector<Exported> named = {E("1001021200"), E("1001051200"), E("1001071200")};
  named[0].id = "reseller-7";
  named[1].id = "client-login-12";
  named[2].id = "example-33.test";
  dktest::TempDir incoming;
  WriteExports(named, incoming.path());
  Words tree;
  for (const Exported& e : named) {
    EXPECT_EQ(e.Descriptor() + "\n", Ok({"--import-file-as-dump", "--dump-file-specification", incoming / e.archive}));
    tree = With(tree, e.Files());
    tree = With(tree, {e.Status("OK")});
  }
  dktest::Shell("rm -r '" + install.dumps() + "/.discovered'");

  auto list = [&](const std::string& type, const std::string& guid, const std::string& id) {
    return List(type, guid, {"--id", id});
  };
  EXPECT_EQ(Words{FullDump(named[0], "OK")}, list("reseller", RESELLER_GUID, "7"));
  EXPECT_EQ(Words{FullDump(named[1], "OK")}, list("client", CLIENT_GUID, "12"));
  EXPECT_EQ(Words{FullDump(named[2], "OK")}, list("domain", DOMAIN_GUID, "33"));
  // An id the database does not know, or the id of another object, finds nothing.
  EXPECT_EQ(Words{}, list("client", CLIENT_GUID, "999"));
  EXPECT_EQ(Words{}, list("client", CLIENT_GUID, "7"));
  // The id takes the place of the name.
  EXPECT_EQ(Words{}, List("client", CLIENT_GUID, {"--id", "7", "--name", "client-login-12"}));
  EXPECT_EQ(tree, Repo());
}

}  // namespace
