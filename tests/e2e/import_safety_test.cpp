// Imports through the built binary as a hostile party and an unlucky operator
// would drive them: forged archives, kills, other commands meanwhile, odd files.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <set>
#include <thread>

#include "tests/support/archive_support.h"
#include "tests/support/catalogue_support.h"
#include "tests/support/test_support.h"

namespace dktest {
namespace {

using Words = std::vector<std::string>;
const std::string LABEL = "1001011200";

// The binary importing with DUMPKEEP_FAULT_POINT set stops itself (SIGSTOP)
// at that point; the test decides what happens then, and kills what is left.
struct PausedImport {
  pid_t pid = -1;
  PausedImport(const std::string& conf, const std::string& file, const std::string& session, const std::string& point) {
    const std::string binary = DumpkeepBinary(), sessionArg = "--session-path=" + session;
    if ((pid = ::fork()) != 0) return;
    ::setenv("OVR_CONF_DIR", conf.c_str(), 1);
    ::setenv("DUMPKEEP_FAULT_POINT", point.c_str(), 1);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 1), ::dup2(null, 2);
    ::execl(binary.c_str(), binary.c_str(), "--import-file-as-dump", "--dump-file-specification", file.c_str(),
            sessionArg.c_str(), nullptr);
    ::_exit(127);
  }
  ~PausedImport() { pid > 0 && (::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0)); }
  bool Stopped() {  // false: it ended without reaching its point
    int s = 0;
    if (::waitpid(pid, &s, WUNTRACED) == pid && WIFSTOPPED(s)) return true;
    pid = -1;
    return false;
  }
  int Resume() {
    int s = 0;
    ::kill(pid, SIGCONT), ::waitpid(pid, &s, 0), pid = -1;
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  }
};

class ImportSafety : public ::testing::Test {
 protected:
  RunResult Run(Words args, const std::string& cwd = "") {
    args.push_back("--session-path=" + (work / "session"));
    return RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()}}, cwd);
  }
  RunResult Import(const std::string& archive, Words extra = {}) {
    extra.insert(extra.begin(), {"--import-file-as-dump", "--dump-file-specification", archive});
    return Run(extra);
  }
  static std::string Outcome(const RunResult& r) { return std::to_string(r.code) + " " + r.out; }
  PausedImport Paused(const std::string& archive, const std::string& point) {
    return PausedImport(install.confDir(), archive, work / "paused", point);
  }
  std::string List(const ExportedDump& d) {
    const RunResult r = Run({"--get-dump-list", "--type", d.type, "--guid", d.guid, "--name", d.objectId});
    EXPECT_EQ(0, r.code) << r.out;
    return r.out;
  }
  std::string Dumps(const std::string& rel) const { return install.dumps() + "/" + rel; }
  Words Snapshot() const { return SnapshotTree(install.dumps()); }
  void Remove(const Words& rels) { for (const std::string& rel : rels) Shell("rm -rf '" + Dumps(rel) + "'"); }
  // Packs `d` into `to` (gzip for a .tgz); the output of the command `fill`, if any, is its first content file.
  void Pack(const ExportedDump& d, const std::string& to, const std::string& fill = "") {
    TempDir tree;
    const Words members = WriteDumpTree(tree.path(), d);
    if (!fill.empty()) Shell(fill + " > '" + tree / d.contents[0] + "'");
    PackMembers(tree.path(), members, to, to.back() == 'z');
  }
  // A server dump holding `client` in clients/c1; the client's own export goes to `clientArchive` if named.
  void PackServerWithClient(const ExportedDump& client, const std::string& archive, const std::string& clientArchive) {
    TempDir tree;
    const Words clientMembers = WriteDumpTree(tree / "clients/c1", client);
    ExportedDump server = client;
    server.type = "server";
    server.objectId = "";
    server.guid = "00000000-0000-4000-8000-000000000000";
    server.contents = {};
    Words members = WriteDumpTree(tree.path(), server);
    for (const std::string& m : clientMembers) members.push_back("clients/c1/" + m);
    PackMembers(tree.path(), members, archive, false);
    if (!clientArchive.empty()) PackMembers(tree / "clients/c1", clientMembers, clientArchive, false);
  }

  SampleInstallation install;
  TempDir work;
};

