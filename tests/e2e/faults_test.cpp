// The built binary under faults: a full disk, two imports racing into one
// repository, an FTP upload cut short, hostile archive members, and garbage
// where configuration and descriptors should be. Each case checks the exit
// code, the message and what the fault leaves on disk.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

const std::string DESCRIPTOR = "clients/c1/backup_info_1001011200.xml";

// A crash is a death by signal (the utility's own failure codes go above
// 128, so the code alone does not tell), an uncaught exception or a
// sanitizer report.
bool Crashed(const dktest::RunResult& r) {
  return r.code < 0 || r.err.find("Sanitizer") != std::string::npos ||
         r.err.find("terminate called") != std::string::npos || r.err.find("runtime error") != std::string::npos;
}

// The repository tree holding `dump` (a client c1 dump) alone, as imported.
Words ImportedTree(const dktest::ExportedDump& dump) {
  const std::string dir = "clients/c1/", sidecar = dir + dump.Sidecar() + "/";
  return dktest::Sorted({".discovered/", ".discovered/" + dump.guid + "_c1", "clients/", dir, dir + ".discovered/",
                         sidecar, sidecar + "GUID_" + dump.guid, sidecar + "objectid_c1",
                         sidecar + "owner_2f3c0d1e-0000-4000-8000-000000000001", sidecar + "ownertype_server",
                         sidecar + "size_1024", dir + dump.Descriptor(), dir + dump.contents.front()});
}

// `text` with the random part of staging names replaced by XXXXXX.
std::string Unstaged(const std::string& text) {
  return std::regex_replace(text, std::regex("stage_[A-Za-z0-9]{6}"), "stage_XXXXXX");
}

class Faults : public ::testing::Test {
 protected:
  dktest::RunResult Run(std::vector<std::string> args, const std::string& session = "session",
                        const std::string& cwd = "") {
    args.push_back("--session-path=" + (work / session));
    return dktest::RunDumpkeep(args,
                               {{"OVR_CONF_DIR", install.confDir()},
                                {"DUMP_STORAGE_PASSWD", "pw"},
                                {"DUMP_STORAGE_PASSWD_SRC", "pw"}},
                               cwd);
  }
  // The run ends with `code`, prints exactly `out` and does not crash.
  void Expect(const dktest::RunResult& r, int code, const std::string& out) {
    EXPECT_FALSE(Crashed(r)) << r.err;
    EXPECT_EQ(code, r.code) << r.out;
    EXPECT_EQ(out, Unstaged(r.out));
  }
  // An exported dump whose content file holds `bytes` random bytes, kept in
  // work/content for comparison.
  dktest::ExportedDump MakeArchive(const std::string& archive, size_t bytes, bool gzip) {
    dktest::ExportedDump dump;
    dktest::TempDir tree;
    const Words members = dktest::WriteDumpTree(tree.path(), dump);
    const std::string content = tree / dump.contents.front();
    dktest::Shell("head -c " + std::to_string(bytes) + " /dev/urandom > '" + content + "' && cp '" + content +
                  "' '" + (work / "content") + "'");
    dktest::PackMembers(tree.path(), members, archive, gzip);
    return dump;
  }
  // A valid client dump archive with the members `forged` appended by
  // forge_archive.py, which writes what tar itself would not.
  std::string Forge(const Words& forged) {
    const std::string archive = work / "forged.tar";
    dktest::TempDir tree;
    dktest::PackMembers(tree.path(), dktest::WriteDumpTree(tree.path(), dktest::ExportedDump()), archive, false);
    std::string forge = "python3 '" + dktest::SourceDir() + "/tests/support/forge_archive.py' -a '" + archive + "'";
    for (const std::string& member : forged) forge += " '" + member + "'";
    dktest::Shell(forge);
    return archive;
  }
  void MakeClientDump() {
    dktest::MakeFixtureRepo(install.dumps(), R"({"dumps": [{"type": "client", "id": "c1", "guid": "g"}]})");
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
    // The CI runs as root, where the mount must work.
    if (::geteuid() == 0) GTEST_FAIL() << "cannot mount a tmpfs as root: " << std::strerror(errno);
    GTEST_SKIP() << "mounting a tmpfs needs root";
  }
  struct Unmount {
    std::string dir;
    ~Unmount() { ::umount2(dir.c_str(), MNT_DETACH); }
  } unmount{small};

