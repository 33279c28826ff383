// The built binary against loopback FTP servers: every command that takes a
// storage, in active and passive mode, with awkward credentials, and the
// exit code, message and left-overs of each kind of server failure.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
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

const std::string CLIENT_GUID = "client-guid-c1";
const std::string OWNER_GUID = "reseller-guid-r1";

// The fixture generator's description of a client dump labelled `label`.
std::string ClientDump(const std::string& label) {
  return "{\"type\": \"client\", \"id\": \"c1\", \"guid\": \"" + CLIENT_GUID + "\", \"label\": \"" + label +
         "\", \"owner\": \"" + OWNER_GUID + "\", \"ownertype\": \"reseller\", \"size\": 100, \"description\": \"d\"}";
}

// One exported archive of the client's dump `label` for the generator.
std::string Export(const std::string& name, const std::string& label, int parts = 1, bool gzip = false) {
  return "{\"name\": \"" + name + "\", \"gzip\": " + (gzip ? "true" : "false") +
         ", \"parts\": " + std::to_string(parts) + ", \"dump\": " + ClientDump(label) + "}";
}

void WriteExports(const std::string& dir, const std::vector<std::string>& exports) {
  std::string json = "{\"exports\": [";
  for (size_t i = 0; i < exports.size(); ++i) json += (i ? ", " : "") + exports[i];
  dktest::MakeFixtureRepo(dir, json + "]}");
}

size_t Size(const std::string& path) { return dktest::ReadFile(path).size(); }

// Bytes that no text conversion or truncation would leave intact.
std::string Noise(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(gen() & 0xFF);
  return data;
}

int CountCommands(const std::vector<std::string>& commands, const std::string& verb) {
  return static_cast<int>(std::count_if(commands.begin(), commands.end(),
                                        [&](const std::string& c) { return c.compare(0, verb.size(), verb) == 0; }));
}

class FtpCommands : public ::testing::Test {
 protected:
  FtpCommands() : server("normal", {{"dk", "pw"}}) {}

  dktest::RunResult Run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.push_back("--session-path=" + (work / "session"));
    env["OVR_CONF_DIR"] = install.confDir();
    return dktest::RunDumpkeep(args, env);
  }
  // Runs with the password of the test user in every password variable.
  dktest::RunResult RunFtp(const std::vector<std::string>& args) {
    return Run(args, {{"DUMP_STORAGE_PASSWD", "pw"}, {"DUMP_STORAGE_PASSWD_SRC", "pw"}, {"DUMP_STORAGE_PASSWD_DST", "pw"}});
  }
  std::string Url(const std::string& path, const dktest::FtpServer& on) const {
    return "ftp://dk@127.0.0.1:" + std::to_string(on.port()) + path;
  }
  std::string Url(const std::string& path) const { return Url(path, server); }
  std::string Remote(const std::string& path) const { return server.root() + path; }
  // Nothing of a run may stay in the utility's temporary directory.
  void ExpectNoLeftovers() const { EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp())); }

  dktest::SampleInstallation install;
  dktest::TempDir work;
  dktest::FtpServer server;
};

TEST_F(FtpCommands, ListsAndDescribesExportsInActiveAndPassiveMode) {
  WriteExports(Remote("/incoming"), {Export("backup_1001011200.tar", "1001011200"),
                                     Export("backup_1001021200.tgz", "1001021200", 1, true),
                                     Export("backup_1001031200.tar", "1001031200", 3)});
  dktest::WriteFile(Remote("/incoming/notes.txt"), "not a dump\n");
  const size_t split = Size(Remote("/incoming/backup_1001031200.tar")) + Size(Remote("/incoming/backup_1001031200.tar1")) +
                       Size(Remote("/incoming/backup_1001031200.tar2"));
  const std::vector<std::string> all =
      Sorted({BriefDump("backup_1001011200.tar", "1001011200", Size(Remote("/incoming/backup_1001011200.tar")), " "),
              BriefDump("backup_1001021200.tgz", "1001021200", Size(Remote("/incoming/backup_1001021200.tgz")), " "),
              BriefDump("backup_1001031200.tar", "1001031200", split, " ")});

  dktest::RunResult active = RunFtp({"--get-ftp-dump-list", "--dump-storage", Url("/incoming")});
  ASSERT_EQ(0, active.code) << active.out;
  EXPECT_EQ(all, ListedDumps(active.out));
  const std::vector<std::string> afterActive = server.Commands();
  EXPECT_GT(CountCommands(afterActive, "PORT"), 0);
  EXPECT_EQ(0, CountCommands(afterActive, "PASV") + CountCommands(afterActive, "EPSV"));

  dktest::RunResult passive =
      RunFtp({"--get-ftp-dump-list", "--use-ftp-passive-mode", "--dump-storage", Url("/incoming/")});
  ASSERT_EQ(0, passive.code) << passive.out;
  EXPECT_EQ(all, ListedDumps(passive.out));
  std::vector<std::string> afterPassive = server.Commands();
  afterPassive.erase(afterPassive.begin(), afterPassive.begin() + afterActive.size());
  EXPECT_GT(CountCommands(afterPassive, "PASV"), 0);
  EXPECT_EQ(0, CountCommands(afterPassive, "PORT") + CountCommands(afterPassive, "EPSV"));

  dktest::RunResult masked =
      RunFtp({"--get-ftp-dump-list", "--dump-storage", Url("/incoming"), "--mask", "backup_.*\\.tar"});
  ASSERT_EQ(0, masked.code) << masked.out;
  EXPECT_EQ(Sorted({all[0], all[2]}), ListedDumps(masked.out));
  dktest::RunResult none = RunFtp({"--get-ftp-dump-list", "--dump-storage", Url("/incoming"), "--mask", "nothing.*"});
  ASSERT_EQ(0, none.code) << none.out;
  EXPECT_EQ(std::vector<std::string>{}, ListedDumps(none.out));

  for (bool passiveMode : {false, true}) {
    std::vector<std::string> args = {"--get-ftp-dump-info", "--dump-storage", Url("/incoming"),
                                      "--dump-file-specification", "backup_1001031200.tar"};
    if (passiveMode) args.push_back("--use-ftp-passive-mode");
    dktest::RunResult info = RunFtp(args);
    ASSERT_EQ(0, info.code) << info.out;
    EXPECT_EQ(DECLARATION + BriefDump("backup_1001031200.tar", "1001031200", split, ""), info.out);
  }
  // Reading the server leaves it as it was and nothing behind locally.
  EXPECT_EQ(Sorted({"backup_1001011200.tar", "backup_1001021200.tgz", "backup_1001031200.tar", "backup_1001031200.tar1",
                    "backup_1001031200.tar2", "notes.txt"}),
            dktest::ListTree(Remote("/incoming")));
  ExpectNoLeftovers();
}

