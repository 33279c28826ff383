// The built binary against loopback FTP servers: the embedded one, Debian's, and FTP over TLS.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"

namespace {

using namespace dktest;
using Args = std::vector<std::string>;
using Env = std::map<std::string, std::string>;

const std::string LIST_FAILED = "Transport error: unable to list directory: Curl error: ";

using Export = std::pair<std::string, int>;  // name (gzip when ending with ".tgz"), parts

std::string Label(const std::string& name) { return name.substr(name.rfind('_') + 1, 10); }

// The client's exports in `dir`, made by the fixture generator.
void WriteExports(const std::string& dir, const std::vector<Export>& exports) {
  std::string json;
  for (const Export& e : exports) {
    json += std::string(json.empty() ? "" : ", ") + "{\"name\": \"" + e.first + "\", \"gzip\": " +
            (e.first.back() == 'z' ? "true" : "false") + ", \"parts\": " + std::to_string(e.second) +
            ", \"dump\": {\"type\": \"client\", \"id\": \"c1\", \"guid\": \"client-guid-c1\", \"label\": \"" +
            Label(e.first) + "\"}}";
  }
  MakeFixtureRepo(dir, "{\"exports\": [" + json + "]}");
}

// The brief element of the export `name` in `dir`, sized with its parts (the files `name`*).
std::string Brief(const std::string& dir, const std::string& name, const char* indent = " ") {
  return BriefDump(name, Label(name), std::stoul(Shell("cat '" + dir + "/" + name + "'* | wc -c")), indent);
}

long Count(const Args& commands, const std::string& verb) {
  return std::count_if(commands.begin(), commands.end(), [&](const std::string& c) { return c.rfind(verb, 0) == 0; });
}

std::string Named(std::string k) { k.erase(std::remove(k.begin(), k.end(), '-'), k.end()); return k; }

// Runs of the binary in a sample installation, storage passwords "pw", passive mode while `passive`.
struct Dumpkeep {
  RunResult Exec(Args args, Env extra = {}) const {
    if (passive) args.push_back("--use-ftp-passive-mode");
    args.push_back("--session-path=" + (work / "session"));
    extra.insert(env.begin(), env.end());
    return RunDumpkeep(args, extra);
  }
  std::string Ok(const Args& args, const Env& extra = {}) const {
    const RunResult r = Exec(args, extra);
    EXPECT_EQ(0, r.code) << r.out;
    return r.out;
  }
  void Refused(int code, const std::string& out, const Args& args, const Env& extra = {}) const {
    const RunResult r = Exec(args, extra);
    EXPECT_EQ(code, r.code) << r.out;
    EXPECT_EQ(out, r.out);
  }

  SampleInstallation install;
  TempDir work;
  bool passive = false;
  Env env = {{"OVR_CONF_DIR", install.confDir()}, {"DUMP_STORAGE_PASSWD", "pw"}, {"DUMP_STORAGE_PASSWD_SRC", "pw"},
             {"DUMP_STORAGE_PASSWD_DST", "pw"}};
};

class FtpCommands : public ::testing::Test, public Dumpkeep {
 protected:
  std::string Url(const std::string& path) const { return server.Url(path, "dk"); }
  std::string Remote(const std::string& path) const { return server.root() + path; }