  dktest::WriteFile(small + "/repo/keep.txt", "kept");
  MakeArchive(work / "big.tar", 3 << 20, false);
  dktest::TempDir src;
  dktest::Shell("head -c 1500000 /dev/urandom > '" + (src / "b_1001011200.tgz") +
                "' && head -c 1500000 /dev/urandom > '" + (src / "b_1001011200.tgz1") + "'");
  const Words before = dktest::SnapshotTree(small);
  dktest::RunResult imported = Run({"--import-file-as-dump", "--dump-storage", small + "/repo",
                                    "--dump-file-specification", work / "big.tar"});
  EXPECT_FALSE(Crashed(imported)) << imported.err;
  EXPECT_EQ(1, imported.code);
  EXPECT_EQ(0u, Unstaged(imported.out)
                    .find("Archiver error: from " + (work / "big.tar") + " to " + small +
                          "/repo/.discovered/.import/stage_XXXXXX/dump:\ntar: backup_user_1001011200.tgz: Wrote only "))
      << imported.out;
  Expect(Run({"--export-file-as-file", "--file-from", "local:" + (src / "b_1001011200.tgz"), "--file-to",
              "local:" + small + "/out.tgz"}),
         1, "Repository error: unable to export file: Output stream error\n");
  EXPECT_EQ(before, dktest::SnapshotTree(small));
  EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
}

// Two imports of one archive at once: unless they take turns, both find
// clients/c1/ missing, and the loser's rollback removes the directory with
// the winner's dump in it. The second to run finds the dump there (111).
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
  const std::string dir = install.dumps() + "/clients/c1/";
  EXPECT_EQ(ImportedTree(dump), dktest::ListTree(install.dumps()));
  EXPECT_EQ(dktest::DescriptorXml(dump), dktest::ReadFile(dir + dump.Descriptor()));
  EXPECT_TRUE(dktest::ReadFile(work / "content") == dktest::ReadFile(dir + dump.contents.front()));
}

// A server that dies in the middle of an import into it, which uploads the
// dump's files one by one, the descriptor last: the server keeps what it
// received, which is no dump, and the import's journal; the utility's side
// keeps nothing.
TEST_F(Faults, DroppedFtpUploadIsUndoneByTheNextImport) {
  auto import = [&](const dktest::FtpServer& server) {
    return Run({"--import-file-as-dump", "--dump-file-specification", work / "backup_1001011200.tgz",
                "--dump-storage", "ftp://dk@127.0.0.1:" + std::to_string(server.port()) + "/repo"});
  };
  dktest::FtpServer server("drop-upload", {{"dk", "pw"}});
  const dktest::ExportedDump dump = MakeArchive(work / "backup_1001011200.tgz", 1 << 20, true);
  dktest::Shell("mkdir '" + server.root() + "/repo'");
  Expect(import(server), 126,
         "Transport error: unable to put local file " + install.tmp() +
             "/import_stage_XXXXXX/dump/backup_user_1001011200.tgz to clients/c1/backup_user_1001011200.tgz: "
             "Curl error: Failure when receiving data from the peer\n");
  EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
  // The journal is named after the host and the staging directory.
  Words remains, expected = {".discovered/.import/", ".discovered/.import/JOURNAL"};
  for (const std::string& entry : dktest::ListTree(server.root() + "/repo")) {
    remains.push_back(std::regex_replace(entry, std::regex("^(\\.discovered/\\.import/).+\\.journal$"), "$1JOURNAL"));
  }
  for (const std::string& entry : ImportedTree(dump)) {
    if (entry != DESCRIPTOR && entry != ".discovered/" + dump.guid + "_c1") expected.push_back(entry);
  }
  EXPECT_EQ(dktest::Sorted(expected), dktest::Sorted(remains));
  // Once the server is back, the next import from this host undoes the
  // remains its journal names and imports the dump whole.
  dktest::FtpServer again("normal", {{"dk", "pw"}});
  dktest::Shell("cp -a '" + server.root() + "/repo' '" + again.root() + "/'");
  Expect(import(again), 0, DESCRIPTOR + "\n");
  EXPECT_EQ(ImportedTree(dump), dktest::ListTree(again.root() + "/repo"));
  EXPECT_EQ(dktest::ReadFile(work / "content"),
            dktest::ReadFile(again.root() + "/repo/clients/c1/backup_user_1001011200.tgz"));
}

