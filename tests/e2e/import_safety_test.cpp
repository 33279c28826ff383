// Imports through the built binary as a hostile party and an unlucky operator
// would drive them: forged archives, imports killed at each step, other
// commands running while an import is under way, odd files where archives
// should be. Every case compares the repository tree before and after.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/archive_support.h"
#include "tests/support/test_support.h"

namespace {

using Words = std::vector<std::string>;
using dktest::ExportedDump;

extern "C" char** environ;

const std::string LABEL = "1001011200";

// The binary started in the background with DUMPKEEP_FAULT_POINT set: it stops
// itself at that point, and the test decides what happens then.
class PausedRun {
 public:
  PausedRun(const Words& args, const std::map<std::string, std::string>& env, const std::string& point) {
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) envText.push_back(*e);
    for (const auto& entry : env) envText.push_back(entry.first + "=" + entry.second);
    envText.push_back("DUMPKEEP_FAULT_POINT=" + point);
    Words argv = {dktest::DumpkeepBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 1);
      ::dup2(null, 2);
      std::vector<char*> a, e;
      for (std::string& s : argv) a.push_back(&s[0]);
      for (std::string& s : envText) e.push_back(&s[0]);
      a.push_back(nullptr);
      e.push_back(nullptr);
      ::execve(a[0], a.data(), e.data());
      ::_exit(127);
    }
  }
  ~PausedRun() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // True once the process has stopped at its point; false when it ended
  // without reaching it.
  bool WaitStopped() {
    int status = 0;
    if (::waitpid(pid_, &status, WUNTRACED) != pid_) return false;
    if (WIFSTOPPED(status)) return true;
    reaped_ = true;
    return false;
  }
  void Kill() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    reaped_ = true;
  }
  // Lets it go on and returns its exit code.
  int Resume() {
    ::kill(pid_, SIGCONT);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Holds the writers' lock of a local repository as another process would.
class HeldLock {
 public:
  // Close-on-exec: a child of the test holding it too would keep the lock.
  explicit HeldLock(const std::string& root) : fd_(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    EXPECT_EQ(0, ::flock(fd_, LOCK_EX));
  }
  ~HeldLock() { Release(); }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

Words Without(const Words& snapshot, const std::string& part) {
  Words kept;
  for (const std::string& line : snapshot) {
    if (line.find(part) == std::string::npos) kept.push_back(line);
  }
  return kept;
}

class ImportSafety : public ::testing::Test {
 protected:
  std::map<std::string, std::string> Env() const { return {{"OVR_CONF_DIR", install.confDir()}}; }

  dktest::RunResult Run(Words args) {
    args.push_back("--session-path=" + (work / "session"));
    return dktest::RunDumpkeep(args, Env());
  }
  dktest::RunResult Import(const std::string& archive, const Words& extra = {}) {
    Words args = {"--import-file-as-dump", "--dump-file-specification", archive};
    args.insert(args.end(), extra.begin(), extra.end());
    return Run(args);
  }
  std::unique_ptr<PausedRun> ImportPausedAt(const std::string& archive, const std::string& point) {
    return std::unique_ptr<PausedRun>(new PausedRun(
        {"--import-file-as-dump", "--dump-file-specification", archive, "--session-path=" + (work / "paused")}, Env(),
        point));
  }
  std::string List(const ExportedDump& dump) {
    dktest::RunResult r = Run({"--get-dump-list", "--type", dump.type, "--guid", dump.guid, "--name", dump.objectId});
    EXPECT_EQ(0, r.code) << r.out;
    return r.out;
  }
  std::string Dumps(const std::string& rel) const { return install.dumps() + "/" + rel; }
  Words Snapshot() const { return dktest::SnapshotTree(install.dumps()); }

  // An exported client dump with `files` content files of `bytes` random bytes each.
  ExportedDump Exported(const std::string& archive, int files = 1, size_t bytes = 64, bool gzip = false) {
    ExportedDump dump;
    dump.contents.clear();
    for (int i = 0; i < files; ++i) dump.contents.push_back("backup_part" + std::to_string(i) + "_" + LABEL + ".tgz");
    dktest::TempDir tree;
    Words members = dktest::WriteDumpTree(tree.path(), dump);
    for (const std::string& content : dump.contents) {
      dktest::Shell("head -c " + std::to_string(bytes) + " /dev/urandom > '" + (tree / content) + "'");
    }
    dktest::PackMembers(tree.path(), members, archive, gzip);
    return dump;
  }

  // A server dump carrying the client dump `client` (in clients/c1), packed
  // into `serverArchive`; the client's own export goes to `clientArchive`.
  void PackServerWithClient(const ExportedDump& client, const std::string& serverArchive,
                            const std::string& clientArchive) {
    dktest::TempDir tree;
    const Words clientMembers = dktest::WriteDumpTree(tree / "clients/c1", client);
    ExportedDump server;
    server.type = "server";
    server.objectId = "";
    server.guid = "00000000-0000-4000-8000-000000000000";
    server.label = client.label;
    server.contents = {};
    Words members = dktest::WriteDumpTree(tree.path(), server);
    for (const std::string& m : clientMembers) members.push_back("clients/c1/" + m);
    dktest::PackMembers(tree.path(), members, serverArchive, false);
    if (!clientArchive.empty()) dktest::PackMembers(tree / "clients/c1", clientMembers, clientArchive, false);
  }

  // What a complete import of `archive` leaves in an empty repository of its own.
  Words CleanImportSnapshot(const std::string& archive) {
    dktest::SampleInstallation other;
    dktest::RunResult r = dktest::RunDumpkeep(
        {"--import-file-as-dump", "--dump-file-specification", archive, "--session-path=" + (work / "other")},
        {{"OVR_CONF_DIR", other.confDir()}});
    EXPECT_EQ(0, r.code) << r.out;
    return dktest::SnapshotTree(other.dumps());
  }

  dktest::SampleInstallation install;
  dktest::TempDir work;
};

// One forged archive per row: each is refused with its status and message
// before anything is written, and the repository stays as it was.
TEST_F(ImportSafety, ForgedArchivesChangeNothing) {
  // A dump of another object is in the repository already.
  ExportedDump victim;
  victim.objectId = "victim";
  victim.label = "2612010000";
  victim.contents = {"backup_user_2612010000.tgz"};
  dktest::PackDump(victim, work / "victim_2612010000.tar", false);
  ASSERT_EQ(0, Import(work / "victim_2612010000.tar").code);
  // An orphan sidecar without its descriptor.
  dktest::WriteFile(Dumps("clients/c1/.discovered/backup_info_" + LABEL + "/objectid_c1"), "");

  struct Case {
    std::string name;
    std::function<void(const std::string& tree, Words& members)> forge;
    int code;
    std::string message;
  };
  const std::string sidecar = ".discovered/backup_info_" + LABEL + "/";
  const std::vector<Case> cases = {
      {"a verdict stored as a directory",
       [&](const std::string& tree, Words& m) {
         dktest::WriteFile(tree + "/" + sidecar + "status_OK/x", "");
         m.push_back(sidecar + "status_OK/");
         m.push_back(sidecar + "status_OK/x");
       },
       152, "Discovered item '" + sidecar + "status_OK' is not a dump property"},
      {"a sidecar item with content",
       [&](const std::string& tree, Words&) { dktest::WriteFile(tree + "/" + sidecar + "size_1024", "1"); }, 152,
       "Discovered item '" + sidecar + "size_1024' is not empty"},
      {"an item of no known kind",
       [&](const std::string& tree, Words& m) {
         dktest::WriteFile(tree + "/" + sidecar + "script_x", "");
         m.push_back(sidecar + "script_x");
       },
       152, "Discovered item '" + sidecar + "script_x' is not a dump property"},
      {"two object ids",
       [&](const std::string& tree, Words& m) {
         dktest::WriteFile(tree + "/" + sidecar + "objectid_c9", "");
         m.push_back(sidecar + "objectid_c9");
       },
       152, "holds more than one 'objectid' item"},
      {"a nested sidecar without its descriptor",
       [&](const std::string& tree, Words& m) {
         dktest::WriteFile(tree + "/clients/c9/.discovered/backup_info_" + LABEL + "/objectid_c9", "");
         m.push_back("clients/c9/.discovered/backup_info_" + LABEL + "/objectid_c9");
       },
       152, "Discovered dir 'clients/c9/.discovered/backup_info_" + LABEL + "' belongs to no descriptor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dktest::TempDir tree;
    ExportedDump dump;
    dump.objectId = "c2";
    Words members = dktest::WriteDumpTree(tree.path(), dump);
    c.forge(tree.path(), members);
    const std::string archive = work / ("forged_" + LABEL + ".tar");
    dktest::PackMembers(tree.path(), members, archive, false);
    const Words before = Snapshot();
    dktest::RunResult r = Import(archive);
    EXPECT_EQ(c.code, r.code) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(c.message)) << r.out;
    EXPECT_EQ(before, Snapshot());
    EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
  }

  const Words before = Snapshot();
  {
    // A descriptor beside the victim's, whose sidecar claims the victim's
    // sidecar directory and names an owner of the forger's choosing.
    dktest::TempDir tree;
    const std::string stolen = ".discovered/backup_info_2612010000/";
    Words members = {"backup_xinfo_2612010000.xml", ".discovered/backup_xinfo_2612010000/objectid_victim",
                     stolen + "owner_EVIL", stolen + "ownertype_client", stolen + "objectid_victim"};
    ExportedDump forged = victim;
    forged.prefix = "backup";
    dktest::WriteFile(tree / "backup_xinfo_2612010000.xml", dktest::DescriptorXml(forged));
    for (size_t i = 1; i < members.size(); ++i) dktest::WriteFile(tree / members[i], "");
    dktest::PackMembers(tree.path(), members, work / "steal_2612010000.tar", false);
    dktest::RunResult r = Import(work / "steal_2612010000.tar");
    EXPECT_EQ(152, r.code) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Discovered dir '.discovered/backup_info_2612010000' belongs to no "
                                            "descriptor of the archive"))
        << r.out;
  }
  {
    // An item added to the orphan sidecar is refused naming the path.
    ExportedDump orphanOwner;  // objectid c1, label LABEL: the orphan sidecar's dump
    dktest::PackDump(orphanOwner, work / ("orphan_" + LABEL + ".tar"), false);
    dktest::RunResult r = Import(work / ("orphan_" + LABEL + ".tar"));
    EXPECT_EQ(153, r.code) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("would be added to the existing discovered dir 'clients/c1/.discovered/"
                                            "backup_info_" + LABEL + "'"))
        << r.out;
  }
  {
    // A second dump of the victim whose content file has the victim's name
    // but other bytes.
    dktest::TempDir tree;
    ExportedDump renamed = victim;
    Words members = dktest::WriteDumpTree(tree.path(), renamed);
    // Same content name, other bytes; another descriptor name of the same label.
    dktest::WriteFile(tree / "backup_user_2612010000.tgz", "other bytes");
    const std::string descriptor = "backup_info_2612010000.xml", moved = "backup_2info_2612010000.xml";
    ::rename((tree / descriptor).c_str(), (tree / moved).c_str());
    ::rename((tree / ".discovered/backup_info_2612010000").c_str(),
             (tree / ".discovered/backup_2info_2612010000").c_str());
    Words renamedMembers;
    for (std::string m : members) {
      if (m == descriptor) m = moved;
      const std::string from = ".discovered/backup_info_2612010000/";
      if (m.compare(0, from.size(), from) == 0) m = ".discovered/backup_2info_2612010000/" + m.substr(from.size());
      renamedMembers.push_back(m);
    }
    dktest::PackMembers(tree.path(), renamedMembers, work / "differs_2612010000.tar", false);
    dktest::RunResult r = Import(work / "differs_2612010000.tar");
    EXPECT_EQ(153, r.code) << r.out;
    EXPECT_NE(std::string::npos,
              r.out.find("file 'clients/victim/backup_user_2612010000.tgz' exists with other content"))
        << r.out;
  }
  EXPECT_EQ(before, Snapshot());

  // An archive without any sidecar directory is refused by the archiver step.
  {
    dktest::TempDir tree;
    ExportedDump bare;
    dktest::WriteFile(tree / bare.Descriptor(), dktest::DescriptorXml(bare));
    dktest::WriteFile(tree / "backup_user_" + LABEL + ".tgz", "x");
    dktest::PackMembers(tree.path(), {bare.Descriptor(), "backup_user_" + LABEL + ".tgz"}, work / "bare.tar", false);
    dktest::RunResult r = Import(work / "bare.tar");
    EXPECT_EQ(1, r.code) << r.out;
    EXPECT_EQ(0u, r.out.find("Archiver error: unable to extract files from ")) << r.out;
  }
  EXPECT_EQ(before, Snapshot());
}