  FtpServer server;
};

// PORT or PASV data connections only; split exports whole; the structured listing asks no server.
TEST_F(FtpCommands, EachModeMakesItsOwnDataConnections) {
  const Args names = {"backup_1001011200.tar", "backup_1001021200.tgz", "backup_1001031200.tar"};
  WriteExports(Remote("/in"), {{names[0], 1}, {names[1], 1}, {names[2], 3}});
  WriteFile(Remote("/in/notes.txt"), "not a dump\n");
  const Args served = ListTree(Remote("/in"));
  Args all;
  for (const std::string& name : names) all.push_back(Brief(Remote("/in"), name));
  for (bool p : {false, true}) {
    SCOPED_TRACE(p ? "passive" : "active");
    passive = p;
    const size_t before = server.Commands().size();
    const std::string& name = names[p ? 2 : 0];
    EXPECT_EQ(Sorted(all), ListedDumps(Ok({"--get-ftp-dump-list", "--dump-storage", Url(p ? "/in/" : "/in")})));
    EXPECT_EQ(DECLARATION + Brief(Remote("/in"), name, ""),
              Ok({"--get-ftp-dump-info", "--dump-storage", Url("/in"), "--dump-file-specification", name}));
    EXPECT_EQ("clients/c1/backup_info_" + Label(name) + ".xml\n",
              Ok({"--import-file-as-dump", "--dump-file-specification", Url("/in/" + name)}));
    const Args sent = server.Commands(before);
    EXPECT_EQ(!p, Count(sent, "PORT") > 0);
    EXPECT_EQ(p, Count(sent, "PASV") > 0);
    EXPECT_EQ(0, Count(sent, "EPSV") + Count(sent, "EPRT"));
  }
  passive = false;
  EXPECT_EQ(served, ListTree(Remote("/in")));

  Args listing = {"--get-dump-list", "--type", "client", "--guid", "client-guid-c1"};
  const std::string local = Ok(listing);
  EXPECT_NE(std::string::npos, local.find("backup_info_1001031200.xml")) << local;
  const size_t asked = server.Commands().size();
  listing.insert(listing.end(), {"--dump-storage", Url("/in")});
  EXPECT_EQ(local, Ok(listing));
  EXPECT_EQ(asked, server.Commands().size());

  EXPECT_EQ("", Ok({"--delete-exported-dump", "--dump-storage", Url("/in"), "--dump-file-specification", names[2]}));
  EXPECT_EQ(Sorted({names[0], names[1], "notes.txt"}), ListTree(Remote("/in")));
  EXPECT_EQ(Args{}, ListTree(install.tmp()));
}

// Forged listing lines give no entry, or one whose name is well-formed text.
TEST_F(FtpCommands, ForgedListingLinesLeaveAListOfPlainNames) {
  FtpServer hostile("hostile-list");
  WriteExports(hostile.root() + "/in", {{"backup_1001011200.tar", 1}});
  Args expected = {Brief(hostile.root() + "/in", "backup_1001011200.tar")};
  const std::string replaced = "\xEF\xBF\xBD\xEF\xBF\xBD";
  for (const std::string& name : Args{"amp&amp;&lt;b&gt;&quot;q'", "ctl" + replaced, "bad" + replaced, "cr",
                                      "long_" + std::string(100000, 'x')}) {
    expected.push_back(BriefDump(name + "_1001011200.tar", "1001011200", 100, " "));
  }
  EXPECT_EQ(Sorted(expected), ListedDumps(Ok({"--get-ftp-dump-list", "--dump-storage", hostile.Url("/in", "dk")})));
}

// Credentials reach the server intact (none: anonymous); a join takes the destination's password.
TEST_F(FtpCommands, CredentialsReachTheServerIntact) {
  const std::vector<FtpUser> users = {{"op@site/x%y\\z", "p:w@d/%\\q#?"}, {"a:b@c/d%e\\f", ":@/%\\ %41"}, {"", ""}};
  FtpServer odd("normal", {users[0], users[1]}, true);
  WriteExports(odd.root() + "/in", {{"backup_1001011200.tar", 1}});
  for (const FtpUser& user : users) {
    SCOPED_TRACE(user.login);
    const size_t before = odd.Commands().size();
    EXPECT_EQ(Args{Brief(odd.root() + "/in", "backup_1001011200.tar")},
              ListedDumps(Ok({"--get-ftp-dump-list", "--dump-storage", odd.Url("/in", user.login)},
                             {{"DUMP_STORAGE_PASSWD", user.password}})));
    const Args sent = odd.Commands(before);
    EXPECT_EQ("USER " + (user.login.empty() ? "anonymous" : user.login), sent.at(0));
    if (!user.login.empty()) { EXPECT_EQ("PASS " + user.password, sent.at(1)); }
  }
  WriteFile(work / "src/part.tar", "head");
  WriteFile(work / "src/part.tar1", "tail");
  EXPECT_EQ("", Ok({"--export-file-as-file", "--file-from", work / "src/part.tar", "--file-to",
                    odd.Url("/in/joined.tar", users[1].login)},
                   {{"DUMP_STORAGE_PASSWD_SRC", "unused"}, {"DUMP_STORAGE_PASSWD_DST", users[1].password}}));
  EXPECT_EQ("headtail", ReadFile(odd.root() + "/in/joined.tar"));
}

// Joins byte for byte in every direction, between two servers too; an existing destination is kept.
TEST_F(FtpCommands, JoinsSplitExportsBetweenLocalAndServers) {
  const std::string a = Noise(700000, 1), b = Noise(300001, 2), c = Noise(5, 3), abc = a + b + c;
  WriteFile(work / "local/backup_1001011200.tar", a);
  WriteFile(work / "local/backup_1001011200.tar1", b);
  WriteFile(work / "local/backup_1001011200.tar2", c);
  FtpServer other;
  Shell("mkdir -p '" + Remote("/up") + "' '" + Remote("/across") + "' '" + other.root() + "/across' && cp '" +
        (work / "local") + "'/* '" + Remote("/") + "'");
  const std::string split = Url("/backup_1001011200.tar");
  const struct { std::string from, to, target; } cases[] = {
      {work / "local/backup_1001011200.tar", Url("/up/joined.tar"), Remote("/up/joined.tar")},
      {Url("/up/joined.tar"), work / "back/whole.tar", work / "back/whole.tar"},
      {split, Url("/across/joined.tar"), Remote("/across/joined.tar")},
      {split, other.Url("/across/joined.tar", "dk"), other.root() + "/across/joined.tar"},
  };
  for (const auto& one : cases) {
    SCOPED_TRACE(one.from + " to " + one.to);
    EXPECT_EQ("", Ok({"--export-file-as-file", "--file-from", one.from, "--file-to", one.to}));
    EXPECT_TRUE(abc == ReadFile(one.target));
  }
  Refused(153, "Repository error: file joined.tar exists\n",
          {"--export-file-as-file", "--file-from", work / "local/backup_1001011200.tar2", "--file-to",
           Url("/up/joined.tar")});
  EXPECT_TRUE(abc == ReadFile(Remote("/up/joined.tar")));
  EXPECT_EQ(Args{"joined.tar"}, ListTree(Remote("/up")));
  EXPECT_EQ(Args{}, ListTree(install.tmp()));
}

// A failure leaves nothing in the temporary directory, the local repository or at the destination.
class FtpFailures : public FtpCommands {
 protected:
  void ExpectFailure(const RunResult& r, int code, const std::string& out) {
    EXPECT_EQ(code, r.code) << r.out;
    EXPECT_EQ(out, r.out);
    EXPECT_EQ(Args{}, ListTree(install.tmp()));
    EXPECT_EQ(Args{}, ListTree(install.dumps()));
    EXPECT_FALSE(Exists(work / "dst/out.tar"));
  }
  // A list, an info, an import into the local repository and a download join.
  std::vector<RunResult> Everything(const std::string& base, const std::string& password = "pw") {
    const Env env = {{"DUMP_STORAGE_PASSWD", password}, {"DUMP_STORAGE_PASSWD_SRC", password}};
    const std::string file = base + "/in/backup_1001011200.tar";
    return {Exec({"--get-ftp-dump-list", "--dump-storage", base + "/in"}, env),
            Exec({"--get-ftp-dump-info", "--dump-storage", base + "/in", "--dump-file-specification",
                  "backup_1001011200.tar"}, env),
            Exec({"--import-file-as-dump", "--dump-file-specification", file}, env),
            Exec({"--export-file-as-file", "--file-from", file, "--file-to", work / "dst/out.tar"}, env)};
  }
};

// Refused logins and directories exit 121, unresolved hosts 124, refused connections 125, a server
// hanging up or without the TLS asked for 126 (nothing but AUTH sent), a missing file 151.
TEST_F(FtpFailures, EachKindOfServerFailureHasItsExitCodeAndMessage) {
  FtpServer hangingUp("hang-up"), plain;
  const struct { std::string base, password; int code; std::string curl; } cases[] = {
      {Url(""), "wrong", 121, "Login denied"},
      {Url(""), "pw", 121, "Access denied to remote resource"},
      {"ftp://dk@no-such-host.invalid", "pw", 124, "Couldn't resolve host name"},
      {"ftp://dk@127.0.0.1:" + std::to_string(ClosedLocalPort()), "pw", 125, "Couldn't connect to server"},
      {hangingUp.Url("", "dk"), "pw", 126, "Failure when receiving data from the peer"},
      {"ftps" + plain.Url("", "dk").substr(3), "pw", 126, "Requested SSL level failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base + " " + c.curl);
    for (const RunResult& r : Everything(c.base, c.password)) ExpectFailure(r, c.code, LIST_FAILED + c.curl + "\n");
  }
  const Args sent = plain.Commands();
  EXPECT_FALSE(sent.empty());
  EXPECT_EQ(static_cast<long>(sent.size()), Count(sent, "AUTH ")) << testing::PrintToString(sent);

  Shell("mkdir -p '" + Remote("/in") + "'");
  const std::vector<RunResult> results = Everything(Url(""));
  EXPECT_EQ(0, results[0].code) << results[0].out;
  EXPECT_EQ(DECLARATION + "<dump-list/>\n", results[0].out);
  ExpectFailure(results[1], 151, "Repository error: File 'backup_1001011200.tar' not found\n");
  for (int i : {2, 3})
    ExpectFailure(results[i], 151, "Repository error: file 'backup_1001011200.tar' does not exists\n");
}

// Transfers cut short or stalled end soon after the time-out; a stalled upload's file is deleted.
TEST_F(FtpFailures, TransfersThatStopLeaveNoPartialFiles) {
  WriteFile(work / "src/big.tar", Noise(32 << 20, 5));  // more than the socket buffers hold
  const Args down = {"--export-file-as-file", "--file-from", "URL", "--file-to", work / "dst/out.tar"};
  const Args up = {"--export-file-as-file", "--file-from", work / "src/big.tar", "--file-to", "URL"};
  const std::string read = "Transport error: unable to read file backup_1001011200.tar: Curl error: ",
                    put = "Transport error: unable to put local file " + (work / "src/big.tar") +
                          " to backup_1001011200.tar: Curl error: ";
  const struct { std::string mode; Args args; std::string out; } cases[] = {  // "URL": the server's file
      {"drop-download", down, read + "Transferred a partial file\n"},
      {"drop-download", {"--import-file-as-dump", "--dump-file-specification", "URL"},
       "Transport error: Unable to download remote file 'backup_1001011200.tar': Curl error: Transferred a partial "
       "file\n"},
      {"drop-upload", up, put + "Failed sending data to the peer\n"},
      {"stall-download", down, read + "Timeout was reached\n"},
      {"stall-upload", up, put + "Timeout was reached\n"},
      {"stall", {"--get-ftp-dump-list", "--dump-storage", "URL"}, LIST_FAILED + "Timeout was reached\n"},
  };
  for (const auto& c : cases) {
    FtpServer server(c.mode);
    Shell("mkdir '" + server.root() + "/in'");
    if (c.args != up) WriteFile(server.root() + "/in/backup_1001011200.tar", Noise(400000, 4));
    Args args = c.args;
    std::replace(args.begin(), args.end(), std::string("URL"), server.Url("/in/backup_1001011200.tar", "dk"));
    SCOPED_TRACE(c.mode + " " + args[0]);
    const auto start = std::chrono::steady_clock::now();
    RunResult r = Exec(args, {{"DUMPKEEP_TEST_FTP_TIMEOUT", "2"}});
    if (c.mode == "drop-upload") r.out = OneDroppedUploadText(r.out);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(14));
    ExpectFailure(r, 126, c.out);
    EXPECT_FALSE(c.mode == "stall-upload" && Exists(server.root() + "/in/backup_1001011200.tar"));
  }
}

// Time-outs bound silence, never length: transfers crawling about 8 s each way outlast a 3 s one.
TEST_F(FtpFailures, SlowTransfersOutlastTheTimeOut) {
  FtpServer slow("throttle");
  const std::string data = Noise(16 << 20, 10);
  WriteFile(slow.root() + "/in/backup_1001011200.tar", data);
  for (const Args& args : {Args{"--export-file-as-file", "--file-from", slow.Url("/in/backup_1001011200.tar", "dk"),
                                "--file-to", work / "slow.tar"},
                           Args{"--export-file-as-file", "--file-from", work / "slow.tar", "--file-to",
                                slow.Url("/in/up.tar", "dk")}}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("", Ok(args, {{"DUMPKEEP_TEST_FTP_TIMEOUT", "3"}}));
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  }
  EXPECT_TRUE(data == ReadFile(work / "slow.tar"));
  EXPECT_TRUE(data == ReadFile(slow.root() + "/in/up.tar"));
}

// Each of Debian's servers (missing: a failure) in each mode acts on exactly the named file.
class FtpRealServers : public ::testing::TestWithParam<std::tuple<const char*, bool>>, public Dumpkeep {
 protected:
  FtpRealServers() : server(std::get<0>(GetParam())) { passive = std::get<1>(GetParam()); }
  std::string Remote(const std::string& path) const { return server.root() + path; }