// A server whose listing adds forged lines to the real ones: names that
// lead elsewhere are left out, a size no counter holds does not turn the
// line into some other name, and names holding markup, control bytes or
// bytes that are no UTF-8 still leave a document that parses.
TEST_F(FtpCommands, ForgedListingLinesLeaveAParsableListOfPlainNames) {
  dktest::FtpServer hostile("hostile-list", {{"dk", "pw"}});
  WriteExports(hostile.root() + "/incoming", {Export("backup_1001011200.tar", "1001011200")});
  dktest::RunResult r = RunFtp({"--get-ftp-dump-list", "--dump-storage", Url("/incoming", hostile)});
  ASSERT_EQ(0, r.code) << r.out;

  xmlDocPtr doc = xmlReadMemory(r.out.data(), static_cast<int>(r.out.size()), "list.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  EXPECT_NE(nullptr, doc) << r.out;
  if (doc) xmlFreeDoc(doc);

  const std::string real = BriefDump("backup_1001011200.tar", "1001011200",
                                     Size(hostile.root() + "/incoming/backup_1001011200.tar"), " ");
  EXPECT_NE(std::string::npos, r.out.find(real)) << r.out;
  for (const char* absent : {"\"up_", "/up_", "side_", "abs_", "slash_", "huge_", "owner", "name=\"..\"", "name=\".\""}) {
    EXPECT_EQ(std::string::npos, r.out.find(absent)) << absent << "\n" << r.out;
  }
  EXPECT_NE(std::string::npos, r.out.find("name=\"amp&amp;&lt;b&gt;&quot;q'_1001011200.tar\"")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("name=\"ctl\xEF\xBF\xBD\xEF\xBF\xBD_1001011200.tar\"")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("name=\"bad\xEF\xBF\xBD\xEF\xBF\xBD_1001011200.tar\"")) << r.out;
  ExpectNoLeftovers();
}

TEST_F(FtpCommands, CredentialsWithUrlCharactersReachTheServerIntact) {
  // A login without ':' travels beside the URL, one with ':' inside it, escaped.
  const std::vector<dktest::FtpUser> users = {{"op@site/x%y\\z", "p:w@d/%\\q"}, {"a:b@c/d%e\\f", ":@/%\\ %41"}};
  dktest::FtpServer odd("normal", users);
  WriteExports(odd.root() + "/in", {Export("backup_1001011200.tar", "1001011200")});
  const std::string expected = BriefDump("backup_1001011200.tar", "1001011200", Size(odd.root() + "/in/backup_1001011200.tar"), " ");
  for (const dktest::FtpUser& user : users) {
    const std::string url = "ftp://" + user.login + "@127.0.0.1:" + std::to_string(odd.port()) + "/in";
    for (bool passive : {false, true}) {
      std::vector<std::string> args = {"--get-ftp-dump-list", "--dump-storage", url};
      if (passive) args.push_back("--use-ftp-passive-mode");
      dktest::RunResult r = Run(args, {{"DUMP_STORAGE_PASSWD", user.password}});
      ASSERT_EQ(0, r.code) << user.login << ": " << r.out;
      EXPECT_EQ(std::vector<std::string>{expected}, ListedDumps(r.out)) << user.login;
    }
    const std::vector<std::string> commands = odd.Commands();
    EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), "USER " + user.login)) << user.login;

    // The same login with the other user's password is refused.
    dktest::RunResult wrong =
        Run({"--get-ftp-dump-list", "--dump-storage", url}, {{"DUMP_STORAGE_PASSWD", user.password + "x"}});
    EXPECT_EQ(121, wrong.code) << wrong.out;
    EXPECT_EQ(0u, wrong.out.find("Transport error: unable to list directory: Curl error: ")) << wrong.out;
  }

  // The source and destination passwords of a join are taken separately.
  dktest::WriteFile(work / "src/part.tar", "head");
  dktest::WriteFile(work / "src/part.tar1", "tail");
  const std::string dst = "ftp://" + users[1].login + "@127.0.0.1:" + std::to_string(odd.port()) + "/in/joined.tar";
  dktest::RunResult join = Run({"--export-file-as-file", "--file-from", work / "src/part.tar", "--file-to", dst},
                               {{"DUMP_STORAGE_PASSWD_SRC", "unused"}, {"DUMP_STORAGE_PASSWD_DST", users[1].password}});
  ASSERT_EQ(0, join.code) << join.out;
  EXPECT_EQ("headtail", dktest::ReadFile(odd.root() + "/in/joined.tar"));
  ExpectNoLeftovers();
}

