// The built binary under faults: the exit code, the message and what each
// fault leaves on disk.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/archive_support.h"
#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

namespace {

using Words = std::vector<std::string>;

const std::string DESCRIPTOR = "clients/c1/backup_info_1001011200.xml",
                  CONTENT = "clients/c1/backup_user_1001011200.tgz";

// The repository tree holding `dump` (a client c1 dump) alone, as imported.
Words ImportedTree(const dktest::ExportedDump& dump) {
  const std::string dir = "clients/c1/", sidecar = dir + dump.Sidecar() + "/";
  return dktest::Sorted({".discovered/", ".discovered/" + dump.guid + "_c1", "clients/", dir, dir + ".discovered/",
                         sidecar, sidecar + "GUID_" + dump.guid, sidecar + "objectid_c1",
                         sidecar + "owner_2f3c0d1e-0000-4000-8000-000000000001", sidecar + "ownertype_server",
                         sidecar + "size_1024", DESCRIPTOR, CONTENT});
}

class Faults : public ::testing::Test {
 protected:
  dktest::RunResult Run(Words args, const std::string& session = "session", const std::string& cwd = "") {
    args.push_back("--session-path=" + (work / session));
    return dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()}, {"DUMP_STORAGE_PASSWD", "pw"}}, cwd);
  }
  // The run ends with `code` and prints exactly `out` (or begins with it;
  // staging names as stage_XXXXXX), without a crash: a signal, an uncaught
  // exception or a sanitizer report.
  void Expect(const dktest::RunResult& r, int code, const std::string& out, bool begins = false) {
    for (const char* crash : {"Sanitizer", "terminate called", "runtime error"})
      EXPECT_EQ(std::string::npos, r.err.find(crash)) << r.err;
    EXPECT_EQ(code, r.code) << r.out;
    const std::string printed = std::regex_replace(r.out, std::regex("stage_[A-Za-z0-9]{6}"), "stage_XXXXXX");
    EXPECT_EQ(out, printed.substr(0, begins ? out.size() : std::string::npos)) << r.out;
  }
  // An exported client dump whose content file holds `bytes` random bytes,
  // kept in work/content for comparison.
  dktest::ExportedDump MakeArchive(const std::string& archive, size_t bytes, bool gzip) {
    dktest::ExportedDump dump;
    dktest::TempDir tree;
    const Words members = dktest::WriteDumpTree(tree.path(), dump);
    dktest::Shell("head -c " + std::to_string(bytes) + " /dev/urandom | tee '" + (work / "content") + "' > '" +
                  (tree / dump.contents.front()) + "'");
    dktest::PackMembers(tree.path(), members, archive, gzip);
    return dump;
  }
  // A valid client dump archive with `member` appended by forge_archive.py,
  // which writes what tar itself would not.
  std::string Forge(const std::string& member) {
    const std::string archive = work / "forged.tar";
    dktest::TempDir tree;
    dktest::PackMembers(tree.path(), dktest::WriteDumpTree(tree.path(), dktest::ExportedDump()), archive, false);
    dktest::Shell("python3 '" + dktest::SourceDir() + "/tests/support/forge_archive.py' -a '" + archive + "' '" +
                  member + "'");
    return archive;
  }

  dktest::SampleInstallation install;
  dktest::TempDir work;
};