// A member name that tar would take for an option, were it not marked as a name.
TEST_F(ImportSafety, MemberNamesNeverReachTarAsOptions) {
  ExportedDump dump;
  dump.prefix = "--to-command=touch PWNED;x";
  dump.contents = {};
  dktest::TempDir tree;
  const Words members = dktest::WriteDumpTree(tree.path(), dump);
  dktest::PackMembers(tree.path(), members, work / ("option_" + LABEL + ".tar"), false);
  dktest::RunResult r = dktest::RunDumpkeep({"--import-file-as-dump", "--dump-file-specification",
                                             work / ("option_" + LABEL + ".tar"), "--session-path=" + (work / "s")},
                                            Env(), work.path());
  EXPECT_EQ(0, r.code) << r.out;
  EXPECT_FALSE(dktest::Exists(work / "PWNED"));
  EXPECT_TRUE(dktest::Exists(Dumps("clients/c1/" + dump.Descriptor())));
}

// The import stopped at each of its steps and killed there: the repository
// never shows a dump that is not complete, no child of the import lives on,
// and the next writer undoes the killed import exactly, so that importing the
// archive again gives what a clean import gives.
TEST_F(ImportSafety, KilledAtAnyStepIsUndoneByTheNextWriter) {
  const std::string archive = work / ("backup_" + LABEL + ".tgz");
  const ExportedDump dump = Exported(archive, 3, 256 << 10, true);
  const Words clean = CleanImportSnapshot(archive);
  // An unrelated dump the repository holds throughout.
  ExportedDump other;
  other.objectId = "u1";
  other.guid = "2f3c0d1e-0000-4000-8000-0000000000a1";  // not in the listings below
  other.label = "2001011200";
  other.contents = {"backup_user_2001011200.tgz"};
  dktest::PackDump(other, work / "other_2001011200.tar", false);
  ASSERT_EQ(0, Import(work / "other_2001011200.tar").code);
  const Words start = Snapshot();

  struct Step {
    std::string point;
    bool listedWhileStopped;
    std::string nextWriter;  // "import" or "delete"
  };
  for (const Step& step : std::vector<Step>{{"import-extracted", false, "delete"},
                                            {"import-journal-written", false, "import"},
                                            {"import-file-placed", false, "delete"},
                                            {"import-file-placed", false, "import"},
                                            {"import-descriptor-placed", true, "import"},
                                            {"import-descriptor-placed", true, "delete"}}) {
    SCOPED_TRACE(step.point + " then " + step.nextWriter);
    {
      auto paused = ImportPausedAt(archive, step.point);
      ASSERT_TRUE(paused->WaitStopped());
      // Only a complete dump is ever listed, and nothing staged is.
      const std::string listing = List(dump);
      EXPECT_EQ(step.listedWhileStopped, listing.find(dump.Descriptor()) != std::string::npos) << listing;
      EXPECT_EQ(std::string::npos, listing.find(".import")) << listing;
      paused->Kill();
    }
    if (step.nextWriter == "import") {
      dktest::RunResult again = Import(archive);
      ASSERT_EQ(0, again.code) << again.out;
      Words expected = clean;
      for (const std::string& line : start) {
        if (std::find(expected.begin(), expected.end(), line) == expected.end()) expected.push_back(line);
      }
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(expected, Snapshot());
      ASSERT_EQ(0, Run({"--delete-dump", "--dump-specification", "clients/c1/" + dump.Descriptor()}).code);
      // What deletion leaves of a dump (its empty directories, its index item).
      for (const std::string& line : Snapshot()) {
        if (std::find(start.begin(), start.end(), line) == start.end()) {
          EXPECT_TRUE(line.find(LABEL) == std::string::npos) << line;
        }
      }
      dktest::Shell("rm -rf '" + Dumps("clients/c1") + "' '" + Dumps(".discovered/" + dump.guid + "_c1") + "'");
      ASSERT_EQ(start, Snapshot());
    } else {
      // Deleting the other dump undoes the killed import first.
      ASSERT_EQ(0, Run({"--delete-dump", "--dump-specification", "clients/u1/" + other.Descriptor()}).code);
      EXPECT_EQ(Without(start, "2001011200"), Snapshot());
      ASSERT_EQ(0, Import(work / "other_2001011200.tar").code);
      ASSERT_EQ(start, Snapshot());
    }
    EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
  }
}