TEST_F(FtpCommands, ImportsFromTheServerIntoTheLocalRepository) {
  WriteExports(Remote("/incoming"), {Export("backup_1001011200.tgz", "1001011200", 1, true),
                                     Export("backup_1001021200.tar", "1001021200", 3)});
  const std::vector<std::string> served = dktest::ListTree(Remote("/incoming"));
  dktest::RunResult first = RunFtp({"--import-file-as-dump", "--dump-file-specification", Url("/incoming/backup_1001011200.tgz")});
  ASSERT_EQ(0, first.code) << first.out;
  EXPECT_EQ("clients/c1/backup_info_1001011200.xml\n", first.out);
  dktest::RunResult split = RunFtp({"--import-file-as-dump", "--use-ftp-passive-mode", "--dump-file-specification",
                                    Url("/incoming/backup_1001021200.tar")});
  ASSERT_EQ(0, split.code) << split.out;
  EXPECT_EQ("clients/c1/backup_info_1001021200.xml\n", split.out);
  for (const char* label : {"1001011200", "1001021200"}) {
    EXPECT_TRUE(dktest::Exists(install.dumps() + "/clients/c1/backup_info_" + std::string(label) + ".xml")) << label;
    EXPECT_EQ(std::string("content of backup_c1_") + label + ".tgz\n",
              dktest::ReadFile(install.dumps() + "/clients/c1/backup_c1_" + label + ".tgz").substr(0, 36));
  }
  const std::vector<std::string> repo = dktest::ListTree(install.dumps());
  dktest::RunResult again = RunFtp({"--import-file-as-dump", "--dump-file-specification", Url("/incoming/backup_1001011200.tgz")});
  EXPECT_EQ(111, again.code) << again.out;
  EXPECT_EQ(repo, dktest::ListTree(install.dumps()));
  EXPECT_EQ(served, dktest::ListTree(Remote("/incoming")));
  ExpectNoLeftovers();
}

TEST_F(FtpCommands, ImportsIntoAnFtpStorageAndManagesItsDumps) {
  WriteExports(Remote("/incoming"), {Export("backup_1001011200.tgz", "1001011200", 1, true)});
  // The object's directory must exist on the storage (a known limit of an
  // import into a remote storage).
  dktest::Shell("mkdir -p '" + Remote("/repo/clients/c1") + "'");
  dktest::RunResult imported = RunFtp({"--import-file-as-dump", "--dump-storage", Url("/repo"), "--dump-file-specification",
                                       Url("/incoming/backup_1001011200.tgz")});
  ASSERT_EQ(0, imported.code) << imported.out;
  EXPECT_EQ("clients/c1/backup_info_1001011200.xml\n", imported.out);
  EXPECT_TRUE(dktest::Exists(Remote("/repo/clients/c1/backup_info_1001011200.xml")));
  EXPECT_EQ("content of backup_c1_1001011200.tgz\n",
            dktest::ReadFile(Remote("/repo/clients/c1/backup_c1_1001011200.tgz")).substr(0, 36));
  ExpectNoLeftovers();

  // The structured listing is of the local repository whatever the storage
  // option says; the server is not asked.
  const size_t asked = server.Commands().size();
  dktest::RunResult list = RunFtp({"--get-dump-list", "--type", "client", "--guid", CLIENT_GUID, "--dump-storage", Url("/repo")});
  ASSERT_EQ(0, list.code) << list.out;
  EXPECT_EQ(DECLARATION + "<dump-list/>\n", list.out);
  EXPECT_EQ(asked, server.Commands().size());

  dktest::RunResult del = RunFtp({"--delete-dump", "--dump-storage", Url("/repo"), "--dump-specification",
                                  "clients/c1/backup_info_1001011200.xml"});
  ASSERT_EQ(0, del.code) << del.out;
  EXPECT_FALSE(dktest::Exists(Remote("/repo/clients/c1/backup_info_1001011200.xml")));
  EXPECT_FALSE(dktest::Exists(Remote("/repo/clients/c1/backup_c1_1001011200.tgz")));
  EXPECT_FALSE(dktest::Exists(Remote("/repo/clients/c1/.discovered/backup_info_1001011200")));
  ExpectNoLeftovers();
}

TEST_F(FtpCommands, RotatesAndDeletesExportedDumps) {
  WriteExports(Remote("/out"), {Export("backup_1001011200.tar", "1001011200", 2),
                                Export("backup_1001021200.tar", "1001021200"),
                                Export("backup_1001031200.tar", "1001031200"),
                                Export("backup_1001041200.tar", "1001041200", 3)});
  dktest::RunResult rotate = RunFtp({"--rotate-dump", "--dump-storage", Url("/out"), "--guid", CLIENT_GUID,
                                     "--dump-specification", "backup_1001041200.tar", "--dump-rotation", "3"});
  ASSERT_EQ(0, rotate.code) << rotate.out;
  EXPECT_EQ(Sorted({"backup_1001021200.tar", "backup_1001031200.tar", "backup_1001041200.tar", "backup_1001041200.tar1",
                    "backup_1001041200.tar2"}),
            dktest::ListTree(Remote("/out")));

  dktest::RunResult del = RunFtp({"--delete-exported-dump", "--use-ftp-passive-mode", "--dump-storage", Url("/out"),
                                  "--dump-file-specification", "backup_1001041200.tar"});
  ASSERT_EQ(0, del.code) << del.out;
  EXPECT_EQ("", del.out);
  EXPECT_EQ(Sorted({"backup_1001021200.tar", "backup_1001031200.tar"}), dktest::ListTree(Remote("/out")));
  ExpectNoLeftovers();
}