  RealFtpServer server;
};

TEST_P(FtpRealServers, OddNamesActOnExactlyTheNamedFile) {
  // "pctA_..." is what "pct%41_..." decodes to, and is bigger; "victimA_..." what "victim%41_..." would.
  const std::vector<Export> served = {{"my backup_1001011200.tar", 1}, {"pct%41_1001021200.tar", 1},
                                      {"pctA_1001021200.tar", 2}, {"hash#q?;type=a_1001031200.tar", 1},
                                      {"-dash \xC3\xA9t\xC3\xA9_1001041200.tar", 1}};
  WriteExports(Remote("/in"), served);
  Shell("mkdir -p '" + Remote("/out") + "' '" + Remote("/repo/clients/c1") + "'");
  WriteFile(Remote("/out/victimA_1001011200.tar"), "not to be touched");
  server.Share();
  Args listed;
  for (const Export& one : served) {
    listed.push_back(Brief(Remote("/in"), one.first));
    EXPECT_EQ(DECLARATION + Brief(Remote("/in"), one.first, ""),
              Ok({"--get-ftp-dump-info", "--dump-storage", server.Url("/in"), "--dump-file-specification", one.first}));
  }
  EXPECT_EQ(Sorted(listed), ListedDumps(Ok({"--get-ftp-dump-list", "--dump-storage", server.Url("/in")})));
  EXPECT_EQ("", Ok({"--export-file-as-file", "--file-from", server.Url("/in/pct%41_1001021200.tar"), "--file-to",
                    work / "back/pct.tar"}));
  EXPECT_TRUE(ReadFile(Remote("/in/pct%41_1001021200.tar")) == ReadFile(work / "back/pct.tar"));

  const std::string data = Noise(300000, 7);
  WriteFile(work / "up.tar", data);
  Args targets = {"victim%41_1001011200.tar", "sp ace#h?q_1001011200.tar", "-lead\xC3\xA9 _1001011200.tar"};
  for (const std::string& target : targets) {
    EXPECT_EQ("", Ok({"--export-file-as-file", "--file-from", work / "up.tar", "--file-to",
                      server.Url("/out/" + target)}));
    EXPECT_TRUE(data == ReadFile(Remote("/out/" + target))) << target;
  }
  targets.push_back("victimA_1001011200.tar");
  EXPECT_EQ(Sorted(targets), ListTree(Remote("/out")));
  EXPECT_EQ("not to be touched", ReadFile(Remote("/out/victimA_1001011200.tar")));

  Args remaining = ListTree(Remote("/in"));
  remaining.erase(std::find(remaining.begin(), remaining.end(), "hash#q?;type=a_1001031200.tar"));
  EXPECT_EQ("", Ok({"--delete-exported-dump", "--dump-storage", server.Url("/in"), "--dump-file-specification",
                    "hash#q?;type=a_1001031200.tar"}));
  EXPECT_EQ(remaining, ListTree(Remote("/in")));

  EXPECT_EQ("clients/c1/backup_info_1001011200.xml\n",
            Ok({"--import-file-as-dump", "--dump-storage", server.Url("/repo"), "--dump-file-specification",
                server.Url("/in/my backup_1001011200.tar")}));
  EXPECT_EQ("", Ok({"--delete-dump", "--dump-storage", server.Url("/repo"), "--dump-specification",
                    "clients/c1/backup_info_1001011200.xml"}));
  EXPECT_EQ((Args{".discovered/", ".discovered/client-guid-c1_c1", "clients/", "clients/c1/",
                  "clients/c1/.discovered/"}), ListTree(Remote("/repo")));
  EXPECT_EQ(Args{}, ListTree(install.tmp()));
}

INSTANTIATE_TEST_SUITE_P(Debian, FtpRealServers,
                         ::testing::Combine(::testing::Values("vsftpd", "proftpd", "pure-ftpd"), ::testing::Bool()),
                         [](const auto& info) {
                           return Named(std::get<0>(info.param)) + (std::get<1>(info.param) ? "Passive" : "Active");
                         });

// Pure-FTPd cuts listings at 10,000 entries, saying so in its final reply only: they are refused.
class FtpPureFtpd : public ::testing::Test, public Dumpkeep {};

TEST_F(FtpPureFtpd, ListingsTheServerCutsShortAreRefused) {
  RealFtpServer server("pure-ftpd");
  Shell("mkdir -p '" + server.root() + "/in' && cd '" + server.root() +
        "/in' && seq -f 'backup_%010.0f.tar' 1001011200 1001021200 | xargs touch");
  server.Share();
  passive = true;
  const std::string cut = LIST_FAILED + "Transferred a partial file\n";
  Refused(126, cut, {"--get-ftp-dump-list", "--dump-storage", server.Url("/in")});
  Refused(126, cut, {"--get-ftp-dump-info", "--dump-storage", server.Url("/in"), "--dump-file-specification",
                     "backup_1001021200.tar"});
}

// FTP over TLS trusts only a certificate the named CA signed for the host; plain FTP is refused.
class FtpsServers : public ::testing::TestWithParam<const char*>, public Dumpkeep {
 protected:
  FtpsServers() { env["DUMPKEEP_FTPS_CA_FILE"] = certificates.CaFile(); }

