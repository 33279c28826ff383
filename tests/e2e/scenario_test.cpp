// Command chains as the backup manager runs them on one storage, local or FTP:
// after every run the storage holds exactly what the next run builds on.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

namespace {

using dktest::ListTree;
using dktest::Sorted;
using Words = std::vector<std::string>;

const std::string SERVER_GUID = "00000000-0000-4000-8000-000000000000", RESELLER_GUID = "reseller-guid-r1",
                  CLIENT_GUID = "client-guid-c1", DOMAIN_GUID = "domain-guid-d1";

// `tree` with `extra` entries and their directories, sorted.
Words With(const Words& tree, const Words& extra) {
  std::set<std::string> all(tree.begin(), tree.end());
  for (const std::string& path : extra) {
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
      all.insert(path.substr(0, slash + 1));
    all.insert(path);
  }
  return Words(all.begin(), all.end());
}

// One exported dump handed to the utility, and what it becomes once imported.
struct Exported {
  std::string type, id, guid, label, owner, ownerType, size, description;
  bool gzip = false;
  int parts = 1;

  std::string Archive() const { return "backup_" + label + (gzip ? ".tgz" : ".tar"); }
  std::string Dir() const { return type == "server" ? "" : type + "s/" + id + "/"; }
  std::string ObjectId() const { return id.empty() ? "0" : id; }
  std::string Descriptor() const { return Dir() + "backup_info_" + label + ".xml"; }
  std::string Content() const { return Dir() + "backup_" + (id.empty() ? "server" : id) + "_" + label + ".tgz"; }
  std::string Sidecar() const { return Dir() + ".discovered/backup_info_" + label + "/"; }
  std::string Index() const { return ".discovered/" + guid + "_" + ObjectId(); }
  // `tree` with its files and the index entry of its object.
  Words Added(const Words& tree) const {
    Words files{Descriptor(), Content(), Sidecar(), Index()};
    for (const std::string& item : {"GUID_" + guid, "objectid_" + ObjectId(), "owner_" + owner,
                                    "ownertype_" + ownerType, "size_" + size})
      files.push_back(Sidecar() + item);
    return With(tree, files);
  }
  // `tree` without its files, verdicts included; the directories above them and the index stay.
  Words Gone(Words tree) const {
    auto own = [&](const std::string& p) { return p == Descriptor() || p == Content() || p.rfind(Sidecar(), 0) == 0; };
    tree.erase(std::remove_if(tree.begin(), tree.end(), own), tree.end());
    return tree;
  }
};

// The exports of one week: a server dump, a reseller's, four of one client
// (the oldest split into three parts, the newest made for another owner) and
// a domain's. The objects bear the names the panel database has for reseller
// 7, client 12 and domain 33.
const std::vector<Exported> WEEK = {
    {"server", "", SERVER_GUID, "1001011200", SERVER_GUID, "server", "100", "server weekly"},
    {"reseller", "reseller-7", RESELLER_GUID, "1001021200", SERVER_GUID, "server", "200", "reseller r1", true},
    {"client", "client-login-12", CLIENT_GUID, "1001031200", RESELLER_GUID, "reseller", "300", "monday", false, 3},
    {"client", "client-login-12", CLIENT_GUID, "1001041200", RESELLER_GUID, "reseller", "400", "tuesday", true},
    {"client", "client-login-12", CLIENT_GUID, "1001051200", RESELLER_GUID, "reseller", "500", "wednesday"},
    {"client", "client-login-12", CLIENT_GUID, "1001061200", "another-owner-guid", "server", "600", "thursday"},
    {"domain", "example-33.test", DOMAIN_GUID, "1001071200", CLIENT_GUID, "client", "700", "domain d1", true},
};

// One `dump` element of a listing (indent " ") or of an info document
// (indent ""); the description of a signed descriptor is not read.
std::string FullDump(const Exported& d, const std::string& status, const std::string& indent = " ",
                     bool described = true) {
  return indent + "<dump name=\"backup_info_" + d.label + ".xml\" fullname=\"" + d.Descriptor() +
         "\" creation-date=\"" + d.label + "\" description=\"" + (described ? d.description : "") + "\" size=\"" +
         d.size + "\" owner-guid=\"" + d.owner + "\" owner-type=\"" + d.ownerType + "\">\n" + indent +
         " <dump-status dump-status=\"" + status + "\"/>\n" + indent + "</dump>\n";
}

// The week's exports and the runs of the binary, each in its own session
// directory; the local chain also asks the panel database (MariaDB).
class Chain : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!Ftp() && dktest::MysqlSocket().empty()) GTEST_FAIL() << "no test MariaDB server";
    std::string json;
    for (const Exported& e : WEEK) {
      json += std::string(json.empty() ? "" : ", ") + "{\"name\": \"" + e.Archive() + "\", \"gzip\": " +
              (e.gzip ? "true" : "false") + ", \"parts\": " + std::to_string(e.parts) + ", \"dump\": {\"type\": \"" +
              e.type + "\", \"id\": \"" + e.id + "\", \"guid\": \"" + e.guid + "\", \"label\": \"" + e.label +
              "\", \"owner\": \"" + e.owner + "\", \"ownertype\": \"" + e.ownerType + "\", \"size\": " + e.size +
              ", \"description\": \"" + e.description + "\"}}";
    }
    dktest::MakeFixtureRepo(InDir(), "{\"exports\": [" + json + "]}");
    dktest::Shell("mkdir -p '" + RepoDir() + "'");
  }
  bool Ftp() const { return GetParam(); }
  std::string Url(const std::string& p) const { return "ftp://dk@127.0.0.1:" + std::to_string(server.port()) + p; }
  // Where the repository and the exports lie on disk; the exports' storage,
  // or one of its files, as the commands name it.
  std::string RepoDir() const { return Ftp() ? server.root() + "/repo" : install.dumps(); }
  std::string InDir() const { return Ftp() ? server.root() + "/incoming" : incoming.path(); }
  std::string In(const std::string& name = "") const {
    return (Ftp() ? Url("/incoming") : "local:" + incoming.path()) + (name.empty() ? "" : "/" + name);
  }
  // `args` on the repository's storage.
  Words S(Words args) const {
    if (Ftp()) args.insert(args.end(), {"--dump-storage", Url("/repo")});
    return args;
  }
  // Runs a command that must end with `code`; returns what it printed.
  std::string Run(Words args, int code = 0) {
    args.push_back("--session-path=" + (work / ("session" + std::to_string(++runs))));
    const dktest::RunResult r = dktest::RunDumpkeep(
        args, {{"OVR_CONF_DIR", install.confDir()}, {"DUMP_STORAGE_PASSWD", "pw"}, {"DUMP_STORAGE_PASSWD_SRC", "pw"}});
    EXPECT_EQ(code, r.code) << r.out;
    return r.out;
  }
  // The dump elements of the object's listing, sorted.
  Words List(const std::string& type, const std::string& guid, Words extra = {}) {
    extra.insert(extra.begin(), {"--get-dump-list", "--type", type, "--guid", guid});
    return dktest::ListedDumps(Run(extra));
  }
  Words Repo() const { return ListTree(RepoDir()); }

  dktest::SampleInstallation install{dktest::MysqlAdminPassword()};
  dktest::FtpServer server{"normal", {{"dk", "pw"}}};
  dktest::TempDir work, incoming, joined;
  int runs = 0;
};