TEST_F(FtpCommands, JoinsSplitExportsBetweenLocalAndServer) {
  // Parts big enough to take many blocks of a transfer, of bytes that a text
  // mode transfer would change.
  const std::string a = Noise(700000, 1), b = Noise(300001, 2), c = Noise(5, 3);
  dktest::WriteFile(work / "local/backup_1001011200.tar", a);
  dktest::WriteFile(work / "local/backup_1001011200.tar1", b);
  dktest::WriteFile(work / "local/backup_1001011200.tar2", c);
  dktest::Shell("mkdir -p '" + Remote("/up") + "'");

  dktest::RunResult up = RunFtp({"--export-file-as-file", "--file-from", work / "local/backup_1001011200.tar", "--file-to",
                                 Url("/up/joined.tar")});
  ASSERT_EQ(0, up.code) << up.out;
  EXPECT_TRUE(a + b + c == dktest::ReadFile(Remote("/up/joined.tar")));
  EXPECT_EQ(std::vector<std::string>{"joined.tar"}, dktest::ListTree(Remote("/up")));
  // A file of one part is uploaded as it is.
  dktest::WriteFile(work / "single/backup_1001021200.tar", b);
  dktest::RunResult single = RunFtp({"--export-file-as-file", "--file-from", work / "single/backup_1001021200.tar",
                                     "--file-to", Url("/up/single.tar")});
  ASSERT_EQ(0, single.code) << single.out;
  EXPECT_TRUE(b == dktest::ReadFile(Remote("/up/single.tar")));
  dktest::RunResult taken = RunFtp({"--export-file-as-file", "--file-from", work / "single/backup_1001021200.tar",
                                    "--file-to", Url("/up/joined.tar")});
  EXPECT_EQ(153, taken.code) << taken.out;
  dktest::Shell("rm '" + Remote("/up/single.tar") + "'");

  // A destination that exists is refused and keeps its content.
  dktest::RunResult again = RunFtp({"--export-file-as-file", "--file-from", work / "local/backup_1001011200.tar",
                                    "--file-to", Url("/up/joined.tar")});
  EXPECT_EQ(153, again.code) << again.out;
  EXPECT_EQ("Repository error: file joined.tar exists\n", again.out);
  EXPECT_TRUE(a + b + c == dktest::ReadFile(Remote("/up/joined.tar")));

  // Back from the server: the split parts there, and a whole file.
  dktest::Shell("cp '" + (work / "local") + "/'* '" + Remote("/up") + "/'");
  dktest::RunResult down = RunFtp({"--export-file-as-file", "--file-from", Url("/up/backup_1001011200.tar"), "--file-to",
                                   "local:" + (work / "back/split.tar")});
  ASSERT_EQ(0, down.code) << down.out;
  EXPECT_TRUE(a + b + c == dktest::ReadFile(work / "back/split.tar"));
  dktest::RunResult whole =
      RunFtp({"--export-file-as-file", "--file-from", Url("/up/joined.tar"), "--file-to", work / "back/whole.tar"});
  ASSERT_EQ(0, whole.code) << whole.out;
  EXPECT_TRUE(a + b + c == dktest::ReadFile(work / "back/whole.tar"));
  EXPECT_EQ(Sorted({"split.tar", "whole.tar"}), dktest::ListTree(work / "back"));

  // From one storage on a server to another, on the same server and on a
  // second one, in both modes: the parts are joined on the way.
  dktest::FtpServer other("normal", {{"dk", "pw"}});
  dktest::Shell("mkdir -p '" + Remote("/across") + "' '" + other.root() + "/across'");
  for (const char* mode : {"", "--use-ftp-passive-mode"}) {
    for (const dktest::FtpServer* to : {&server, &other}) {
      const std::string target = to->root() + "/across/joined.tar";
      dktest::Shell("rm -f '" + target + "'");
      std::vector<std::string> args = {"--export-file-as-file", "--file-from", Url("/up/backup_1001011200.tar"),
                                       "--file-to", Url("/across/joined.tar", *to)};
      if (*mode) args.push_back(mode);
      dktest::RunResult across = RunFtp(args);
      ASSERT_EQ(0, across.code) << mode << across.out;
      EXPECT_TRUE(a + b + c == dktest::ReadFile(target)) << mode;
    }
  }
  ExpectNoLeftovers();
}

// Server failures: the exit code and message of each kind, and nothing left
// behind in the temporary directory or at the destination.
class FtpFailures : public FtpCommands {
 protected:
  void ExpectFailure(const dktest::RunResult& r, int code, const std::string& message) {
    EXPECT_EQ(code, r.code) << r.out;
    EXPECT_EQ(0u, r.out.find(message)) << r.out;
    EXPECT_EQ(1u, std::count(r.out.begin(), r.out.end(), '\n')) << r.out;
    ExpectNoLeftovers();
    EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.dumps()));
    EXPECT_FALSE(dktest::Exists(work / "dst/out.tar"));
  }
  // A list, an info, an import into the local repository and a download join.
  std::vector<dktest::RunResult> Everything(const std::string& base) {
    return {RunFtp({"--get-ftp-dump-list", "--dump-storage", base + "/in"}),
            RunFtp({"--get-ftp-dump-info", "--dump-storage", base + "/in", "--dump-file-specification", "backup_1001011200.tar"}),
            RunFtp({"--import-file-as-dump", "--dump-file-specification", base + "/in/backup_1001011200.tar"}),
            RunFtp({"--export-file-as-file", "--file-from", base + "/in/backup_1001011200.tar", "--file-to",
                    work / "dst/out.tar"})};
  }
};