// Killed while tar is still writing: tar dies with the import, and the next
// import removes the staging directory and imports the archive whole.
TEST_F(ImportSafety, KilledDuringExtractionTakesItsChildrenAlong) {
  // A quarter of a gigabyte of zeros packs small and takes tar a while to write out.
  const std::string archive = work / ("backup_" + LABEL + ".tgz");
  ExportedDump dump;
  dump.contents = {"backup_part0_" + LABEL + ".tgz"};
  {
    dktest::TempDir tree;
    const Words members = dktest::WriteDumpTree(tree.path(), dump);
    dktest::Shell("head -c 268435456 /dev/zero > '" + (tree / dump.contents.front()) + "'");
    dktest::PackMembers(tree.path(), members, archive, true);
  }
  dktest::SplitIntoParts(archive, 2);  // tar reads through the joining script
  const std::string staging = Dumps(".discovered/.import");
  dktest::Shell("OVR_CONF_DIR='" + install.confDir() + "' '" + dktest::DumpkeepBinary() +
                "' --import-file-as-dump --dump-file-specification '" + archive + "' --session-path='" +
                (work / "killed") + "' >/dev/null 2>&1 & pid=$!; i=0; "
                "while [ $i -lt 1000 ] && [ -z \"$(find '" + staging +
                "' -path '*/dump/backup_part0_*' 2>/dev/null)\" ]; do sleep 0.005; i=$((i+1)); done; "
                "kill -9 $pid; wait $pid; true");
  Words staged;
  for (const std::string& path : dktest::ListTree(staging)) {
    if (path.find("/dump/backup_part0_") != std::string::npos) staged.push_back(path);
  }
  ASSERT_FALSE(staged.empty()) << "the import was not killed while extracting";
  // Nothing writes into the staging directory once its importer is gone:
  // the file tar was writing stays as short as it was.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_NE(0, dktest::Run("pgrep", {"-f", staging}).code) << dktest::Run("pgrep", {"-af", staging}).out;
  EXPECT_LT(dktest::ReadFile(staging + "/" + staged.front()).size(), 268435456u);
  EXPECT_EQ(std::string::npos, List(dump).find(dump.Descriptor()));

  ASSERT_EQ(0, Import(archive).code);
  EXPECT_TRUE(dktest::Exists(Dumps("clients/c1/" + dump.Descriptor())));
  EXPECT_EQ(268435456u, dktest::ReadFile(Dumps("clients/c1/" + dump.contents.front())).size());
  EXPECT_FALSE(dktest::Exists(staging));
  EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
}