// An import and a join that run out of space on a 1 MB tmpfs fail with the
// write error and leave the disk as it was.
TEST_F(Faults, FullDiskLeavesNeitherPartialDumpsNorPartialFiles) {
  const std::string small = work / "small";
  dktest::Shell("mkdir '" + small + "'");
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_FAIL() << "cannot mount a tmpfs (this test needs root): " << std::strerror(errno);
  }
  const std::unique_ptr<const char, void (*)(const char*)> unmount(small.c_str(), [](const char* dir) {
    ::umount2(dir, MNT_DETACH);
  });
  dktest::WriteFile(small + "/repo/keep.txt", "kept");
  dktest::Shell("cd '" + work.path() + "' && head -c 1500000 /dev/urandom > b_1001011200.tgz && "
                "head -c 1500000 /dev/urandom > b_1001011200.tgz1");
  const Words before = dktest::SnapshotTree(small);
  const std::string big = work / "big.tar";
  MakeArchive(big, 3 << 20, false);
  Expect(Run({"--import-file-as-dump", "--dump-storage", small + "/repo", "--dump-file-specification", big}), 1,
         "Archiver error: from " + big + " to " + small + "/repo/.discovered/.import/stage_XXXXXX/dump:\n"
         "tar: backup_user_1001011200.tgz: Wrote only ", true);
  Expect(Run({"--export-file-as-file", "--file-from", "local:" + (work / "b_1001011200.tgz"), "--file-to",
              "local:" + small + "/out.tgz"}),
         1, "Repository error: unable to export file: Output stream error\n");
  EXPECT_EQ(before, dktest::SnapshotTree(small));
  EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
}

// Two imports of one archive at once take turns (else the loser's rollback
// takes the winner's directory): the second finds the dump there (111).
TEST_F(Faults, RacingImportsOfOneArchiveLeaveOneCompleteDump) {
  const dktest::ExportedDump dump = MakeArchive(work / "dump.tar", 4 << 20, false);
  dktest::RunResult first, second;
  std::thread a([&] { first = Run({"--import-file-as-dump", "--dump-file-specification", work / "dump.tar"}, "a"); });
  std::thread b([&] { second = Run({"--import-file-as-dump", "--dump-file-specification", work / "dump.tar"}, "b"); });
  a.join();
  b.join();
  EXPECT_EQ(dktest::Sorted({"0 " + DESCRIPTOR + "\n", "111 " + DESCRIPTOR + "\n"}),
            dktest::Sorted({std::to_string(first.code) + " " + first.out, std::to_string(second.code) + " " +
                            second.out}));
  EXPECT_EQ(ImportedTree(dump), dktest::ListTree(install.dumps()));
  EXPECT_EQ(dktest::DescriptorXml(dump), dktest::ReadFile(install.dumps() + "/" + DESCRIPTOR));
  EXPECT_TRUE(dktest::ReadFile(work / "content") == dktest::ReadFile(install.dumps() + "/" + CONTENT));
}

// A server dying while an import uploads the dump's files, the descriptor
// last, keeps what it received (no dump) and the import's journal, the local
// side nothing; the next import undoes the remains and imports the dump whole.
TEST_F(Faults, DroppedFtpUploadIsUndoneByTheNextImport) {
  auto import = [&](const dktest::FtpServer& server) {
    return Run({"--import-file-as-dump", "--dump-file-specification", work / "backup_1001011200.tgz",
                "--dump-storage", "ftp://dk@127.0.0.1:" + std::to_string(server.port()) + "/repo"});
  };
  dktest::FtpServer server("drop-upload", {{"dk", "pw"}});
  const dktest::ExportedDump dump = MakeArchive(work / "backup_1001011200.tgz", 1 << 20, true);
  dktest::Shell("mkdir '" + server.root() + "/repo'");
  dktest::RunResult dropped = import(server);
  dropped.out = dktest::OneDroppedUploadText(dropped.out);
  Expect(dropped, 126,
         "Transport error: unable to put local file " + install.tmp() +
             "/import_stage_XXXXXX/dump/backup_user_1001011200.tgz to clients/c1/backup_user_1001011200.tgz: "
             "Curl error: Failed sending data to the peer\n");
  EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
  Words remains, expected = {".discovered/.import/", ".discovered/.import/JOURNAL"};
  for (const std::string& entry : dktest::ListTree(server.root() + "/repo"))
    remains.push_back(std::regex_replace(entry, std::regex("^(\\.discovered/\\.import/).+\\.journal$"), "$1JOURNAL"));
  for (const std::string& entry : ImportedTree(dump))
    if (entry != DESCRIPTOR && entry != ".discovered/" + dump.guid + "_c1") expected.push_back(entry);
  EXPECT_EQ(dktest::Sorted(expected), dktest::Sorted(remains));
  dktest::FtpServer again("normal", {{"dk", "pw"}});
  dktest::Shell("cp -a '" + server.root() + "/repo' '" + again.root() + "/'");
  Expect(import(again), 0, DESCRIPTOR + "\n");
  EXPECT_EQ(ImportedTree(dump), dktest::ListTree(again.root() + "/repo"));
  EXPECT_TRUE(dktest::ReadFile(work / "content") == dktest::ReadFile(again.root() + "/repo/" + CONTENT));
}