TEST_F(FtpFailures, LoginRefused) {
  dktest::FtpServer refusing("refuse-login", {{"dk", "pw"}});
  WriteExports(refusing.root() + "/in", {Export("backup_1001011200.tar", "1001011200")});
  for (const dktest::RunResult& r : Everything(Url("", refusing))) ExpectFailure(r, 121, "Transport error: ");
  dktest::RunResult list = RunFtp({"--get-ftp-dump-list", "--dump-storage", Url("/in", refusing)});
  EXPECT_EQ("Transport error: unable to list directory: Curl error: Login denied\n", list.out);
}

TEST_F(FtpFailures, HostDoesNotResolve) {
  for (const dktest::RunResult& r : Everything("ftp://dk@no-such-host.invalid")) {
    ExpectFailure(r, 124, "Transport error: ");
  }
}

TEST_F(FtpFailures, ConnectionRefused) {
  const std::string base = "ftp://dk@127.0.0.1:" + std::to_string(dktest::ClosedLocalPort());
  for (const dktest::RunResult& r : Everything(base)) ExpectFailure(r, 125, "Transport error: ");
}

TEST_F(FtpFailures, ServerThatStallsAndHangsUp) {
  dktest::FtpServer silent("hang-up");
  dktest::RunResult r = RunFtp({"--get-ftp-dump-list", "--dump-storage", Url("/in", silent)});
  ExpectFailure(r, 126, "Transport error: unable to list directory: Curl error: ");
  r = RunFtp({"--export-file-as-file", "--file-from", Url("/in/backup_1001011200.tar", silent), "--file-to",
              work / "dst/out.tar"});
  ExpectFailure(r, 126, "Transport error: ");
}

TEST_F(FtpFailures, MissingFilesAndDirectories) {
  // A missing file in a directory the server lists is the repository's
  // finding; a directory the server will not enter is refused access.
  dktest::Shell("mkdir -p '" + Remote("/in") + "'");
  std::vector<dktest::RunResult> missingFile = Everything(Url(""));
  EXPECT_EQ(0, missingFile[0].code) << missingFile[0].out;
  EXPECT_EQ(DECLARATION + "<dump-list/>\n", missingFile[0].out);
  ExpectFailure(missingFile[1], 151, "Repository error: File 'backup_1001011200.tar' not found\n");
  ExpectFailure(missingFile[2], 151, "Repository error: file 'backup_1001011200.tar' does not exists\n");
  ExpectFailure(missingFile[3], 151, "Repository error: file 'backup_1001011200.tar' does not exists\n");
  dktest::RunResult del = RunFtp({"--delete-exported-dump", "--dump-storage", Url("/in"), "--dump-file-specification",
                                  "backup_1001011200.tar"});
  ExpectFailure(del, 151, "Repository error: file backup_1001011200.tar not exists\n");

  dktest::Shell("rmdir '" + Remote("/in") + "'");
  for (const dktest::RunResult& r : Everything(Url(""))) {
    ExpectFailure(r, 121, "Transport error: unable to list directory: Curl error: Access denied to remote resource\n");
  }
}

// Time-outs bound silence, never length (test time-outs of 2 and 3 s): a
// server that never greets, a download and an upload that stop moving each
// end with 126 soon after it, leaving nothing behind; transfers that crawl
// but keep moving outlast it more than twice over.
TEST_F(FtpFailures, SilenceEndsAtTheTimeOutWhileSlowTransfersGoOn) {
  long timeout = 2;
  auto timed = [&](std::vector<std::string> args, double& seconds) {
    const auto start = std::chrono::steady_clock::now();
    dktest::RunResult r = Run(args, {{"DUMPKEEP_TEST_FTP_TIMEOUT", std::to_string(timeout)},
                                     {"DUMP_STORAGE_PASSWD", "pw"},
                                     {"DUMP_STORAGE_PASSWD_SRC", "pw"},
                                     {"DUMP_STORAGE_PASSWD_DST", "pw"}});
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
  };
  dktest::FtpServer mute("stall");
  dktest::FtpServer stallingDown("stall-download", {{"dk", "pw"}});
  dktest::FtpServer stallingUp("stall-upload", {{"dk", "pw"}});
  dktest::WriteFile(stallingDown.root() + "/in/backup_1001011200.tar", Noise(400000, 8));
  // More than the loopback socket buffers hold, so the sender feels the stall.
  dktest::WriteFile(work / "src/big.tar", Noise(32 << 20, 9));
  const std::vector<std::pair<std::string, std::vector<std::string>>> silent = {
      {"greeting", {"--get-ftp-dump-list", "--dump-storage", Url("/in", mute)}},
      {"download", {"--export-file-as-file", "--file-from", Url("/in/backup_1001011200.tar", stallingDown), "--file-to",
                    work / "dst/out.tar"}},
      {"upload", {"--export-file-as-file", "--file-from", work / "src/big.tar", "--file-to", Url("/out.tar", stallingUp)}}};
  for (const auto& one : silent) {
    for (bool passive : {false, true}) {
      std::vector<std::string> args = one.second;
      if (passive) args.push_back("--use-ftp-passive-mode");
      double seconds = 0;
      dktest::RunResult r = timed(args, seconds);
      ExpectFailure(r, 126, "Transport error: ");
      EXPECT_LT(seconds, 4.0 * timeout + 6) << one.first << passive;
      EXPECT_FALSE(dktest::Exists(stallingUp.root() + "/out.tar")) << one.first << passive;
    }
  }

  dktest::FtpServer slow("throttle", {{"dk", "pw"}});
  // About 8 s each way, at a 3 s time-out. What the client has sent before
  // the server reads it counts as silence while the final reply is awaited,
  // so the server keeps its window small, as on a slow link, and the time-out
  // leaves room for a loaded machine.
  timeout = 3;
  const std::string data = Noise(16 << 20, 10);
  dktest::WriteFile(slow.root() + "/in/backup_1001011200.tar", data);
  double seconds = 0;
  dktest::RunResult down = timed({"--export-file-as-file", "--use-ftp-passive-mode", "--file-from",
                                  Url("/in/backup_1001011200.tar", slow), "--file-to", work / "dst/slow.tar"},
                                 seconds);
  ASSERT_EQ(0, down.code) << down.out;
  EXPECT_GT(seconds, 2.0 * timeout);
  EXPECT_TRUE(data == dktest::ReadFile(work / "dst/slow.tar"));
  dktest::RunResult up = timed({"--export-file-as-file", "--file-from", work / "dst/slow.tar", "--file-to",
                                Url("/in/up.tar", slow)},
                               seconds);
  ASSERT_EQ(0, up.code) << up.out;
  EXPECT_GT(seconds, 2.0 * timeout);
  EXPECT_TRUE(data == dktest::ReadFile(slow.root() + "/in/up.tar"));
}