// Members that would write, or point, outside the object directory, or that
// are no plain files: the import refuses the archive naming the member
// before anything reaches the repository.
TEST_F(Faults, HostileArchiveMembersAreRefusedBeforeAnythingIsWritten) {
  dktest::TempDir outside;
  dktest::WriteFile(outside / "canary", "untouched");
  const std::string longDir(180, 'l');
  struct Case {
    Words members;        // what the forger writes, see forge_archive.py
    std::string refused;  // the member the message names, with a link's target
    std::string why;
  };
  const std::string notPlain = "is not a regular file or directory", leads = "leads out of the dump directory";
  const std::vector<Case> cases = {
      {{"block:backup_blk_1001011200.tgz"}, "backup_blk_1001011200.tgz", notPlain},
      {{"symlink:sub:" + outside.path(), "file:sub/backup_x_1001011200.tgz"}, "sub -> " + outside.path(), notPlain},
      {{"symlink:.discovered/backup_info_1001011200/status_OK:" + (outside / "canary")},
       ".discovered/backup_info_1001011200/status_OK -> " + (outside / "canary"), notPlain},
      {{"pax:backup_p_1001011200.tgz:../backup_p_1001011200.tgz"}, "../backup_p_1001011200.tgz", leads},
      {{"pax:backup_q_1001011200.tgz:" + (outside / "backup_q_1001011200.tgz")}, outside / "backup_q_1001011200.tgz",
       "has an absolute name"},
      {{"dir:d/../../up/"}, "d/../../up/", leads},
      {{"file:" + longDir + "/../../backup_l_1001011200.tgz"}, longDir + "/../../backup_l_1001011200.tgz", leads},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refused);
    Expect(Run({"--import-file-as-dump", "--dump-file-specification", Forge(c.members)}), 152,
           "Repository error: Dump has wrong format. Archive member '" + c.refused + "' " + c.why + "\n");
    EXPECT_EQ(Words{}, dktest::ListTree(install.dumps()));
    EXPECT_EQ(Words{}, dktest::ListTree(install.tmp()));
  }
  EXPECT_EQ(Words{"canary"}, dktest::ListTree(outside.path()));
  EXPECT_EQ("untouched", dktest::ReadFile(outside / "canary"));
}

// tar reports a name holding a newline or a backslash in escaped form; the
// import still keeps the file under its real name, and the deletion of the
// dump removes it again.
TEST_F(Faults, MemberNamesThatTarEscapesAreImportedAndDeletedExactly) {
  const std::string awkward = "backup_a\nb\\c_1001011200.tgz";
  Expect(Run({"--import-file-as-dump", "--dump-file-specification", Forge({"file:backup_a\\nb\\c_1001011200.tgz"})}),
         0, DESCRIPTOR + "\n");
  const std::string file = install.dumps() + "/clients/c1/" + awkward;
  ASSERT_TRUE(dktest::Exists(file)) << testing::PrintToString(dktest::ListTree(install.dumps()));
  EXPECT_EQ(awkward, dktest::ReadFile(file));
  Expect(Run({"--delete-dump", "--dump-specification", DESCRIPTOR}), 0, "");
  EXPECT_FALSE(dktest::Exists(file)) << testing::PrintToString(dktest::ListTree(install.dumps()));
}

// The panel configuration is read one way by every command: the repository
// that the credentials name is the one an import writes into. Garbage ahead
// of the lines (random bytes, endless lines, NUL bytes) is passed over, the
// last of two definitions counts, and a definition without its blank or cut
// by a NUL byte is none. A relative repository is taken from the working
// directory as it is.
TEST_F(Faults, ConfigurationLinesLeadEveryCommandToOneRepository) {
  const std::string conf = install.confDir() + "/ovr.conf";
  const std::string original = dktest::ReadFile(conf);
  MakeArchive(work / "dump.tar", 1000, false);
  auto credentials = [&](const std::string& root, const std::string& cwd) {
    Expect(Run({"--get-dumps-storage-credentials"}, "session", cwd), 0,
           "<dumps-storage-credentials>\n <root-dir>" + root + "</root-dir>\n</dumps-storage-credentials>\n");
  };
  auto import = [&](const std::string& root, const std::string& cwd) {
    Expect(Run({"--import-file-as-dump", "--dump-file-specification", work / "dump.tar"}, "session", cwd), 0,
           DESCRIPTOR + "\n");
    EXPECT_TRUE(dktest::Exists((cwd.empty() ? root : cwd + "/" + root) + "/" + DESCRIPTOR));
  };
  dktest::Shell("mkdir '" + (work / "first") + "' '" + (work / "second") + "'");
  const std::string lines = "DUMP_D " + (work / "first") + "\nDUMP_D " + (work / "second") + "\nDUMP_D=/\n" +
                            std::string("DUMP_D /\0", 9) + (work / "first") + "\n" + std::string("DUMP_D /\0\n", 10);
  for (const std::string garbage :
       {"head -c 4000000 /dev/urandom", "head -c 3000000 /dev/zero | tr '\\0' a",
        "printf 'DUMP_D '; head -c 3000000 /dev/zero | tr '\\0' x",
        "printf 'DUMP_D /tmp\\0/x\\nPRODUCT_ROOT_D \\0\\0\\0\\n'; head -c 100000 /dev/zero"}) {
    SCOPED_TRACE(garbage);
    dktest::Shell("{ " + garbage + "; echo; } > '" + conf + "'");
    dktest::WriteFile(conf, dktest::ReadFile(conf) + original + lines);
    credentials(work / "second", "");
  }
  import(work / "second", "");
  EXPECT_EQ(Words{}, dktest::ListTree(work / "first"));

  dktest::Shell("mkdir -p '" + (work / "cwd/rel/dumps") + "'");
  dktest::WriteFile(conf, original + "DUMP_D rel/dumps\n");
  credentials("rel/dumps", work / "cwd");
  import("rel/dumps", work / "cwd");
}