// Each forged archive is refused with its code and message, and the repository
// (a victim's dump, an orphan sidecar of c1) and the temporary area stay as they were.
TEST_F(ImportSafety, ForgedArchivesChangeNothing) {
  ExportedDump victim, c1, c2;
  victim.objectId = "victim";
  victim.guid = "2f3c0d1e-0000-4000-8000-0000000000a1";
  Pack(victim, work / "victim.tar");
  ASSERT_EQ(0, Import(work / "victim.tar").code);
  WriteFile(Dumps("clients/c1/" + c1.Sidecar() + "/objectid_c1"), "");
  ExportedDump renamed = victim;  // another descriptor of the victim's label
  renamed.prefix = "backup_x";
  c2.objectId = "c2";
  const std::string sc = victim.Sidecar(), forged = work / "forged.tar",
                    wrong = "152 Repository error: Dump has wrong format. Discovered ";
  // Extra members of the dump (a '/' ending a directory; "-": no sidecar at all) and their content.
  const struct { const ExportedDump& dump; Words extra; std::string content, out; } cases[] = {
      {c2, {sc + "/status_OK/", sc + "/status_OK/x"}, "", wrong + "item '" + sc + "/status_OK' is not a dump property"},
      {c2, {sc + "/size_1024"}, "1", wrong + "item '" + sc + "/size_1024' is not empty"},
      {c2, {sc + "/script_x"}, "", wrong + "item '" + sc + "/script_x' is not a dump property"},
      {c2, {sc + "/objectid_c9"}, "", wrong + "dir '" + sc + "' holds more than one 'objectid' item"},
      {c2, {"clients/c9/" + sc + "/objectid_c9"}, "",
       wrong + "dir 'clients/c9/" + sc + "' belongs to no descriptor of the archive"},
      // A sidecar of the victim's dump, naming an owner of the forger's choosing.
      {renamed, {sc + "/owner_EVIL", sc + "/ownertype_client", sc + "/objectid_victim"}, "",
       wrong + "dir '" + sc + "' belongs to no descriptor of the archive (expected '" + renamed.Sidecar() + "')"},
      {renamed, {victim.contents[0]}, "other bytes",
       "153 Repository error: file 'clients/victim/" + victim.contents[0] + "' exists with other content"},
      {c1, {}, "", "153 Repository error: file 'clients/c1/" + sc + "/GUID_" + c1.guid +
                       "' would be added to the existing discovered dir 'clients/c1/" + sc + "'"},
      {c1, {"-"}, "", "1 Archiver error: unable to extract files from " + forged},
  };
  const Words before = Snapshot();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    TempDir tree;
    Words members = WriteDumpTree(tree.path(), c.dump);
    for (const std::string& m : c.extra) {
      if (m == "-") members.resize(1 + c.dump.contents.size());  // the descriptor and the content files
      else if (std::find(members.begin(), members.end(), m) == members.end()) members.push_back(m);
      if (m != "-" && m.back() != '/') WriteFile(tree / m, c.content);
    }
    PackMembers(tree.path(), members, forged, false);
    EXPECT_EQ(c.out + "\n", Outcome(Import(forged)));
    EXPECT_EQ(before, Snapshot());
    EXPECT_EQ(Words{}, ListTree(install.tmp()));
  }
}

// A member name that tar would take for an option, were it not marked as a name.
TEST_F(ImportSafety, MemberNamesNeverReachTarAsOptions) {
  ExportedDump dump;
  dump.prefix = "--to-command=touch PWNED;x";
  dump.contents = {};
  Pack(dump, work / "option.tar");
  EXPECT_EQ("clients/c1/" + dump.Descriptor() + "\n",
            Run({"--import-file-as-dump", "--dump-file-specification", work / "option.tar"}, work.path()).out);
  EXPECT_FALSE(Exists(work / "PWNED"));
}