TEST_P(Chain, FromImportToDeletion) {
  const Exported &server = WEEK[0], &reseller = WEEK[1], &monday = WEEK[2], &tuesday = WEEK[3],
                 &wednesday = WEEK[4], &thursday = WEEK[5], &domain = WEEK[6];
  // Import: every dump lands in its object's directory, split and gzip
  // archives alike; later dumps of an object merge into its directory.
  Words tree;
  for (const Exported& e : WEEK) {
    EXPECT_EQ(e.Descriptor() + "\n", Run(S({"--import-file-as-dump", "--dump-file-specification", In(e.Archive())})));
    tree = e.Added(tree);
  }
  ASSERT_EQ(tree, Repo());
  // A second import of an export is refused and changes nothing.
  EXPECT_EQ(monday.Descriptor() + "\n", Run(S({"--import-file-as-dump", "--use-ftp-passive-mode",
                                                "--dump-file-specification", In(monday.Archive())}), 111));
  EXPECT_EQ(tree, Repo());

  // Tuesday's descriptor is unsigned: the signature check fails, and that
  // verdict answers every later query, with or without --check-sign. The FTP
  // storage cannot measure content files, so there the report fails after
  // the signature check, whose verdict stays recorded.
  auto info = [&](const Exported& d, Words more) {
    more.insert(more.end(), {"--get-dump-info", "--dump-file-specification", d.Descriptor()});
    return S(more);
  };
  const std::string signError = dktest::DECLARATION + FullDump(tuesday, "SIGN-ERROR", "");
  EXPECT_EQ(Ftp() ? "Transport error: tRepositoryFtp::GetFileSize not implemented\n" : signError,
            Run(info(tuesday, {"--check-sign"}), Ftp() ? 1 : 0));
  EXPECT_EQ(signError, Run(info(tuesday, {})));
  tree = With(tree, {tuesday.Sidecar() + "status_SIGN-ERROR"});
  EXPECT_EQ(tree, Repo());

  if (!Ftp()) {
    // Monday's descriptor, signed in place by the panel's utility, verifies;
    // its description is not read.
    dktest::Shell("cd '" + RepoDir() + "' && '" + install.productRoot() + "/admin/sbin/backup_sign' sign " +
                  monday.Descriptor() + " > signed && mv signed " + monday.Descriptor());
    EXPECT_EQ(dktest::DECLARATION + FullDump(monday, "OK", "", false), Run(info(monday, {"--check-sign"})));

    // Listings through the index: each object sees its own dumps, with the
    // verdicts recorded above and new ones for the rest.
    for (const Exported* e : {&server, &reseller, &domain})
      EXPECT_EQ(Words{FullDump(*e, "OK")}, List(e->type, e->guid));
    const Words clientDumps = Sorted({FullDump(monday, "OK", " ", false), FullDump(tuesday, "SIGN-ERROR"),
                                      FullDump(wednesday, "OK"), FullDump(thursday, "OK")});
    EXPECT_EQ(clientDumps, List("client", CLIENT_GUID));
    for (const Exported& e : WEEK)
      tree = With(tree, {e.Sidecar() + (&e == &tuesday ? "status_SIGN-ERROR" : "status_OK")});
    EXPECT_EQ(tree, Repo());

    // Without the index the object's name, or its id in the panel database,
    // finds its directory; an unknown id, another object's id or an id beside
    // a name (the id takes its place) finds nothing. The server needs neither.
    dktest::Shell("find '" + RepoDir() + "/.discovered' -maxdepth 1 -type f -delete");
    for (const Exported& e : WEEK) tree.erase(std::remove(tree.begin(), tree.end(), e.Index()), tree.end());
    EXPECT_EQ(Words{}, List("client", CLIENT_GUID));
    EXPECT_EQ(clientDumps, List("client", CLIENT_GUID, {"--name", "client-login-12"}));
    EXPECT_EQ(clientDumps, List("client", CLIENT_GUID, {"--id", "12"}));
    for (const Words& id : {Words{"--id", "999"}, Words{"--id", "7"}, Words{"--id", "7", "--name", "client-login-12"}})
      EXPECT_EQ(Words{}, List("client", CLIENT_GUID, id));
    EXPECT_EQ(Words{FullDump(server, "OK")}, List("server", SERVER_GUID));
    EXPECT_EQ(tree, Repo());
  }

  // The export a mask selects, split, is listed once with the size of all its
  // parts and validated whole; joined into one local file, it is the same archive.
  std::string mondayBytes;
  for (const char* part : {"", "1", "2"}) mondayBytes += dktest::ReadFile(InDir() + "/" + monday.Archive() + part);
  EXPECT_EQ(Words{dktest::BriefDump(monday.Archive(), monday.label, mondayBytes.size(), " ")},
            dktest::ListedDumps(Run({"--get-ftp-dump-list", "--dump-storage", In(), "--mask", "backup_.*3.*\\.tar"})));
  EXPECT_EQ("", Run({"--export-file-as-file", "--file-from", In(monday.Archive()), "--file-to",
                     "local:" + (joined / monday.Archive())}));
  EXPECT_EQ(Words{monday.Archive()}, ListTree(joined.path()));
  EXPECT_TRUE(mondayBytes == dktest::ReadFile(joined / monday.Archive()));

  // File rotation keeps the two newest .tar exports; the split one goes with
  // all its parts, the .tgz series is another one.
  EXPECT_EQ("", Run({"--rotate-dump", "--dump-storage", In(), "--guid", RESELLER_GUID, "--dump-specification",
                     thursday.Archive(), "--dump-rotation", "2"}));
  EXPECT_EQ(Sorted({reseller.Archive(), tuesday.Archive(), wednesday.Archive(), thursday.Archive(), domain.Archive()}),
            ListTree(InDir()));

  // Deleting Tuesday's dump leaves its neighbours and the object directory;
  // the server's dump lies at the root and takes only the files of its label.
  for (const Exported* d : {&tuesday, &server}) {
    EXPECT_EQ("", Run(S({"--delete-dump", "--dump-specification", d->Descriptor()})));
    tree = d->Gone(tree);
    EXPECT_EQ(tree, Repo());
  }
  // An exported dump is deleted from its storage, a second time not at all.
  const Words del = {"--delete-exported-dump", "--dump-storage", In(), "--dump-file-specification", reseller.Archive()};
  EXPECT_EQ("", Run(del));
  EXPECT_EQ(Sorted({tuesday.Archive(), wednesday.Archive(), thursday.Archive(), domain.Archive()}), ListTree(InDir()));
  EXPECT_EQ("Repository error: file " + reseller.Archive() + " not exists\n", Run(del, 151));
  EXPECT_EQ(tree, Repo());
  EXPECT_EQ(Words{}, ListTree(install.tmp()));
}

INSTANTIATE_TEST_SUITE_P(Storage, Chain, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Ftp" : "Local"; });

}  // namespace