// Members aimed at a directory outside, a link where the import writes a
// verdict and an absolute name: the archive is refused naming the member
// before anything is written there or in the installation.
TEST_F(Faults, HostileArchiveMembersAreRefusedBeforeAnythingIsWritten) {
  dktest::TempDir outside;
  dktest::WriteFile(outside / "canary", "untouched");
  const std::string status = ".discovered/backup_info_1001011200/status_OK", abs = outside / "backup_q_1001011200.tgz";
  const std::pair<std::string, std::string> cases[] = {  // forged member, refusal
      {"symlink:" + status + ":" + (outside / "canary"),
       status + " -> " + (outside / "canary") + "' is not a regular file or directory"},
      {"pax:backup_q_1001011200.tgz:" + abs, abs + "' has an absolute name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    Expect(Run({"--import-file-as-dump", "--dump-file-specification", Forge(c.first)}), 152,
           "Repository error: Dump has wrong format. Archive member '" + c.second + "\n");
    EXPECT_EQ(Words{}, dktest::ListTree(install.dumps()));
    EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
  }
  EXPECT_EQ(Words{"canary"}, dktest::ListTree(outside.path()));
  EXPECT_EQ("untouched", dktest::ReadFile(outside / "canary"));
}

// tar reports a name holding a newline or a backslash in escaped form; the
// import keeps the file under its real name, and the dump's deletion removes it.
TEST_F(Faults, MemberNamesThatTarEscapesAreImportedAndDeletedExactly) {
  const std::string file = install.dumps() + "/clients/c1/backup_a\nb\\c_1001011200.tgz";
  Expect(Run({"--import-file-as-dump", "--dump-file-specification", Forge("file:backup_a\\nb\\c_1001011200.tgz")}),
         0, DESCRIPTOR + "\n");
  EXPECT_EQ("backup_a\nb\\c_1001011200.tgz", dktest::ReadFile(file));
  Expect(Run({"--delete-dump", "--dump-specification", DESCRIPTOR}), 0, "");
  EXPECT_FALSE(dktest::Exists(file)) << testing::PrintToString(dktest::ListTree(install.dumps()));
}