// A failure late in the import, after files have landed: exactly what the
// import placed goes, what another writer added meanwhile stays, and so do
// the directories that hold it.
TEST_F(ImportSafety, LateFailureRemovesOnlyWhatTheImportPlaced) {
  const std::string archive = work / ("backup_" + LABEL + ".tar");
  const ExportedDump dump = Exported(archive, 2);
  const Words start = Snapshot();  // an empty repository

  // A descriptor of that name appears while the content is being placed.
  auto paused = ImportPausedAt(archive, "import-file-placed");
  ASSERT_TRUE(paused->WaitStopped());
  dktest::WriteFile(Dumps("clients/c1/" + dump.Descriptor()), "someone else's");
  dktest::WriteFile(Dumps("clients/c1/notes.txt"), "someone else's");
  EXPECT_EQ(153, paused->Resume());
  EXPECT_EQ((Words{"clients/", "clients/c1/", "clients/c1/" + dump.Descriptor(), "clients/c1/notes.txt"}),
            dktest::ListTree(install.dumps()));
  EXPECT_EQ("someone else's", dktest::ReadFile(Dumps("clients/c1/" + dump.Descriptor())));

  // From an empty repository, a failed import leaves nothing of its own: the
  // object directory and the group directory it made go too.
  dktest::Shell("rm -rf '" + Dumps("clients") + "'");
  ASSERT_EQ(start, Snapshot());
  {
    auto indexed = ImportPausedAt(archive, "import-file-placed");
    ASSERT_TRUE(indexed->WaitStopped());
    dktest::WriteFile(Dumps(".discovered/" + dump.guid + "_c1"), "appeared meanwhile");
    EXPECT_EQ(153, indexed->Resume());
    EXPECT_EQ((Words{".discovered/", ".discovered/" + dump.guid + "_c1"}), dktest::ListTree(install.dumps()));
    dktest::Shell("rm -rf '" + Dumps(".discovered") + "'");
  }
  ASSERT_EQ(start, Snapshot());
  auto second = ImportPausedAt(archive, "import-journal-written");
  ASSERT_TRUE(second->WaitStopped());
  dktest::WriteFile(Dumps("clients/c1/backup_part1_" + LABEL + ".tgz"), "appeared meanwhile");
  EXPECT_EQ(153, second->Resume());
  dktest::Shell("rm '" + Dumps("clients/c1/backup_part1_" + LABEL + ".tgz") + "'");
  EXPECT_EQ((Words{"clients/", "clients/c1/"}), dktest::ListTree(install.dumps()));
  dktest::Shell("rm -rf '" + Dumps("clients") + "'");
  EXPECT_EQ(start, Snapshot());
  EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
}