// The import killed at each of its steps: only a complete dump is ever listed,
// and the next writer (a deletion of another dump, or the import itself)
// undoes the killed import exactly first.
TEST_F(ImportSafety, KilledAtAnyStepIsUndoneByTheNextWriter) {
  const std::string archive = work / "backup.tgz";
  ExportedDump dump, other;
  dump.contents = {"backup_a_" + LABEL + ".tgz", "backup_b_" + LABEL + ".tgz", "backup_c_" + LABEL + ".tgz"};
  Pack(dump, archive);
  ASSERT_EQ(0, Import(archive).code);
  const Words clean = Snapshot();
  Remove({"clients", ".discovered"});
  // Another dump the repository holds throughout, and what its deletion leaves.
  other.objectId = "u1";
  other.guid = "2f3c0d1e-0000-4000-8000-0000000000a1";
  Pack(other, work / "other.tar");
  const Words deleteOther = {"--delete-dump", "--dump-specification", "clients/u1/" + other.Descriptor()};
  ASSERT_EQ(0, Import(work / "other.tar").code);
  ASSERT_EQ(0, Run(deleteOther).code);
  const Words deleted = Snapshot();
  ASSERT_EQ(0, Import(work / "other.tar").code);
  const Words start = Snapshot();
  std::set<std::string> both(clean.begin(), clean.end());
  both.insert(start.begin(), start.end());

  // The point, and whether the import itself is the next writer.
  const std::pair<std::string, bool> steps[] = {{"import-extracted", false}, {"import-journal-written", true},
                                                {"import-file-placed", false}, {"import-descriptor-placed", true}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.first);
    {
      PausedImport paused = Paused(archive, step.first);
      ASSERT_TRUE(paused.Stopped());
      const std::string listing = List(dump);
      EXPECT_EQ(step.first == "import-descriptor-placed", listing.find(dump.Descriptor()) != std::string::npos)
          << listing;
      EXPECT_EQ(std::string::npos, listing.find(".import")) << listing;
    }
    if (step.second) {
      ASSERT_EQ(0, Import(archive).code);
      EXPECT_EQ(Words(both.begin(), both.end()), Snapshot());
      Remove({"clients/c1", ".discovered/" + dump.guid + "_c1"});
    } else {
      ASSERT_EQ(0, Run(deleteOther).code);
      EXPECT_EQ(deleted, Snapshot());
      ASSERT_EQ(0, Import(work / "other.tar").code);
    }
    ASSERT_EQ(start, Snapshot());
  }
  EXPECT_EQ(Words{}, ListTree(install.tmp()));
}

// Killed while tar is still writing: tar dies with the import, and the next
// import removes the staging directory and imports the archive whole.
TEST_F(ImportSafety, KilledDuringExtractionTakesItsChildrenAlong) {
  // A quarter of a gigabyte of zeros packs small and takes tar a while to write out.
  const std::string archive = work / "backup.tgz", staging = Dumps(".discovered/.import");
  const ExportedDump dump;
  Pack(dump, archive, "head -c 268435456 /dev/zero");
  SplitIntoParts(archive, 2);  // tar reads through the joining script
  // The path of the content file being written when the import was killed.
  const std::string staged = Shell(
      "OVR_CONF_DIR='" + install.confDir() + "' '" + DumpkeepBinary() + "' --import-file-as-dump "
      "--dump-file-specification '" + archive + "' --session-path='" + (work / "killed") + "' >/dev/null 2>&1 & "
      "pid=$!; i=0; while [ $i -lt 1000 ] && [ -z \"$(find '" + staging + "' -path '*/dump/backup_user_*' "
      "2>/dev/null)\" ]; do sleep 0.005; i=$((i+1)); done; kill -9 $pid; wait $pid; find '" + staging +
      "' -path '*/dump/backup_user_*'");
  ASSERT_NE("", staged) << "the import was not killed while extracting";
  // Nothing writes on once the importer is gone: the file tar was writing stays short.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(1, dktest::Run("pgrep", {"-f", staging}).code);
  EXPECT_LT(ReadFile(staged.substr(0, staged.size() - 1)).size(), 268435456u);

  EXPECT_EQ("clients/c1/" + dump.Descriptor() + "\n", Import(archive).out);
  EXPECT_EQ(268435456u, ReadFile(Dumps("clients/c1/" + dump.contents[0])).size());
  EXPECT_FALSE(Exists(staging));
  EXPECT_EQ(Words{}, ListTree(install.tmp()));
}