TEST_F(FtpFailures, TransfersCutShortLeaveNoPartialFiles) {
  dktest::FtpServer dropping("drop-download", {{"dk", "pw"}});
  dktest::WriteFile(dropping.root() + "/in/backup_1001011200.tar", Noise(400000, 4));
  dktest::RunResult down = RunFtp({"--export-file-as-file", "--file-from", Url("/in/backup_1001011200.tar", dropping),
                                   "--file-to", work / "dst/out.tar"});
  ExpectFailure(down, 126, "Transport error: ");
  dktest::RunResult import =
      RunFtp({"--import-file-as-dump", "--dump-file-specification", Url("/in/backup_1001011200.tar", dropping)});
  EXPECT_NE(0, import.code) << import.out;
  ExpectNoLeftovers();
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.dumps()));

  dktest::FtpServer cutting("drop-upload", {{"dk", "pw"}});
  dktest::WriteFile(work / "src/big.tar", Noise(400000, 5));
  dktest::RunResult up = RunFtp({"--export-file-as-file", "--file-from", work / "src/big.tar", "--file-to",
                                 Url("/out.tar", cutting)});
  EXPECT_EQ(126, up.code) << up.out;
  ExpectNoLeftovers();
}

}  // namespace

namespace {

// The servers hosting providers run, from Debian's packages: the commands
// that read, write, join and remove exports, with names that hold every
// character a URL or an FTP command could take for something else, in
// active and passive mode. The test fails when a server is not installed.
class FtpRealServers : public ::testing::TestWithParam<std::tuple<const char*, bool>> {
 protected:
  FtpRealServers() : server(std::get<0>(GetParam())) {}

  dktest::RunResult Run(std::vector<std::string> args) {
    if (std::get<1>(GetParam())) args.push_back("--use-ftp-passive-mode");
    args.push_back("--session-path=" + (work / "session"));
    return dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()},
                                      {"DUMP_STORAGE_PASSWD", "pw"},
                                      {"DUMP_STORAGE_PASSWD_SRC", "pw"},
                                      {"DUMP_STORAGE_PASSWD_DST", "pw"}});
  }
  std::string Remote(const std::string& path) const { return server.root() + path; }

  dktest::SampleInstallation install;
  dktest::TempDir work;
  dktest::RealFtpServer server;
};