// While an import is under way the other commands see none of it.
TEST_F(ImportSafety, OtherCommandsNeitherSeeNorDisturbAnImport) {
  // A server dump: the staged tree holds a whole object directory of a client.
  const std::string archive = work / ("backup_" + LABEL + ".tar");
  ExportedDump dump;
  dump.contents = {"backup_part0_" + LABEL + ".tgz"};
  PackServerWithClient(dump, archive, "");
  auto paused = ImportPausedAt(archive, "import-extracted");
  ASSERT_TRUE(paused->WaitStopped());

  const std::string serverList = Run({"--get-dump-list", "--type", "server", "--guid", "g"}).out;
  EXPECT_EQ(std::string::npos, serverList.find(LABEL)) << serverList;
  EXPECT_EQ(std::string::npos, List(dump).find(LABEL));
  EXPECT_EQ("0\n", Run({"--get-domain-dumps-disc-usage", "--domain-guid", dump.guid}).out);
  ExportedDump domain = dump;
  domain.type = "domain";
  EXPECT_EQ(std::string::npos, List(domain).find(LABEL));

  EXPECT_EQ(0, paused->Resume());
  EXPECT_TRUE(dktest::Exists(Dumps("clients/c1/backup_part0_" + LABEL + ".tgz")));
}

// Every writing command waits while another process holds the writers' lock.
TEST_F(ImportSafety, WritersTakeTurns) {
  const std::string archive = work / ("backup_" + LABEL + ".tar");
  const ExportedDump dump = Exported(archive, 1);
  dktest::WriteFile(work / "exports/backup_2001011200.tgz", "x");
  // Each command, run after the one before, changes the tree; the rotation
  // of a series of one keeps it and only has to wait.
  const std::vector<Words> commands = {
      {"--import-file-as-dump", "--dump-file-specification", archive},
      {"--rotate-dump", "--dump-specification", "clients/c1/" + dump.Descriptor(), "--dump-rotation", "1", "--guid",
       dump.guid, "--storage-structured"},
      {"--delete-dump", "--dump-specification", "clients/c1/" + dump.Descriptor()},
      {"--delete-exported-dump", "--dump-storage", work / "exports", "--dump-file-specification",
       "backup_2001011200.tgz"},
  };
  for (const Words& command : commands) {
    SCOPED_TRACE(command.front());
    const bool changes = command.front() != "--rotate-dump";
    const std::string lockRoot = command.front() == "--delete-exported-dump" ? work / "exports" : install.dumps();
    HeldLock lock(lockRoot);
    const Words before = dktest::SnapshotTree(lockRoot);
    auto run = std::async(std::launch::async, [&] { return Run(command); });
    EXPECT_EQ(std::future_status::timeout, run.wait_for(std::chrono::milliseconds(1500)));
    EXPECT_EQ(before, dktest::SnapshotTree(lockRoot));
    lock.Release();
    dktest::RunResult r = run.get();
    EXPECT_EQ(0, r.code) << r.out;
    EXPECT_EQ(changes, before != dktest::SnapshotTree(lockRoot));
  }
}