  TestCertificates certificates;
};

TEST_P(FtpsServers, VerifiedSessionsOnlyAndNeverPlain) {
  const std::string kind = GetParam();
  for (const std::string cert : {"good", "self-signed", "wrong-host"}) {
    SCOPED_TRACE(cert);
    RealFtpServer server(kind, certificates.Cert(cert), certificates.Key(cert));
    WriteExports(server.root() + "/in", {{"backup_1001011200.tar", 1}});
    server.Share();
    // The system's trust store does not know the test CA.
    const Env refusing = cert == "good" ? Env{{"DUMPKEEP_FTPS_CA_FILE", "\x01unset"}} : Env{};
    const std::string unverified = LIST_FAILED + "SSL peer certificate or SSH remote key was not OK\n";
    Refused(126, unverified, {"--get-ftp-dump-list", "--dump-storage", server.Url("/in", "ftps")}, refusing);
    WriteFile(work / "up.tar", "data");
    Refused(126, unverified, {"--export-file-as-file", "--file-from", work / "up.tar", "--file-to",
                              server.Url("/in/up.tar", "ftps")}, refusing);
    EXPECT_FALSE(Exists(server.root() + "/in/up.tar"));
    if (cert != "good") continue;

    EXPECT_EQ(Args{Brief(server.root() + "/in", "backup_1001011200.tar")},
              ListedDumps(Ok({"--get-ftp-dump-list", "--dump-storage", server.Url("/in", "ftps")})));
    // Sizes a server handing out TLS 1.3 session tickets on data connections dropped now and then.
    for (size_t size : {150000u, 400000u, 700000u, 1000000u, 1000001u, 250000u}) {
      SCOPED_TRACE(size);
      const std::string data = Noise(size, static_cast<unsigned>(size)), name = "/in/up" + std::to_string(size),
                        url = server.Url(name, "ftps");
      WriteFile(work / "up.tar", data);
      EXPECT_EQ("", Ok({"--export-file-as-file", "--file-from", work / "up.tar", "--file-to", url}));
      EXPECT_TRUE(data == ReadFile(server.root() + name));
      EXPECT_EQ("", Ok({"--export-file-as-file", "--file-from", url, "--file-to", work / name}));
      EXPECT_TRUE(data == ReadFile(work / name));
    }
    // Plain FTP stays plain, and is refused (Pure-FTPd leaves it unanswered).
    passive = true;
    const bool vsftpd = kind == "vsftpd";
    Refused(vsftpd ? 121 : 126, LIST_FAILED + (vsftpd ? "Login denied\n" : "Timeout was reached\n"),
            {"--get-ftp-dump-list", "--dump-storage", server.Url("/in")});
  }
  EXPECT_EQ(Args{}, ListTree(install.tmp()));
}

INSTANTIATE_TEST_SUITE_P(Debian, FtpsServers, ::testing::Values("vsftpd", "pure-ftpd"),
                         [](const auto& info) { return Named(info.param); });

}  // namespace