// The credentials name the repository an import writes into, past garbage
// (random bytes, endless lines, NUL bytes), the last of two definitions, one
// without its blank or cut by NUL; a relative one is the working directory's.
TEST_F(Faults, ConfigurationLinesLeadEveryCommandToOneRepository) {
  const std::string conf = install.confDir() + "/ovr.conf", original = dktest::ReadFile(conf);
  MakeArchive(work / "dump.tar", 1000, false);
  auto commands = [&](const std::string& root, const std::string& cwd) {
    Expect(Run({"--get-dumps-storage-credentials"}, "session", cwd), 0,
           "<dumps-storage-credentials>\n <root-dir>" + root + "</root-dir>\n</dumps-storage-credentials>\n");
    Expect(Run({"--import-file-as-dump", "--dump-file-specification", work / "dump.tar"}, "session", cwd), 0,
           DESCRIPTOR + "\n");
    EXPECT_TRUE(dktest::Exists((cwd.empty() ? root : cwd + "/" + root) + "/" + DESCRIPTOR));
  };
  dktest::Shell("mkdir '" + (work / "first") + "' '" + (work / "second") + "' && { head -c 4000000 /dev/urandom; "
                "echo; head -c 3000000 /dev/zero | tr '\\0' a; echo; printf 'DUMP_D '; head -c 3000000 /dev/zero | "
                "tr '\\0' x; printf '\\nDUMP_D /tmp\\0/x\\nPRODUCT_ROOT_D \\0\\0\\0\\n'; head -c 100000 /dev/zero; "
                "echo; } > '" + conf + "'");
  dktest::WriteFile(conf, dktest::ReadFile(conf) + original + "DUMP_D " + (work / "first") + "\nDUMP_D " +
                              (work / "second") + "\nDUMP_D=/\n" + std::string("DUMP_D /\0", 9) + (work / "first") +
                              "\n" + std::string("DUMP_D /\0\n", 10));
  commands(work / "second", "");
  EXPECT_EQ(Words{}, dktest::ListTree(work / "first"));
  dktest::Shell("mkdir -p '" + (work / "cwd/rel/dumps") + "'");
  dktest::WriteFile(conf, original + "DUMP_D rel/dumps\n");
  commands("rel/dumps", work / "cwd");
}

// A descriptor with a text node of 30 MB is unreadable: its report fails and
// the listing, reading it rather than a verdict, leaves the dump out.
TEST_F(Faults, HugeDescriptorsAreBrokenDumps) {
  dktest::MakeFixtureRepo(install.dumps(), R"({"dumps": [{"type": "client", "id": "c1", "guid": "g"}]})");
  dktest::Shell("{ printf '<?xml version=\"1.0\"?><client guid=\"g\" name=\"c1\"><description>'; head -c 30000000 "
                "/dev/zero | tr '\\0' x; printf '</description></client>'; } > '" + install.dumps() + "/" +
                DESCRIPTOR + "'");
  Expect(Run({"--get-dump-info", "--dump-file-specification", DESCRIPTOR}), 152,
         "Repository error: unable to check xml validity: Xml reader error: failed to load xml document\n");
  dktest::Shell("rm -f '" + install.dumps() + "/clients/c1/.discovered/backup_info_1001011200/'status_*");
  Expect(Run({"--get-dump-list", "--type", "client", "--guid", "g", "--name", "c1"}), 0,
         dktest::DECLARATION + "<dump-list/>\n");
}

// Content paths leading out of the dump to files that exist make a content
// error naming every file of a failed location as given, none of them read.
TEST_F(Faults, ContentPathsLeavingTheDumpAreContentErrors) {
  dktest::MakeFixtureRepo(install.dumps(), R"({"dumps": [{"type": "client", "id": "c1", "contents": [
      {"path": "../../..", "files": [{"name": "outside_1001011200.tgz", "missing": true}]},
      {"path": ".", "files": [{"name": "../../../outside_1001011200.tgz", "missing": true},
                              "backup_c1_1001011200.tgz"]}]}]})");
  dktest::WriteFile(install.root() + "/outside_1001011200.tgz", "a file beside the repository");
  const std::string file = "   <content-file-name>clients/c1/";
  Expect(Run({"--get-dump-info", "--dump-file-specification", DESCRIPTOR}), 0,
         dktest::DECLARATION + "<dump name=\"backup_info_1001011200.xml\" fullname=\"" + DESCRIPTOR +
             "\" creation-date=\"1001011200\" description=\"Dump of client c1\" size=\"64\" "
             "owner-guid=\"00000000-0000-4000-8000-000000000000\" owner-type=\"server\">\n"
             " <dump-status dump-status=\"CONTENT-ERROR\">\n  <details>\n" +
             file + "../../../outside_1001011200.tgz</content-file-name>\n" +
             file + "./../../../outside_1001011200.tgz</content-file-name>\n" +
             file + "./backup_c1_1001011200.tgz</content-file-name>\n  </details>\n </dump-status>\n</dump>\n");
}

}  // namespace