// A client dump that is part of a server dump, deleted on its own (its
// archives stay, as deletion keeps them), is imported again from its own
// export: the archives it brings are there with the same bytes and count as
// imported. A dump directory named like old staging is content like any other.
TEST_F(ImportSafety, IdenticalFilesCountAsImported) {
  ExportedDump client;
  client.contents = {"backup_user_" + LABEL + ".tgz", ".unpack_data/backup_db_" + LABEL + ".tgz"};
  PackServerWithClient(client, work / ("server_" + LABEL + ".tar"), work / ("client_" + LABEL + ".tar"));

  ASSERT_EQ(0, Import(work / ("server_" + LABEL + ".tar")).code);
  const Words whole = Snapshot();
  ASSERT_EQ(0, Run({"--delete-dump", "--dump-specification", "clients/c1/" + client.Descriptor()}).code);
  ASSERT_TRUE(dktest::Exists(Dumps("clients/c1/backup_user_" + LABEL + ".tgz")));
  dktest::RunResult r = Import(work / ("client_" + LABEL + ".tar"));
  EXPECT_EQ(0, r.code) << r.out;
  EXPECT_EQ("clients/c1/" + client.Descriptor() + "\n", r.out);
  EXPECT_EQ(whole, Snapshot());

  // Another dump into the same directory leaves the first one's content whole.
  ExportedDump later = client;
  later.label = "1002011200";
  later.contents = {"backup_user_1002011200.tgz"};
  dktest::PackDump(later, work / "later_1002011200.tar", false);
  ASSERT_EQ(0, Import(work / "later_1002011200.tar").code);
  EXPECT_TRUE(dktest::Exists(Dumps("clients/c1/.unpack_data/backup_db_" + LABEL + ".tgz")));
}