// A failure late in the import, after files have landed: exactly what the
// import placed goes; another writer's file stays, with the directories holding it.
TEST_F(ImportSafety, LateFailureRemovesOnlyWhatTheImportPlaced) {
  const std::string archive = work / "backup.tar";
  ExportedDump dump;
  dump.contents.push_back("backup_part1_" + LABEL + ".tgz");
  Pack(dump, archive);
  // The point; the file another writer adds there, then the tree left.
  const std::pair<std::string, Words> cases[] = {
      {"import-file-placed", {"clients/c1/" + dump.Descriptor(), "clients/", "clients/c1/"}},
      {"import-file-placed", {".discovered/" + dump.guid + "_c1", ".discovered/"}},
      {"import-journal-written", {"clients/c1/backup_part1_" + LABEL + ".tgz", "clients/", "clients/c1/"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second[0]);
    PausedImport paused = Paused(archive, c.first);
    ASSERT_TRUE(paused.Stopped());
    WriteFile(Dumps(c.second[0]), "someone else's");
    EXPECT_EQ(153, paused.Resume());
    EXPECT_EQ(Sorted(c.second), ListTree(install.dumps()));
    EXPECT_EQ("someone else's", ReadFile(Dumps(c.second[0])));
    Remove({"clients", ".discovered"});
  }
  EXPECT_EQ(Words{}, ListTree(install.tmp()));
}

// While an import is under way the other commands see none of it.
TEST_F(ImportSafety, OtherCommandsNeitherSeeNorDisturbAnImport) {
  // A server dump: the staged tree holds a whole object directory of a client.
  const std::string archive = work / "backup.tar", none = DECLARATION + "<dump-list/>\n";
  ExportedDump dump, domain;
  domain.type = "domain";
  PackServerWithClient(dump, archive, "");
  PausedImport paused = Paused(archive, "import-extracted");
  ASSERT_TRUE(paused.Stopped());
  EXPECT_EQ(none, Run({"--get-dump-list", "--type", "server", "--guid", "g"}).out);
  EXPECT_EQ(none, List(dump));
  EXPECT_EQ(none, List(domain));
  EXPECT_EQ("0\n", Run({"--get-domain-dumps-disc-usage", "--domain-guid", dump.guid}).out);
  EXPECT_EQ(0, paused.Resume());
  EXPECT_TRUE(Exists(Dumps("clients/c1/" + dump.contents[0])));
}

// Every writing command waits while another process holds the writers' lock.
TEST_F(ImportSafety, WritersTakeTurns) {
  const std::string archive = work / "backup.tar";
  const ExportedDump dump;
  Pack(dump, archive);
  WriteFile(work / "exports/backup_2001011200.tgz", "x");
  // Each changes the tree but the rotation of a series of one, which only has to wait.
  const Words commands[] = {
      {"--import-file-as-dump", "--dump-file-specification", archive},
      {"--rotate-dump", "--dump-specification", "clients/c1/" + dump.Descriptor(), "--dump-rotation", "1", "--guid",
       dump.guid, "--storage-structured"},
      {"--delete-dump", "--dump-specification", "clients/c1/" + dump.Descriptor()},
      {"--delete-exported-dump", "--dump-storage", work / "exports", "--dump-file-specification",
       "backup_2001011200.tgz"},
  };
  for (const Words& command : commands) {
    SCOPED_TRACE(command[0]);
    const std::string root = command[0] == "--delete-exported-dump" ? work / "exports" : install.dumps();
    // Close-on-exec: a child of the test holding it too would keep the lock.
    const int lock = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(0, ::flock(lock, LOCK_EX));
    const Words before = SnapshotTree(root);
    auto run = std::async(std::launch::async, [&] { return Run(command); });
    EXPECT_EQ(std::future_status::timeout, run.wait_for(std::chrono::milliseconds(1500)));
    EXPECT_EQ(before, SnapshotTree(root));
    ::close(lock);
    EXPECT_EQ(0, run.get().code);
    EXPECT_EQ(command[0] != "--rotate-dump", before != SnapshotTree(root));
  }
}

// A client dump of a server dump, deleted on its own (its archives stay), is
// imported again from its own export: the archives there with the same bytes
// count as imported. A later dump leaves a directory named like old staging whole.
TEST_F(ImportSafety, IdenticalFilesCountAsImported) {
  ExportedDump client;
  client.contents = {"backup_user_" + LABEL + ".tgz", ".unpack_data/backup_db_" + LABEL + ".tgz"};
  PackServerWithClient(client, work / "server.tar", work / "client.tar");
  ASSERT_EQ(0, Import(work / "server.tar").code);
  const Words whole = Snapshot();
  ASSERT_EQ(0, Run({"--delete-dump", "--dump-specification", "clients/c1/" + client.Descriptor()}).code);
  ASSERT_TRUE(Exists(Dumps("clients/c1/backup_user_" + LABEL + ".tgz")));
  EXPECT_EQ("0 clients/c1/" + client.Descriptor() + "\n", Outcome(Import(work / "client.tar")));
  EXPECT_EQ(whole, Snapshot());

  ExportedDump later = client;
  later.label = "1002011200";
  later.contents = {"backup_user_1002011200.tgz"};
  Pack(later, work / "later.tar");
  ASSERT_EQ(0, Import(work / "later.tar").code);
  EXPECT_TRUE(Exists(Dumps("clients/c1/.unpack_data/backup_db_" + LABEL + ".tgz")));
}

// The type check and the answer for a dump imported already come from the
// descriptor at the front: a copy cut right after it gets the same answers.
TEST_F(ImportSafety, RefusalsAndRepeatsAreAnsweredFromTheFront) {
  const std::string archive = work / "backup.tgz", cut = work / "cut/backup.tgz";
  Pack(ExportedDump(), archive, "head -c 1048576 /dev/urandom");
  ASSERT_EQ(0, Import(archive).code);
  const Words before = Snapshot();
  WriteFile(cut, ReadFile(archive).substr(0, 16384));
  EXPECT_EQ("111 clients/c1/backup_info_" + LABEL + ".xml\n", Outcome(Import(cut)));
  EXPECT_EQ("112 Import error:  Dump does not match to type domain\n", Outcome(Import(cut, {"--type", "domain"})));
  // A server dump lies at the root, which needs no index.
  ExportedDump server;
  server.type = "server";
  server.objectId = "";
  const std::string serverArchive = work / "server.tgz", serverCut = work / "cut/server.tgz";
  Pack(server, serverArchive, "head -c 1048576 /dev/urandom");
  ASSERT_EQ(0, Import(serverArchive).code);
  const Words both = Snapshot();
  WriteFile(serverCut, ReadFile(serverArchive).substr(0, 16384));
  EXPECT_EQ("111 backup_info_" + LABEL + ".xml\n", Outcome(Import(serverCut)));
  EXPECT_EQ(both, Snapshot());
  // Deleting the server dump takes the client's files of its label too.
  Shell("rm -r '" + Dumps("backup_info_" + LABEL + ".xml") + "' '" + Dumps(".discovered/backup_info_" + LABEL) + "' '" +
        Dumps("backup_user_" + LABEL + ".tgz") + "'");
  ASSERT_EQ(before, Snapshot());
  // A dump the repository lacks is read to the cut and refused.
  ASSERT_EQ(0, Run({"--delete-dump", "--dump-specification", "clients/c1/backup_info_" + LABEL + ".xml"}).code);
  const Words emptied = Snapshot();
  EXPECT_EQ("1 Archiver error: ", Outcome(Import(cut)).substr(0, 18));
  EXPECT_EQ(emptied, Snapshot());
}

// FIFOs where archives, parts or join sources should be are refused at once;
// a killed join's temporary file is cleared by the next join to that name.
TEST_F(ImportSafety, OddFilesAreRefusedWithoutWaiting) {
  const std::string dir = work / "odd", split = dir + "/split_1001011200.tar", out = work / "joined/out.tgz";
  Shell("mkdir '" + dir + "'");
  Pack(ExportedDump(), split);
  Shell("cp '" + split + "' '" + work / "src.tar" + "'");
  SplitIntoParts(split, 2);
  Shell("mkfifo '" + dir + "/fifo_1001011200.tgz' && rm '" + split + "1' && mkfifo '" + split + "1'");
  // Each command's exit code and output, within 20 s.
  auto run = [&](Words args) {
    args.insert(args.begin(), {"20", DumpkeepBinary()});
    args.push_back("--session-path=" + (work / "session"));
    return Outcome(dktest::Run("timeout", args, {{"OVR_CONF_DIR", install.confDir()}}));
  };
  const Words before = Snapshot();
  // A FIFO is no file of a storage: it is answered as a missing file (part) is.
  const std::pair<std::string, Words> cases[] = {  // import, report, join
      {"fifo_1001011200.tgz", {"151 Repository error: file 'fifo_1001011200.tgz' does not exists\n",
                               "151 Repository error: File 'fifo_1001011200.tgz' not found\n",
                               "151 Repository error: file 'fifo_1001011200.tgz' does not exists\n"}},
      {"split_1001011200.tar", {"127 Transport error: File 'split_1001011200.tar1' not found\n",
                                "127 Transport error: File 'split_1001011200.tar1' not found\n",
                                "1 Repository error: unable to export file: Input stream error\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(c.second,
              (Words{run({"--import-file-as-dump", "--dump-file-specification", dir + "/" + c.first}),
                     run({"--get-ftp-dump-info", "--dump-storage", dir, "--dump-file-specification", c.first}),
                     run({"--export-file-as-file", "--file-from", dir + "/" + c.first, "--file-to", "local:" + out})}));
    EXPECT_FALSE(Exists(out));
  }
  EXPECT_EQ(std::string::npos, run({"--get-ftp-dump-list", "--dump-storage", dir}).find("fifo_"));
  EXPECT_EQ(before, Snapshot());
  EXPECT_EQ(Words{}, ListTree(install.tmp()));
  WriteFile(work / "joined/.out.tgz.joinAbc123", "partial");
  EXPECT_EQ("0 ", run({"--export-file-as-file", "--file-from", work / "src.tar", "--file-to", "local:" + out}));
  EXPECT_EQ((Words{"out.tgz"}), ListTree(work / "joined"));
}

}  // namespace
}  // namespace dktest