TEST_P(FtpRealServers, OddNamesActOnExactlyTheNamedFile) {
  // name, label, parts; "pctA_..." is what "pct%41_..." decodes to, and is
  // bigger, "victimA_..." what "victim%41_..." would.
  const std::vector<std::tuple<std::string, std::string, int>> served = {
      {"my backup_1001011200.tar", "1001011200", 1}, {"pct%41_1001021200.tar", "1001021200", 1},
      {"pctA_1001021200.tar", "1001021200", 2},      {"hash#q?;type=a_1001031200.tar", "1001031200", 1},
      {"-dash \xC3\xA9t\xC3\xA9_1001041200.tar", "1001041200", 1}};
  std::vector<std::string> exports, listed;
  for (const auto& one : served) exports.push_back(Export(std::get<0>(one), std::get<1>(one), std::get<2>(one)));
  WriteExports(Remote("/in"), exports);
  dktest::Shell("mkdir -p '" + Remote("/out") + "' '" + Remote("/repo/clients/c1") + "'");
  dktest::WriteFile(Remote("/out/victimA_1001011200.tar"), "not to be touched");
  server.Share();
  std::vector<std::string> infos;
  for (const auto& one : served) {
    const std::string& name = std::get<0>(one);
    size_t size = 0;
    for (int part = 0; part < std::get<2>(one); ++part) {
      size += Size(Remote("/in/" + name + (part ? std::to_string(part) : "")));
    }
    listed.push_back(BriefDump(name, std::get<1>(one), size, " "));
    infos.push_back(DECLARATION + BriefDump(name, std::get<1>(one), size, ""));
  }

  dktest::RunResult list = Run({"--get-ftp-dump-list", "--dump-storage", server.Url("/in")});
  ASSERT_EQ(0, list.code) << list.out << list.err;
  EXPECT_EQ(Sorted(listed), ListedDumps(list.out));
  for (size_t i = 0; i < served.size(); ++i) {
    dktest::RunResult info = Run({"--get-ftp-dump-info", "--dump-storage", server.Url("/in"),
                                  "--dump-file-specification", std::get<0>(served[i])});
    EXPECT_EQ(0, info.code) << info.out;
    EXPECT_EQ(infos[i], info.out);
  }

  // Joined down: the named file's bytes, never those of the decoded name.
  dktest::RunResult down = Run({"--export-file-as-file", "--file-from", server.Url("/in/pct%41_1001021200.tar"),
                                "--file-to", work / "back/pct.tar"});
  ASSERT_EQ(0, down.code) << down.out;
  EXPECT_TRUE(dktest::ReadFile(Remote("/in/pct%41_1001021200.tar")) == dktest::ReadFile(work / "back/pct.tar"));

  // Joined up under odd names: each lands under its own name, nothing else changes.
  const std::string data = Noise(300000, 7);
  dktest::WriteFile(work / "local/up_1001011200.tar", data);
  const std::vector<std::string> targets = {"victim%41_1001011200.tar", "sp ace#h?q_1001011200.tar",
                                            "-lead\xC3\xA9 _1001011200.tar"};
  for (const std::string& target : targets) {
    dktest::RunResult up = Run({"--export-file-as-file", "--file-from", work / "local/up_1001011200.tar", "--file-to",
                                server.Url("/out/" + target)});
    ASSERT_EQ(0, up.code) << target << up.out;
    EXPECT_TRUE(data == dktest::ReadFile(Remote("/out/" + target))) << target;
  }
  EXPECT_EQ("not to be touched", dktest::ReadFile(Remote("/out/victimA_1001011200.tar")));
  std::vector<std::string> outTree = targets;
  outTree.push_back("victimA_1001011200.tar");
  EXPECT_EQ(Sorted(outTree), dktest::ListTree(Remote("/out")));

  // Removed: only the named export.
  dktest::RunResult del = Run({"--delete-exported-dump", "--dump-storage", server.Url("/in"),
                               "--dump-file-specification", "hash#q?;type=a_1001031200.tar"});
  ASSERT_EQ(0, del.code) << del.out;
  EXPECT_FALSE(dktest::Exists(Remote("/in/hash#q?;type=a_1001031200.tar")));
  EXPECT_EQ(5u, dktest::ListTree(Remote("/in")).size());

  // Imported into a storage on the server, then deleted from it: directories
  // made and removed, files stored and deleted through each server's replies.
  dktest::RunResult imported = Run({"--import-file-as-dump", "--dump-storage", server.Url("/repo"),
                                    "--dump-file-specification", server.Url("/in/my backup_1001011200.tar")});
  ASSERT_EQ(0, imported.code) << imported.out;
  EXPECT_EQ("clients/c1/backup_info_1001011200.xml\n", imported.out);
  EXPECT_TRUE(dktest::Exists(Remote("/repo/clients/c1/backup_info_1001011200.xml")));
  dktest::RunResult gone = Run({"--delete-dump", "--dump-storage", server.Url("/repo"), "--dump-specification",
                                "clients/c1/backup_info_1001011200.xml"});
  ASSERT_EQ(0, gone.code) << gone.out;
  EXPECT_FALSE(dktest::Exists(Remote("/repo/clients/c1/backup_info_1001011200.xml")));
  EXPECT_FALSE(dktest::Exists(Remote("/repo/clients/c1/backup_c1_1001011200.tgz")));
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp()));
}

// Pure-FTPd lists at most 10,000 entries and says so only in its final
// reply: a listing cut short is refused, never taken for the whole directory.
TEST(FtpPureFtpd, ListingsTheServerCutsShortAreRefused) {
  dktest::SampleInstallation install;
  dktest::TempDir work;
  dktest::RealFtpServer server("pure-ftpd");
  dktest::Shell("mkdir -p '" + server.root() + "/in' && cd '" + server.root() +
                "/in' && seq -f 'backup_%010.0f.tar' 1001011200 1001021200 | xargs touch");
  server.Share();
  for (const char* mode : {"--get-ftp-dump-list", "--get-ftp-dump-info"}) {
    std::vector<std::string> args = {mode, "--use-ftp-passive-mode", "--dump-storage", server.Url("/in"),
                                     "--session-path=" + (work / "s")};
    if (std::string(mode) == "--get-ftp-dump-info") {
      args.push_back("--dump-file-specification");
      args.push_back("backup_1001021200.tar");
    }
    dktest::RunResult r = dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()}, {"DUMP_STORAGE_PASSWD", "pw"}});
    EXPECT_EQ(126, r.code) << mode << r.out.substr(0, 300);
    EXPECT_EQ(0u, r.out.find("Transport error: unable to list directory: Curl error: ")) << mode << r.out.substr(0, 300);
  }
}

std::string RealCaseName(const ::testing::TestParamInfo<std::tuple<const char*, bool>>& info) {
  std::string name = std::get<0>(info.param);
  name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
  return name + (std::get<1>(info.param) ? "Passive" : "Active");
}

INSTANTIATE_TEST_SUITE_P(Debian, FtpRealServers,
                         ::testing::Combine(::testing::Values("vsftpd", "proftpd", "pure-ftpd"),
                                            ::testing::Bool()),
                         RealCaseName);

}  // namespace