// The type check and the answer for a dump imported already come from the
// descriptor at the front of the archive: a copy cut short right after it
// gets the same answers, which a run that read further could not give.
TEST_F(ImportSafety, RefusalsAndRepeatsAreAnsweredFromTheFront) {
  const std::string archive = work / ("backup_" + LABEL + ".tgz");
  Exported(archive, 1, 1 << 20, true);
  ASSERT_EQ(0, Import(archive).code);
  const Words before = Snapshot();
  const std::string cut = work / ("cut/backup_" + LABEL + ".tgz");
  dktest::WriteFile(cut, dktest::ReadFile(archive).substr(0, 16384));

  dktest::RunResult again = Import(cut);
  EXPECT_EQ(111, again.code) << again.out;
  EXPECT_EQ("clients/c1/backup_info_" + LABEL + ".xml\n", again.out);
  dktest::RunResult below = Import(cut, {"--type", "domain"});
  EXPECT_EQ(112, below.code) << below.out;
  EXPECT_EQ("Import error:  Dump does not match to type domain\n", below.out);
  EXPECT_EQ(before, Snapshot());

  // Cut short, a dump the repository lacks is read to the cut and refused.
  ASSERT_EQ(0, Run({"--delete-dump", "--dump-specification", "clients/c1/backup_info_" + LABEL + ".xml"}).code);
  const Words emptied = Snapshot();
  dktest::RunResult cutShort = Import(cut);
  EXPECT_EQ(1, cutShort.code) << cutShort.out;
  EXPECT_EQ(0u, cutShort.out.find("Archiver error: ")) << cutShort.out;
  EXPECT_EQ(emptied, Snapshot());
}

