// The built binary against FTP servers: the commands that take a storage in
// active and passive mode, awkward credentials and names, the exit code and
// message of each kind of server failure, real servers and FTP over TLS.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

namespace {

using dktest::DECLARATION;
using dktest::ListedDumps;
using dktest::ListTree;
using dktest::Noise;
using dktest::ReadFile;
using dktest::RunResult;
using dktest::Sorted;
using Args = std::vector<std::string>;

const std::vector<std::string> NOTHING;
const std::map<std::string, std::string> PASSWORDS = {
    {"DUMP_STORAGE_PASSWD", "pw"}, {"DUMP_STORAGE_PASSWD_SRC", "pw"}, {"DUMP_STORAGE_PASSWD_DST", "pw"}};
const std::string LIST_FAILED = "Transport error: unable to list directory: Curl error: ";

// The fixture generator's description of an export of the client's dump `label`.
std::string Export(const std::string& name, const std::string& label, int parts = 1, bool gzip = false) {
  return "{\"name\": \"" + name + "\", \"gzip\": " + (gzip ? "true" : "false") + ", \"parts\": " +
         std::to_string(parts) + ", \"dump\": {\"type\": \"client\", \"id\": \"c1\", \"guid\": \"client-guid-c1\", " +
         "\"label\": \"" + label + "\", \"owner\": \"reseller-guid-r1\", \"ownertype\": \"reseller\", " +
         "\"size\": 100, \"description\": \"d\"}}";
}

void WriteExports(const std::string& dir, const std::vector<std::string>& exports) {
  std::string json = "{\"exports\": [";
  for (size_t i = 0; i < exports.size(); ++i) json += (i ? ", " : "") + exports[i];
  dktest::MakeFixtureRepo(dir, json + "]}");
}

// The bytes of an export stored as `base` and its parts base1, base2, ...
std::string Joined(const std::string& base) {
  std::string bytes = ReadFile(base);
  for (int part = 1; dktest::Exists(base + std::to_string(part)); ++part)
    bytes += ReadFile(base + std::to_string(part));
  return bytes;
}

// The brief element of the export `name` in `dir`, its parts counted.
std::string Brief(const std::string& dir, const std::string& name, const std::string& label, const char* indent = " ") {
  return dktest::BriefDump(name, label, Joined(dir + "/" + name).size(), indent);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int CountCommands(const std::vector<std::string>& commands, const std::string& verb) {
  return static_cast<int>(std::count_if(commands.begin(), commands.end(),
                                        [&](const std::string& c) { return c.compare(0, verb.size(), verb) == 0; }));
}

std::string UrlOn(const dktest::FtpServer& server, const std::string& path, const std::string& login = "dk") {
  return "ftp://" + login + "@127.0.0.1:" + std::to_string(server.port()) + path;
}

// Runs of the binary in a sample installation.
struct Dumpkeep {
  RunResult Exec(Args args, std::map<std::string, std::string> env = PASSWORDS) {
    args.push_back("--session-path=" + (work / "session"));
    env["OVR_CONF_DIR"] = install.confDir();
    return dktest::RunDumpkeep(args, env);
  }
  // Nothing of a run may stay in the utility's temporary directory.
  void ExpectNoLeftovers() const { EXPECT_EQ(NOTHING, ListTree(install.tmp())); }

  dktest::SampleInstallation install;
  dktest::TempDir work;
};

class FtpCommands : public ::testing::Test, public Dumpkeep {
 protected:
  FtpCommands() : server("normal", {{"dk", "pw"}}) {}
  std::string Url(const std::string& path) const { return UrlOn(server, path); }
  std::string Remote(const std::string& path) const { return server.root() + path; }

  dktest::FtpServer server;
};

// Listing and describing in each mode make their data connections with PORT
// (active) or PASV (passive) only; a split export counts with all its parts,
// a file that is no export is left out, the server stays as it was. Deleting
// a split export removes all its parts.
TEST_F(FtpCommands, EachModeListsWithItsOwnDataConnections) {
  WriteExports(Remote("/in"), {Export("backup_1001011200.tar", "1001011200"),
                               Export("backup_1001021200.tgz", "1001021200", 1, true),
                               Export("backup_1001031200.tar", "1001031200", 3)});
  dktest::WriteFile(Remote("/in/notes.txt"), "not a dump\n");
  const std::vector<std::string> all = Sorted({Brief(Remote("/in"), "backup_1001011200.tar", "1001011200"),
                                               Brief(Remote("/in"), "backup_1001021200.tgz", "1001021200"),
                                               Brief(Remote("/in"), "backup_1001031200.tar", "1001031200")});
  const std::vector<std::string> served = ListTree(Remote("/in"));
  for (bool passive : {false, true}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    const size_t before = server.Commands().size();
    Args list = {"--get-ftp-dump-list", "--dump-storage", Url(passive ? "/in/" : "/in")};
    Args info = {"--get-ftp-dump-info", "--dump-storage", Url("/in"), "--dump-file-specification",
                 "backup_1001031200.tar"};
    if (passive) list.push_back("--use-ftp-passive-mode"), info.push_back("--use-ftp-passive-mode");
    EXPECT_EQ(all, ListedDumps(Exec(list).out));
    EXPECT_EQ(DECLARATION + Brief(Remote("/in"), "backup_1001031200.tar", "1001031200", ""), Exec(info).out);
    const std::vector<std::string> commands = server.Commands(before);
    EXPECT_EQ(!passive, CountCommands(commands, "PORT") > 0);
    EXPECT_EQ(passive, CountCommands(commands, "PASV") > 0);
    EXPECT_EQ(0, CountCommands(commands, "EPSV") + CountCommands(commands, "EPRT"));
  }
  EXPECT_EQ(served, ListTree(Remote("/in")));

  RunResult del = Exec({"--delete-exported-dump", "--dump-storage", Url("/in"), "--dump-file-specification",
                        "backup_1001031200.tar"});
  EXPECT_EQ(0, del.code);
  EXPECT_EQ("", del.out);
  EXPECT_EQ(Sorted({"backup_1001011200.tar", "backup_1001021200.tgz", "notes.txt"}), ListTree(Remote("/in")));
  ExpectNoLeftovers();
}

// Forged listing lines: names that lead elsewhere are left out, a size no
// counter holds does not turn the line into another name, and names holding
// markup, control bytes or bytes that are no UTF-8 leave a document that parses.
TEST_F(FtpCommands, ForgedListingLinesLeaveAParsableListOfPlainNames) {
  dktest::FtpServer hostile("hostile-list", {{"dk", "pw"}});
  WriteExports(hostile.root() + "/in", {Export("backup_1001011200.tar", "1001011200")});
  RunResult r = Exec({"--get-ftp-dump-list", "--dump-storage", UrlOn(hostile, "/in")});
  ASSERT_EQ(0, r.code) << r.out;
  xmlDocPtr doc = xmlReadMemory(r.out.data(), static_cast<int>(r.out.size()), "list.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  EXPECT_NE(nullptr, doc) << r.out;
  if (doc) xmlFreeDoc(doc);
  for (const char* absent :
       {"\"up_", "/up_", "side_", "abs_", "slash_", "huge_", "owner", "name=\"..\"", "name=\".\""}) {
    EXPECT_EQ(std::string::npos, r.out.find(absent)) << absent << "\n" << r.out;
  }
  for (const std::string& present : {Brief(hostile.root() + "/in", "backup_1001011200.tar", "1001011200"),
                                     std::string("name=\"amp&amp;&lt;b&gt;&quot;q'_1001011200.tar\""),
                                     std::string("name=\"ctl\xEF\xBF\xBD\xEF\xBF\xBD_1001011200.tar\""),
                                     std::string("name=\"bad\xEF\xBF\xBD\xEF\xBF\xBD_1001011200.tar\"")}) {
    EXPECT_NE(std::string::npos, r.out.find(present)) << present << "\n" << r.out;
  }
}

// Logins and passwords holding the characters a URL gives a meaning reach the
// server intact in both modes (a login with ':' travels escaped inside the
// URL, others beside it); a URL without a login logs in anonymously; a join
// takes the source and destination passwords separately.
TEST_F(FtpCommands, CredentialsReachTheServerIntact) {
  const std::vector<dktest::FtpUser> users = {{"op@site/x%y\\z", "p:w@d/%\\q#?"}, {"a:b@c/d%e\\f", ":@/%\\ %41"}};
  dktest::FtpServer odd("normal", users, true);
  WriteExports(odd.root() + "/in", {Export("backup_1001011200.tar", "1001011200")});
  const std::vector<std::string> expected = {Brief(odd.root() + "/in", "backup_1001011200.tar", "1001011200")};
  for (const dktest::FtpUser& user : users) {
    for (bool passive : {false, true}) {
      SCOPED_TRACE(user.login + (passive ? " passive" : " active"));
      const size_t before = odd.Commands().size();
      Args args = {"--get-ftp-dump-list", "--dump-storage", UrlOn(odd, "/in", user.login)};
      if (passive) args.push_back("--use-ftp-passive-mode");
      EXPECT_EQ(expected, ListedDumps(Exec(args, {{"DUMP_STORAGE_PASSWD", user.password}}).out));
      Args login = odd.Commands(before);
      login.resize(2);
      EXPECT_EQ((Args{"USER " + user.login, "PASS " + user.password}), login);
    }
  }
  const size_t before = odd.Commands().size();
  RunResult anonymous = Exec({"--get-ftp-dump-list", "--dump-storage", odd.Url("/in")}, {{"DUMP_STORAGE_PASSWD", ""}});
  EXPECT_EQ(expected, ListedDumps(anonymous.out));
  EXPECT_EQ("USER anonymous", odd.Commands(before).at(0));

  dktest::WriteFile(work / "src/part.tar", "head");
  dktest::WriteFile(work / "src/part.tar1", "tail");
  RunResult join = Exec({"--export-file-as-file", "--file-from", work / "src/part.tar", "--file-to",
                         UrlOn(odd, "/in/joined.tar", users[1].login)},
                        {{"DUMP_STORAGE_PASSWD_SRC", "unused"}, {"DUMP_STORAGE_PASSWD_DST", users[1].password}});
  EXPECT_EQ(0, join.code) << join.out;
  EXPECT_EQ("headtail", ReadFile(odd.root() + "/in/joined.tar"));
  ExpectNoLeftovers();
}

// A split export on the server is imported into the local repository and stays
// on the server. The structured listing is of the local repository whatever
// the storage option says: the server is not asked.
TEST_F(FtpCommands, ImportsFromTheServerIntoTheLocalRepository) {
  WriteExports(Remote("/in"), {Export("backup_1001021200.tar", "1001021200", 3)});
  const std::vector<std::string> served = ListTree(Remote("/in"));
  RunResult r = Exec({"--import-file-as-dump", "--use-ftp-passive-mode", "--dump-file-specification",
                      Url("/in/backup_1001021200.tar")});
  EXPECT_EQ("clients/c1/backup_info_1001021200.xml\n", r.out);
  EXPECT_EQ("content of backup_c1_1001021200.tgz\n",
            ReadFile(install.dumps() + "/clients/c1/backup_c1_1001021200.tgz").substr(0, 36));
  EXPECT_EQ(served, ListTree(Remote("/in")));

  const Args listing = {"--get-dump-list", "--type", "client", "--guid", "client-guid-c1"};
  RunResult local = Exec(listing);
  EXPECT_NE(std::string::npos, local.out.find("backup_info_1001021200.xml")) << local.out;
  const size_t asked = server.Commands().size();
  Args withStorage = listing;
  withStorage.insert(withStorage.end(), {"--dump-storage", Url("/in")});
  EXPECT_EQ(local.out, Exec(withStorage).out);
  EXPECT_EQ(asked, server.Commands().size());
  ExpectNoLeftovers();
}

// Split exports are joined on the way between local files and servers in every
// direction (also between storages on one server and on two), bytes a text
// mode transfer would change in parts that take many blocks; a destination
// that exists is refused and keeps its content.
TEST_F(FtpCommands, JoinsSplitExportsBetweenLocalAndServers) {
  const std::string a = Noise(700000, 1), b = Noise(300001, 2), c = Noise(5, 3), abc = a + b + c;
  dktest::WriteFile(work / "local/backup_1001011200.tar", a);
  dktest::WriteFile(work / "local/backup_1001011200.tar1", b);
  dktest::WriteFile(work / "local/backup_1001011200.tar2", c);
  dktest::WriteFile(work / "single/backup_1001021200.tar", b);
  dktest::FtpServer other("normal", {{"dk", "pw"}});
  dktest::Shell("mkdir -p '" + Remote("/up") + "' '" + Remote("/across") + "' '" + other.root() + "/across' && cp '" +
                (work / "local") + "'/* '" + Remote("/") + "'");
  const struct {
    std::string from, to, target, bytes;
  } cases[] = {
      {work / "local/backup_1001011200.tar", Url("/up/joined.tar"), Remote("/up/joined.tar"), abc},
      {work / "single/backup_1001021200.tar", Url("/up/single.tar"), Remote("/up/single.tar"), b},
      {Url("/backup_1001011200.tar"), "local:" + (work / "back/split.tar"), work / "back/split.tar", abc},
      {Url("/up/joined.tar"), work / "back/whole.tar", work / "back/whole.tar", abc},
      {Url("/backup_1001011200.tar"), Url("/across/joined.tar"), Remote("/across/joined.tar"), abc},
      {Url("/backup_1001011200.tar"), UrlOn(other, "/across/joined.tar"), other.root() + "/across/joined.tar", abc},
  };
  for (const auto& one : cases) {
    SCOPED_TRACE(one.from + " to " + one.to);
    RunResult r = Exec({"--export-file-as-file", "--file-from", one.from, "--file-to", one.to});
    EXPECT_EQ(0, r.code);
    EXPECT_EQ("", r.out);
    EXPECT_TRUE(one.bytes == ReadFile(one.target));
  }
  RunResult again = Exec({"--export-file-as-file", "--file-from", work / "single/backup_1001021200.tar", "--file-to",
                          Url("/up/joined.tar")});
  EXPECT_EQ(153, again.code);
  EXPECT_EQ("Repository error: file joined.tar exists\n", again.out);
  EXPECT_TRUE(abc == ReadFile(Remote("/up/joined.tar")));
  EXPECT_EQ(Sorted({"joined.tar", "single.tar"}), ListTree(Remote("/up")));
  ExpectNoLeftovers();
}

// Server failures: the exit code and message of each kind, and nothing left
// behind in the temporary directory, the local repository or at the destination.
class FtpFailures : public FtpCommands {
 protected:
  void ExpectFailure(const RunResult& r, int code, const std::string& message) {
    EXPECT_EQ(code, r.code) << r.out;
    EXPECT_EQ(0u, r.out.find(message)) << r.out;
    EXPECT_EQ(1, std::count(r.out.begin(), r.out.end(), '\n')) << r.out;
    ExpectNoLeftovers();
    EXPECT_EQ(NOTHING, ListTree(install.dumps()));
    EXPECT_FALSE(dktest::Exists(work / "dst/out.tar"));
  }
  // A list, an info, an import into the local repository and a download join.
  std::vector<RunResult> Everything(const std::string& base, const std::string& password = "pw") {
    const std::map<std::string, std::string> env = {{"DUMP_STORAGE_PASSWD", password},
                                                    {"DUMP_STORAGE_PASSWD_SRC", password}};
    const std::string file = base + "/in/backup_1001011200.tar";
    return {Exec({"--get-ftp-dump-list", "--dump-storage", base + "/in"}, env),
            Exec({"--get-ftp-dump-info", "--dump-storage", base + "/in", "--dump-file-specification",
                 "backup_1001011200.tar"}, env),
            Exec({"--import-file-as-dump", "--dump-file-specification", file}, env),
            Exec({"--export-file-as-file", "--file-from", file, "--file-to", work / "dst/out.tar"}, env)};
  }
};

// Refused logins and directories exit 121, hosts that do not resolve 124,
// refused connections 125, a server that hangs up 126, as does a server
// without TLS asked for it (before the login is sent); every command says why
// in one line.
TEST_F(FtpFailures, EachKindOfServerFailureHasItsExitCodeAndMessage) {
  dktest::FtpServer hangingUp("hang-up"), plain("normal", {{"dk", "pw"}});
  const struct {
    std::string base, password;
    int code;
    std::string curl;
  } cases[] = {
      {Url(""), "wrong", 121, "Login denied"},
      {Url(""), "pw", 121, "Access denied to remote resource"},
      {"ftp://dk@no-such-host.invalid", "pw", 124, "Couldn't resolve host name"},
      {"ftp://dk@127.0.0.1:" + std::to_string(dktest::ClosedLocalPort()), "pw", 125, "Couldn't connect to server"},
      {UrlOn(hangingUp, ""), "pw", 126, "Failure when receiving data from the peer"},
      {"ftps" + UrlOn(plain, "").substr(3), "pw", 126, "Requested SSL level failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base + " " + c.curl);
    const std::vector<RunResult> results = Everything(c.base, c.password);
    EXPECT_EQ(LIST_FAILED + c.curl + "\n", results[0].out);
    for (const RunResult& r : results) {
      ExpectFailure(r, c.code, "Transport error: ");
      EXPECT_TRUE(EndsWith(r.out, "Curl error: " + c.curl + "\n")) << r.out;
    }
  }
  const Args sent = plain.Commands();
  EXPECT_FALSE(sent.empty());
  EXPECT_EQ(static_cast<int>(sent.size()), CountCommands(sent, "AUTH ")) << testing::PrintToString(sent);
}

// A missing file in a directory the server lists is the repository's finding.
TEST_F(FtpFailures, MissingFilesAreRepositoryErrors) {
  dktest::Shell("mkdir -p '" + Remote("/in") + "'");
  std::vector<RunResult> results = Everything(Url(""));
  EXPECT_EQ(0, results[0].code) << results[0].out;
  EXPECT_EQ(DECLARATION + "<dump-list/>\n", results[0].out);
  ExpectFailure(results[1], 151, "Repository error: File 'backup_1001011200.tar' not found\n");
  ExpectFailure(results[2], 151, "Repository error: file 'backup_1001011200.tar' does not exists\n");
  ExpectFailure(results[3], 151, "Repository error: file 'backup_1001011200.tar' does not exists\n");
}

// Transfers the server cuts short or lets fall silent, and a server that
// never greets, end with 126 soon after a time-out of 2 s at the latest; they
// leave no partial file at the destination (a stalled upload's is deleted on
// the server), in the local repository or in the temporary directory.
TEST_F(FtpFailures, TransfersThatStopLeaveNoPartialFiles) {
  dktest::WriteFile(work / "src/big.tar", Noise(32 << 20, 5));  // more than the socket buffers hold
  const Args down = {"--export-file-as-file", "--file-from", "URL", "--file-to", work / "dst/out.tar"};
  const Args up = {"--export-file-as-file", "--file-from", work / "src/big.tar", "--file-to", "URL"};
  const struct {
    std::string mode;
    Args args;  // "URL" stands for the server's file
    std::string curl;
  } cases[] = {
      {"drop-download", down, "Transferred a partial file"},
      {"drop-download", {"--import-file-as-dump", "--dump-file-specification", "URL"}, "Transferred a partial file"},
      {"drop-upload", up, "Failed sending data to the peer"},
      {"stall-download", down, "Timeout was reached"},
      {"stall-upload", up, "Timeout was reached"},
      {"stall", {"--get-ftp-dump-list", "--dump-storage", "URL"}, "Timeout was reached"},
  };
  for (const auto& c : cases) {
    dktest::FtpServer server(c.mode, {{"dk", "pw"}});
    dktest::Shell("mkdir '" + server.root() + "/in'");
    if (c.args == down || c.args[0] == "--import-file-as-dump") {
      dktest::WriteFile(server.root() + "/in/backup_1001011200.tar", Noise(400000, 4));
    }
    Args args = c.args;
    std::replace(args.begin(), args.end(), std::string("URL"), UrlOn(server, "/in/backup_1001011200.tar"));
    SCOPED_TRACE(c.mode + " " + args[0]);
    std::map<std::string, std::string> env = PASSWORDS;
    env["DUMPKEEP_TEST_FTP_TIMEOUT"] = "2";
    const auto start = std::chrono::steady_clock::now();
    RunResult r = Exec(args, env);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(14));
    ExpectFailure(r, 126, "Transport error: ");
    EXPECT_TRUE(EndsWith(r.out, "Curl error: " + c.curl + "\n")) << r.out;
    EXPECT_FALSE(c.mode == "stall-upload" && dktest::Exists(server.root() + "/in/backup_1001011200.tar"));
  }
}

// Time-outs bound silence, never length: transfers that crawl (about 8 s
// each way, the server keeping its window small as on a slow link) but keep
// moving outlast a time-out of 3 s more than twice over.
TEST_F(FtpFailures, SlowTransfersOutlastTheTimeOut) {
  dktest::FtpServer slow("throttle", {{"dk", "pw"}});
  const std::string data = Noise(16 << 20, 10);
  dktest::WriteFile(slow.root() + "/in/backup_1001011200.tar", data);
  std::map<std::string, std::string> env = PASSWORDS;
  env["DUMPKEEP_TEST_FTP_TIMEOUT"] = "3";
  for (const Args& args :
       {Args{"--export-file-as-file", "--file-from", UrlOn(slow, "/in/backup_1001011200.tar"), "--file-to",
             work / "slow.tar"},
        Args{"--export-file-as-file", "--file-from", work / "slow.tar", "--file-to", UrlOn(slow, "/in/up.tar")}}) {
    const auto start = std::chrono::steady_clock::now();
    RunResult r = Exec(args, env);
    ASSERT_EQ(0, r.code) << r.out;
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  }
  EXPECT_TRUE(data == ReadFile(work / "slow.tar"));
  EXPECT_TRUE(data == ReadFile(slow.root() + "/in/up.tar"));
}

// The servers hosting providers run, from Debian's packages (a missing one
// fails the test), in active and passive mode: the commands act on exactly
// the named file, whatever a URL or an FTP command could make of its name.
class FtpRealServers : public ::testing::TestWithParam<std::tuple<const char*, bool>>, public Dumpkeep {
 protected:
  FtpRealServers() : server(std::get<0>(GetParam())) {}
  RunResult RunIn(Args args) {
    if (std::get<1>(GetParam())) args.push_back("--use-ftp-passive-mode");
    return Exec(args);
  }
  std::string Remote(const std::string& path) const { return server.root() + path; }

  dktest::RealFtpServer server;
};

TEST_P(FtpRealServers, OddNamesActOnExactlyTheNamedFile) {
  // "pctA_..." is what "pct%41_..." decodes to, and is bigger; "victimA_..."
  // what "victim%41_..." would.
  const struct {
    std::string name, label;
    int parts;
  } served[] = {{"my backup_1001011200.tar", "1001011200", 1}, {"pct%41_1001021200.tar", "1001021200", 1},
                {"pctA_1001021200.tar", "1001021200", 2},      {"hash#q?;type=a_1001031200.tar", "1001031200", 1},
                {"-dash \xC3\xA9t\xC3\xA9_1001041200.tar", "1001041200", 1}};
  std::vector<std::string> exports, listed;
  for (const auto& one : served) exports.push_back(Export(one.name, one.label, one.parts));
  WriteExports(Remote("/in"), exports);
  dktest::Shell("mkdir -p '" + Remote("/out") + "' '" + Remote("/repo/clients/c1") + "'");
  dktest::WriteFile(Remote("/out/victimA_1001011200.tar"), "not to be touched");
  server.Share();
  for (const auto& one : served) {
    listed.push_back(Brief(Remote("/in"), one.name, one.label));
    RunResult info =
        RunIn({"--get-ftp-dump-info", "--dump-storage", server.Url("/in"), "--dump-file-specification", one.name});
    EXPECT_EQ(DECLARATION + Brief(Remote("/in"), one.name, one.label, ""), info.out);
  }
  EXPECT_EQ(Sorted(listed), ListedDumps(RunIn({"--get-ftp-dump-list", "--dump-storage", server.Url("/in")}).out));

  // Joined down: the named file's bytes, never those of the decoded name.
  RunResult down = RunIn({"--export-file-as-file", "--file-from", server.Url("/in/pct%41_1001021200.tar"), "--file-to",
                          work / "back/pct.tar"});
  ASSERT_EQ(0, down.code) << down.out;
  EXPECT_TRUE(ReadFile(Remote("/in/pct%41_1001021200.tar")) == ReadFile(work / "back/pct.tar"));

  // Joined up under odd names: each lands under its own name, nothing else changes.
  const std::string data = Noise(300000, 7);
  dktest::WriteFile(work / "local/up_1001011200.tar", data);
  std::vector<std::string> targets = {"victim%41_1001011200.tar", "sp ace#h?q_1001011200.tar",
                                      "-lead\xC3\xA9 _1001011200.tar"};
  for (const std::string& target : targets) {
    RunResult up = RunIn({"--export-file-as-file", "--file-from", work / "local/up_1001011200.tar", "--file-to",
                          server.Url("/out/" + target)});
    ASSERT_EQ(0, up.code) << target << up.out;
    EXPECT_TRUE(data == ReadFile(Remote("/out/" + target))) << target;
  }
  targets.push_back("victimA_1001011200.tar");
  EXPECT_EQ(Sorted(targets), ListTree(Remote("/out")));
  EXPECT_EQ("not to be touched", ReadFile(Remote("/out/victimA_1001011200.tar")));

  // Removed: only the named export.
  std::vector<std::string> remaining = ListTree(Remote("/in"));
  remaining.erase(std::find(remaining.begin(), remaining.end(), "hash#q?;type=a_1001031200.tar"));
  RunResult del = RunIn({"--delete-exported-dump", "--dump-storage", server.Url("/in"), "--dump-file-specification",
                         "hash#q?;type=a_1001031200.tar"});
  ASSERT_EQ(0, del.code) << del.out;
  EXPECT_EQ(remaining, ListTree(Remote("/in")));

  // Imported into a storage on the server, then deleted from it: directories
  // made and removed, files stored and deleted through each server's replies.
  RunResult imported = RunIn({"--import-file-as-dump", "--dump-storage", server.Url("/repo"),
                              "--dump-file-specification", server.Url("/in/my backup_1001011200.tar")});
  EXPECT_EQ("clients/c1/backup_info_1001011200.xml\n", imported.out);
  EXPECT_TRUE(dktest::Exists(Remote("/repo/clients/c1/backup_info_1001011200.xml")));
  RunResult gone = RunIn({"--delete-dump", "--dump-storage", server.Url("/repo"), "--dump-specification",
                          "clients/c1/backup_info_1001011200.xml"});
  ASSERT_EQ(0, gone.code) << gone.out;
  EXPECT_FALSE(dktest::Exists(Remote("/repo/clients/c1/backup_info_1001011200.xml")));
  EXPECT_FALSE(dktest::Exists(Remote("/repo/clients/c1/backup_c1_1001011200.tgz")));
  ExpectNoLeftovers();
}

INSTANTIATE_TEST_SUITE_P(Debian, FtpRealServers,
                         ::testing::Combine(::testing::Values("vsftpd", "proftpd", "pure-ftpd"), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<const char*, bool>>& info) {
                           std::string name = std::get<0>(info.param);
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name + (std::get<1>(info.param) ? "Passive" : "Active");
                         });

// Pure-FTPd lists at most 10,000 entries and says so only in its final
// reply: a listing cut short is refused, never taken for the whole directory.
class FtpPureFtpd : public ::testing::Test, public Dumpkeep {};

TEST_F(FtpPureFtpd, ListingsTheServerCutsShortAreRefused) {
  dktest::RealFtpServer server("pure-ftpd");
  dktest::Shell("mkdir -p '" + server.root() + "/in' && cd '" + server.root() +
                "/in' && seq -f 'backup_%010.0f.tar' 1001011200 1001021200 | xargs touch");
  server.Share();
  for (Args args : {Args{"--get-ftp-dump-list"},
                    Args{"--get-ftp-dump-info", "--dump-file-specification", "backup_1001021200.tar"}}) {
    args.insert(args.end(), {"--use-ftp-passive-mode", "--dump-storage", server.Url("/in")});
    RunResult r = Exec(args);
    EXPECT_EQ(126, r.code) << args[0];
    EXPECT_EQ(LIST_FAILED + "Transferred a partial file\n", r.out.substr(0, 300)) << args[0];
  }
}

// FTP over TLS to servers that insist on it: a certificate the operator's CA
// signed for the host serves every command; one that is self-signed, for
// another host, or from a CA the operator did not name ends the command with
// a transport error; plain FTP to such a server is refused.
class FtpsServers : public ::testing::TestWithParam<const char*>, public Dumpkeep {
 protected:
  RunResult RunTls(const Args& args, bool withCa = true) {
    std::map<std::string, std::string> env = PASSWORDS;
    env["DUMPKEEP_FTPS_CA_FILE"] = withCa ? certificates.CaFile() : "\x01unset";
    return Exec(args, env);
  }

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
    EXPECT_EQ(std::vector<std::string>{Brief(server.root() + "/in", "backup_1001011200.tar", "1001011200")},
              ListedDumps(RunTls({"--get-ftp-dump-list", "--dump-storage", in}).out));
    // Uploads of the sizes a server that hands out TLS 1.3 session tickets
    // on data connections drops now and then, without passive mode asked for.
    for (size_t size : {150000u, 400000u, 700000u, 1000000u, 1000001u, 250000u}) {
      SCOPED_TRACE(size);
      const std::string data = Noise(size, static_cast<unsigned>(size)), name = "/out/up" + std::to_string(size);
      dktest::WriteFile(work / "up.tar", data);
      RunResult up =
          RunTls({"--export-file-as-file", "--file-from", work / "up.tar", "--file-to", server.Url(name, "ftps")});
      ASSERT_EQ(0, up.code) << up.out;
      EXPECT_TRUE(data == ReadFile(server.root() + name));
      RunResult down =
          RunTls({"--export-file-as-file", "--file-from", server.Url(name, "ftps"), "--file-to", work / name});
      ASSERT_EQ(0, down.code) << down.out;
      EXPECT_TRUE(data == ReadFile(work / name));
    }
    // The system's trust store does not know the test CA.
    RunResult untrusted = RunTls({"--get-ftp-dump-list", "--dump-storage", in}, false);
    EXPECT_EQ(126, untrusted.code);
    EXPECT_EQ(0u, untrusted.out.find(LIST_FAILED)) << untrusted.out;
    // Plain FTP to a server that insists on TLS stays plain, and is refused
    // (Pure-FTPd leaves it unanswered).
    RunResult plain = RunTls({"--get-ftp-dump-list", "--use-ftp-passive-mode", "--dump-storage", server.Url("/in")});
    EXPECT_EQ(kind == "vsftpd" ? 121 : 126, plain.code);
    EXPECT_EQ(LIST_FAILED + (kind == "vsftpd" ? "Login denied" : "Timeout was reached") + "\n", plain.out);
  }
  for (const char* bad : {"self-signed", "wrong-host"}) {
    SCOPED_TRACE(bad);
    dktest::RealFtpServer server(kind, certificates.Cert(bad), certificates.Key(bad));
    dktest::Shell("mkdir -p '" + server.root() + "/in'");
    server.Share();
    RunResult list = RunTls({"--get-ftp-dump-list", "--dump-storage", server.Url("/in", "ftps")});
    EXPECT_EQ(126, list.code);
    EXPECT_EQ(0u, list.out.find(LIST_FAILED)) << list.out;
    dktest::WriteFile(work / "up.tar", "data");
    RunResult up = RunTls(
        {"--export-file-as-file", "--file-from", work / "up.tar", "--file-to", server.Url("/in/up.tar", "ftps")});
    EXPECT_EQ(126, up.code) << up.out;
    EXPECT_FALSE(dktest::Exists(server.root() + "/in/up.tar"));
  }
  ExpectNoLeftovers();
}

INSTANTIATE_TEST_SUITE_P(Debian, FtpsServers, ::testing::Values("vsftpd", "pure-ftpd"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "vsftpd" ? "vsftpd" : "pureftpd";
                         });

}  // namespace