// Random bytes, or a text node of 30 MB: the descriptor is refused as
// unreadable, and the listing leaves the dump out.
TEST_F(Faults, GarbageDescriptorsAreBrokenDumps) {
  const std::string descriptor = install.dumps() + "/" + DESCRIPTOR;
  const Words makers = {
      "head -c 4000000 /dev/urandom",
      "printf '<?xml version=\"1.0\"?><client guid=\"g\" name=\"c1\"><description>'; head -c 30000000 /dev/zero | "
      "tr '\\0' x; printf '</description></client>'",
  };
  for (const std::string& make : makers) {
    SCOPED_TRACE(make);
    dktest::Shell("rm -rf '" + install.dumps() + "' && mkdir '" + install.dumps() + "'");
    MakeClientDump();
    dktest::Shell("{ " + make + "; } > '" + descriptor + "'");
    Expect(Run({"--get-dump-info", "--dump-file-specification", DESCRIPTOR}), 152,
           "Repository error: unable to check xml validity: Xml reader error: failed to load xml document\n");
    // The listing reads the descriptor itself, not a recorded verdict.
    dktest::Shell("rm -f '" + install.dumps() + "/clients/c1/.discovered/backup_info_1001011200/'status_*");
    Expect(Run({"--get-dump-list", "--type", "client", "--guid", "g", "--name", "c1"}), 0,
           dktest::DECLARATION + "<dump-list/>\n");
  }
}

// Content paths of a descriptor that lead out of the dump name files that
// exist: the dump is still a content error, and those files are reported
// as the descriptor gave them, not read.
TEST_F(Faults, ContentPathsLeavingTheDumpAreContentErrors) {
  MakeClientDump();
  dktest::WriteFile(install.root() + "/outside_1001011200.tgz", "a file beside the repository");
  const std::string descriptor = install.dumps() + "/" + DESCRIPTOR;
  std::string xml = dktest::ReadFile(descriptor);
  const std::string cid = "<cid path=\".\">";
  ASSERT_NE(std::string::npos, xml.find(cid)) << xml;
  xml.replace(xml.find(cid), cid.size(),
              "<cid path=\"../../..\"><content-file>outside_1001011200.tgz</content-file></cid>\n  " + cid +
                  "<content-file>../../../outside_1001011200.tgz</content-file>");
  dktest::WriteFile(descriptor, xml);
  // Every file of a failed location is named.
  const std::string file = "   <content-file-name>clients/c1/";
  Expect(Run({"--get-dump-info", "--dump-file-specification", DESCRIPTOR}), 0,
         dktest::DECLARATION +
             "<dump name=\"backup_info_1001011200.xml\" fullname=\"" + DESCRIPTOR +
             "\" creation-date=\"1001011200\" description=\"Dump of client c1\" size=\"64\" "
             "owner-guid=\"00000000-0000-4000-8000-000000000000\" owner-type=\"server\">\n"
             " <dump-status dump-status=\"CONTENT-ERROR\">\n  <details>\n" +
             file + "../../../outside_1001011200.tgz</content-file-name>\n" +
             file + "./../../../outside_1001011200.tgz</content-file-name>\n" +
             file + "./backup_c1_1001011200.tgz</content-file-name>\n"
             "  </details>\n </dump-status>\n</dump>\n");
}

}  // namespace