// FIFOs where archives, parts or join sources should be are refused at once.
TEST_F(ImportSafety, OddFilesAreRefusedWithoutWaiting) {
  const std::string dir = work / "odd";
  dktest::Shell("mkdir -p '" + dir + "' && mkfifo '" + dir + "/fifo_1001011200.tgz'");
  Exported(dir + "/split_1001011200.tar", 1, 4096);
  dktest::SplitIntoParts(dir + "/split_1001011200.tar", 2);
  dktest::Shell("rm '" + dir + "/split_1001011200.tar1' && mkfifo '" + dir + "/split_1001011200.tar1'");
  auto run = [&](const Words& args) {
    Words all = {"20", dktest::DumpkeepBinary()};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back("--session-path=" + (work / "session"));
    return dktest::Run("timeout", all, Env());
  };
  const Words before = Snapshot();
  // A FIFO is no file of a storage: the import answers as for a missing
  // archive, or a missing part.
  const int missing = run({"--import-file-as-dump", "--dump-file-specification", dir + "/none_1001011200.tgz"}).code;
  EXPECT_EQ(151, missing);
  for (const std::string name : {"fifo_1001011200.tgz", "split_1001011200.tar"}) {
    SCOPED_TRACE(name);
    dktest::RunResult imported = run({"--import-file-as-dump", "--dump-file-specification", dir + "/" + name});
    EXPECT_EQ(name == "fifo_1001011200.tgz" ? missing : 127, imported.code) << imported.out;
    dktest::RunResult info = run({"--get-ftp-dump-info", "--dump-storage", dir, "--dump-file-specification", name});
    EXPECT_NE(124, info.code) << info.out;
    EXPECT_EQ(std::string::npos, info.out.find("dump-status=\"OK\"")) << info.out;
    dktest::RunResult joined = run({"--export-file-as-file", "--file-from", dir + "/" + name, "--file-to",
                                    "local:" + (work / "joined/out.tgz")});
    EXPECT_NE(0, joined.code) << joined.out;
    EXPECT_NE(124, joined.code) << joined.out;
    EXPECT_FALSE(dktest::Exists(work / "joined/out.tgz"));
  }
  const std::string list = run({"--get-ftp-dump-list", "--dump-storage", dir}).out;
  EXPECT_EQ(std::string::npos, list.find("fifo_")) << list;
  EXPECT_EQ(before, Snapshot());
  EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));

  // The temporary file of a killed join is cleared by the next join to that name.
  dktest::WriteFile(work / "joined/.out.tgz.joinAbc123", "partial");
  dktest::Shell("cp '" + dir + "/split_1001011200.tar' '" + work / "src_1001011200.tar" + "'");
  dktest::RunResult joined =
      run({"--export-file-as-file", "--file-from", work / "src_1001011200.tar", "--file-to",
           "local:" + (work / "joined/out.tgz")});
  EXPECT_EQ(0, joined.code) << joined.out;
  EXPECT_EQ((Words{"out.tgz"}), dktest::ListTree(work / "joined"));
}

}  // namespace