namespace {

// FTP over TLS against servers that insist on it for logins and data: a
// certificate the operator's CA signed for the host serves every command; a
// certificate that is self-signed, for another host, or not signed by a CA
// the operator named, and a server without TLS, each end the command with a
// transport error, and never in a plain session.
class FtpsServers : public ::testing::TestWithParam<const char*> {
 protected:
  dktest::RunResult Run(std::vector<std::string> args, bool withCa = true) {
    args.push_back("--session-path=" + (work / "session"));
    std::map<std::string, std::string> env = {{"OVR_CONF_DIR", install.confDir()},
                                              {"DUMP_STORAGE_PASSWD", "pw"},
                                              {"DUMP_STORAGE_PASSWD_SRC", "pw"},
                                              {"DUMP_STORAGE_PASSWD_DST", "pw"}};
    env["DUMPKEEP_FTPS_CA_FILE"] = withCa ? certificates.CaFile() : "\x01unset";
    return dktest::RunDumpkeep(args, env);
  }

  dktest::SampleInstallation install;
  dktest::TempDir work;
  dktest::TestCertificates certificates;
};

TEST_P(FtpsServers, VerifiedSessionsOnlyAndNeverPlain) {
  const std::string kind = GetParam();
  {
    dktest::RealFtpServer server(kind, certificates.Cert("good"), certificates.Key("good"));
    WriteExports(server.root() + "/in", {Export("backup_1001011200.tar", "1001011200")});
    dktest::Shell("mkdir -p '" + server.root() + "/out'");
    server.Share();
    const std::string in = server.Url("/in", "ftps");
    dktest::RunResult list = Run({"--get-ftp-dump-list", "--dump-storage", in});
    ASSERT_EQ(0, list.code) << list.out;
    EXPECT_EQ(std::vector<std::string>{BriefDump("backup_1001011200.tar", "1001011200",
                                                 Size(server.root() + "/in/backup_1001011200.tar"), " ")},
              ListedDumps(list.out));
    // Uploads of the sizes a server that hands out TLS 1.3 session tickets
    // on data connections drops now and then, without passive mode asked for.
    for (size_t size : {150000u, 400000u, 700000u, 1000000u, 1000001u, 250000u}) {
      const std::string data = Noise(size, static_cast<unsigned>(size));
      dktest::WriteFile(work / "local/up.tar", data);
      const std::string name = "up_" + std::to_string(size) + ".tar";
      dktest::RunResult up = Run({"--export-file-as-file", "--file-from", work / "local/up.tar", "--file-to",
                                  server.Url("/out/" + name, "ftps")});
      ASSERT_EQ(0, up.code) << size << up.out;
      EXPECT_TRUE(data == dktest::ReadFile(server.root() + "/out/" + name)) << size;
      dktest::RunResult down = Run({"--export-file-as-file", "--file-from", server.Url("/out/" + name, "ftps"),
                                    "--file-to", work / ("back/" + name)});
      ASSERT_EQ(0, down.code) << size << down.out;
      EXPECT_TRUE(data == dktest::ReadFile(work / ("back/" + name))) << size;
    }
    // The system's trust store does not know the test CA.
    dktest::RunResult untrusted = Run({"--get-ftp-dump-list", "--dump-storage", in}, false);
    EXPECT_EQ(126, untrusted.code) << untrusted.out;
    EXPECT_EQ(0u, untrusted.out.find("Transport error: unable to list directory: Curl error: ")) << untrusted.out;
    // Plain FTP to a server that insists on TLS stays plain, and is refused.
    dktest::RunResult plain = Run({"--get-ftp-dump-list", "--use-ftp-passive-mode", "--dump-storage", server.Url("/in")});
    EXPECT_NE(0, plain.code) << plain.out;
  }
  for (const char* bad : {"self-signed", "wrong-host"}) {
    dktest::RealFtpServer server(kind, certificates.Cert(bad), certificates.Key(bad));
    dktest::Shell("mkdir -p '" + server.root() + "/in'");
    server.Share();
    dktest::RunResult r = Run({"--get-ftp-dump-list", "--dump-storage", server.Url("/in", "ftps")});
    EXPECT_EQ(126, r.code) << bad << r.out;
    EXPECT_EQ(0u, r.out.find("Transport error: unable to list directory: Curl error: ")) << bad << r.out;
    dktest::WriteFile(work / "local/up.tar", "data");
    dktest::RunResult up = Run({"--export-file-as-file", "--file-from", work / "local/up.tar", "--file-to",
                                server.Url("/in/up.tar", "ftps")});
    EXPECT_EQ(126, up.code) << bad << up.out;
    EXPECT_FALSE(dktest::Exists(server.root() + "/in/up.tar")) << bad;
  }
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp()));
}

INSTANTIATE_TEST_SUITE_P(Debian, FtpsServers, ::testing::Values("vsftpd", "pure-ftpd"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "vsftpd" ? "vsftpd" : "pureftpd";
                         });

// A server without TLS: the session ends at AUTH, before the login is sent.
TEST(Ftps, AServerWithoutTlsIsNeverSentTheLogin) {
  dktest::SampleInstallation install;
  dktest::TempDir work;
  dktest::FtpServer plain("normal", {{"dk", "pw"}});
  dktest::Shell("mkdir -p '" + plain.root() + "/in'");
  dktest::RunResult r =
      dktest::RunDumpkeep({"--get-ftp-dump-list", "--dump-storage",
                           "ftps://dk@127.0.0.1:" + std::to_string(plain.port()) + "/in", "--session-path=" + (work / "s")},
                          {{"OVR_CONF_DIR", install.confDir()}, {"DUMP_STORAGE_PASSWD", "pw"}});
  EXPECT_EQ(126, r.code) << r.out;
  EXPECT_EQ(0u, r.out.find("Transport error: unable to list directory: Curl error: ")) << r.out;
  const std::vector<std::string> commands = plain.Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(0u, commands[0].find("AUTH ")) << commands[0];
  EXPECT_EQ(0, CountCommands(commands, "USER") + CountCommands(commands, "PASS"));
}

}  // namespace
