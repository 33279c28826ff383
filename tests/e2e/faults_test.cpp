// The built binary under faults: a full disk, two imports racing into one
// repository, dropped FTP transfers, and garbage where configuration
// and descriptors should be. Each case checks what the fault leaves on disk.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/archive_support.h"
#include "tests/support/catalogue_support.h"
#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

namespace {

// A small tmpfs mounted for the life of the object.
class SmallDisk {
 public:
  SmallDisk(const std::string& dir, const std::string& size) : dir_(dir) {
    dktest::Shell("mkdir -p '" + dir + "'");
    mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string dir_;
  bool mounted_ = false;
};

// A crash is a death by signal (the utility's own failure codes go above
// 128, so the code alone does not tell), an uncaught exception or a
// sanitizer report.
bool Crashed(const dktest::RunResult& r) {
  return r.code < 0 || r.err.find("Sanitizer") != std::string::npos ||
         r.err.find("terminate called") != std::string::npos ||
         r.err.find("runtime error") != std::string::npos;
}

std::vector<std::string> StagingLeftovers(const std::vector<std::string>& tree) {
  std::vector<std::string> found;
  for (const std::string& path : tree) {
    if (path.find(".discovered/.import") != std::string::npos) found.push_back(path);
  }
  return found;
}

class Faults : public ::testing::Test {
 protected:
  dktest::RunResult Run(std::vector<std::string> args, const std::string& session = "session",
                        const std::string& cwd = "") {
    args.push_back("--session-path=" + (work / session));
    return dktest::RunDumpkeep(args,
                               {{"OVR_CONF_DIR", install.confDir()},
                                {"DUMP_STORAGE_PASSWD", "pw"},
                                {"DUMP_STORAGE_PASSWD_SRC", "pw"},
                                {"DUMP_STORAGE_PASSWD_DST", "pw"}},
                               cwd);
  }

  // An exported dump whose content file holds `bytes` random bytes; the
  // content itself is kept in work/content for comparison.
  dktest::ExportedDump MakeArchive(const std::string& archive, size_t bytes, bool gzip) {
    dktest::ExportedDump dump;
    dktest::TempDir tree;
    std::vector<std::string> members = dktest::WriteDumpTree(tree.path(), dump);
    const std::string content = tree / dump.contents.front();
    dktest::Shell("head -c " + std::to_string(bytes) + " /dev/urandom > '" + content + "' && cp '" + content +
                  "' '" + (work / "content") + "'");
    dktest::PackMembers(tree.path(), members, archive, gzip);
    return dump;
  }

  // The dump `dump` is in repository `repo` complete: the descriptor and the
  // content byte for byte as exported.
  void ExpectCompleteDump(const std::string& repo, const dktest::ExportedDump& dump) {
    const std::string dir = repo + "/clients/" + dump.objectId + "/";
    ASSERT_TRUE(dktest::Exists(dir + dump.Descriptor())) << testing::PrintToString(dktest::ListTree(repo));
    EXPECT_EQ(dktest::DescriptorXml(dump), dktest::ReadFile(dir + dump.Descriptor()));
    EXPECT_TRUE(dktest::ReadFile(work / "content") == dktest::ReadFile(dir + dump.contents.front()))
        << "content of the imported dump differs from the archive's";
  }

  dktest::SampleInstallation install;
  dktest::TempDir work;
};

TEST_F(Faults, FullDiskLeavesNeitherPartialDumpsNorPartialFiles) {
  SmallDisk disk(work / "small", "1m");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root or CAP_SYS_ADMIN)";
  const std::string small = work / "small";

  // Import into a repository on the small disk, which already holds a file.
  dktest::WriteFile(small + "/repo/keep.txt", "kept");
  const std::vector<std::string> before = dktest::ListTree(small + "/repo");
  MakeArchive(work / "big.tar", 3 << 20, false);
  dktest::RunResult imported = Run({"--import-file-as-dump", "--dump-storage", small + "/repo",
                                    "--dump-file-specification", work / "big.tar"});
  EXPECT_NE(0, imported.code) << imported.out;
  EXPECT_FALSE(Crashed(imported)) << imported.err;
  EXPECT_NE(std::string::npos, imported.out.find("error")) << imported.out;
  EXPECT_EQ(before, dktest::ListTree(small + "/repo"));
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp()));

  // Joining parts onto the small disk.
  dktest::TempDir src;
  dktest::Shell("head -c 1500000 /dev/urandom > '" + (src / "b_1001011200.tgz") + "' && head -c 1500000 /dev/urandom > '" +
                (src / "b_1001011200.tgz1") + "'");
  dktest::RunResult joined = Run({"--export-file-as-file", "--file-from", "local:" + (src / "b_1001011200.tgz"),
                                  "--file-to", "local:" + small + "/out.tgz"});
  EXPECT_NE(0, joined.code) << joined.out;
  EXPECT_FALSE(Crashed(joined)) << joined.err;
  EXPECT_NE(std::string::npos, joined.out.find("error")) << joined.out;
  EXPECT_FALSE(dktest::Exists(small + "/out.tgz"));
  EXPECT_EQ(before, dktest::ListTree(small + "/repo"));
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp()));
}

// Two imports of one archive at once: unless they take turns, both find
// clients/c1/ missing, and the loser's rollback removes the directory with
// the winner's dump in it. The second to run finds the dump there (111).
TEST_F(Faults, RacingImportsOfOneArchiveLeaveOneCompleteDump) {
  const dktest::ExportedDump dump = MakeArchive(work / "dump.tar", 4 << 20, false);
  dktest::RunResult first, second;
  std::thread a([&] {
    first = Run({"--import-file-as-dump", "--dump-file-specification", work / "dump.tar"}, "session-a");
  });
  std::thread b([&] {
    second = Run({"--import-file-as-dump", "--dump-file-specification", work / "dump.tar"}, "session-b");
  });
  a.join();
  b.join();
  EXPECT_FALSE(Crashed(first)) << first.code << " " << first.out << first.err;
  EXPECT_FALSE(Crashed(second)) << second.code << " " << second.out << second.err;
  const int zeros = (first.code == 0) + (second.code == 0);
  EXPECT_EQ(1, zeros) << first.code << " " << first.out << " / " << second.code << " " << second.out;
  const dktest::RunResult& loser = first.code == 0 ? second : first;
  EXPECT_FALSE(loser.out.empty()) << "the refused import says nothing";
  ExpectCompleteDump(install.dumps(), dump);
  EXPECT_EQ(std::vector<std::string>{}, StagingLeftovers(dktest::ListTree(install.dumps())));
}

// A server that dies in the middle of a split download or of an import into
// it (plain transfers cut short are covered with the other FTP failures).
// The server's own disk keeps what it received before it died; the
// utility's side keeps nothing.
TEST_F(Faults, DroppedFtpTransfersLeaveNothingPartial) {
  const dktest::FtpUser user{"dk", "pw"};
  auto url = [](const dktest::FtpServer& server, const std::string& path) {
    return "ftp://dk@127.0.0.1:" + std::to_string(server.port()) + path;
  };
  // Each case needs a server of its own: the first drop ends the server.
  const std::string name = "backup_1001011200.tgz";
  const std::vector<std::string> emptyTree;

  {
    // The second part of a split archive never arrives.
    dktest::FtpServer server("drop-download", {user});
    MakeArchive(server.root() + "/" + name, 1 << 20, true);
    dktest::SplitIntoParts(server.root() + "/" + name, 2);
    dktest::RunResult r = Run({"--export-file-as-file", "--file-from", url(server, "/" + name), "--file-to",
                               "local:" + (work / "joined/out.tgz")});
    EXPECT_NE(0, r.code) << r.out;
    EXPECT_FALSE(Crashed(r)) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("error")) << r.out;
    EXPECT_FALSE(dktest::Exists(work / "joined/out.tgz"));
    EXPECT_EQ(emptyTree, dktest::ListTree(install.tmp()));
  }
  {
    // An import into an FTP storage: the dump's files are uploaded one by one.
    dktest::FtpServer server("drop-upload", {user});
    MakeArchive(work / name, 1 << 20, true);
    dktest::Shell("mkdir '" + server.root() + "/repo'");
    dktest::RunResult r = Run({"--import-file-as-dump", "--dump-storage", url(server, "/repo"),
                               "--dump-file-specification", work / name});
    EXPECT_NE(0, r.code) << r.out;
    EXPECT_FALSE(Crashed(r)) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("error")) << r.out;
    EXPECT_EQ(emptyTree, dktest::ListTree(install.tmp()));
    // The descriptor is sent last: without it the remains are no dump.
    const std::vector<std::string> remains = dktest::ListTree(server.root());
    EXPECT_EQ(remains.end(), std::find(remains.begin(), remains.end(), "repo/clients/c1/backup_info_1001011200.xml"))
        << testing::PrintToString(remains);

    // The import left its journal on the server. Once the server is back,
    // the next import from this host undoes the remains first and then
    // imports the dump whole, leaving no journal behind.
    EXPECT_NE(remains.end(), std::find_if(remains.begin(), remains.end(), [](const std::string& path) {
                return path.find("repo/.discovered/.import/") == 0 && path.find(".journal") != std::string::npos;
              })) << testing::PrintToString(remains);
    dktest::FtpServer again("normal", {user});
    dktest::Shell("cp -a '" + server.root() + "/repo' '" + again.root() + "/'");
    dktest::RunResult retry = Run({"--import-file-as-dump", "--dump-storage", url(again, "/repo"),
                                   "--dump-file-specification", work / name});
    EXPECT_EQ(0, retry.code) << retry.out;
    const std::vector<std::string> imported = dktest::ListTree(again.root() + "/repo");
    EXPECT_EQ(imported.end(), std::find_if(imported.begin(), imported.end(), [](const std::string& path) {
                return path.find(".import") != std::string::npos;
              })) << testing::PrintToString(imported);
    EXPECT_EQ(dktest::ReadFile(work / "content"),
              dktest::ReadFile(again.root() + "/repo/clients/c1/backup_user_1001011200.tgz"));
  }
}

// Members that would write, or point, outside the object directory, or that
// are no plain files, each appended to an otherwise valid dump by a forger
// that writes what tar itself would not: the import refuses the archive
// before anything reaches the repository.
TEST_F(Faults, HostileArchiveMembersAreRefusedBeforeAnythingIsWritten) {
  dktest::TempDir outside;
  dktest::WriteFile(outside / "canary", "untouched");
  const std::string longDir(180, 'l');
  struct Case {
    std::vector<std::string> members;  // what the forger writes, see forge_archive.py
    std::string refused;               // the member the message names
  };
  const std::vector<Case> cases = {
      {{"char:backup_dev_1001011200.tgz"}, "backup_dev_1001011200.tgz"},
      {{"block:backup_blk_1001011200.tgz"}, "backup_blk_1001011200.tgz"},
      {{"symlink:sub:" + outside.path(), "file:sub/backup_x_1001011200.tgz"}, "sub"},
      {{"hardlink:backup_h_1001011200.tgz:" + (outside / "canary")}, "backup_h_1001011200.tgz"},
      {{"symlink:.discovered/backup_info_1001011200/status_OK:" + (outside / "canary")},
       ".discovered/backup_info_1001011200/status_OK"},
      {{"pax:backup_p_1001011200.tgz:../backup_p_1001011200.tgz"}, "../backup_p_1001011200.tgz"},
      {{"pax:backup_q_1001011200.tgz:" + (outside / "backup_q_1001011200.tgz")}, outside / "backup_q_1001011200.tgz"},
      {{"dir:d/../../up/"}, "d/../../up/"},
      {{"file:" + longDir + "/../../backup_l_1001011200.tgz"}, longDir + "/../../backup_l_1001011200.tgz"},
  };
  for (const Case& c : cases) {
    const std::string archive = work / "hostile.tar";
    dktest::TempDir tree;
    dktest::ExportedDump dump;
    dktest::PackMembers(tree.path(), dktest::WriteDumpTree(tree.path(), dump), archive, false);
    std::string forge = "python3 '" + dktest::SourceDir() + "/tests/support/forge_archive.py' -a '" + archive + "'";
    for (const std::string& member : c.members) forge += " '" + member + "'";
    dktest::Shell(forge);

    dktest::RunResult r = Run({"--import-file-as-dump", "--dump-file-specification", archive});
    EXPECT_EQ(152, r.code) << c.refused << ": " << r.out;
    EXPECT_FALSE(Crashed(r)) << r.err;
    // A link's message shows its target after the name.
    EXPECT_NE(std::string::npos, r.out.find("Dump has wrong format. Archive member '" + c.refused))
        << c.refused << ": " << r.out;
    EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.dumps())) << c.refused;
    EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp())) << c.refused;
  }
  EXPECT_EQ(std::vector<std::string>{"canary"}, dktest::ListTree(outside.path()));
  EXPECT_EQ("untouched", dktest::ReadFile(outside / "canary"));
}

// tar reports a name holding a newline or a backslash in escaped form; the
// import still keeps the file under its real name, and the deletion of the
// dump removes it again.
TEST_F(Faults, MemberNamesThatTarEscapesAreImportedAndDeletedExactly) {
  const std::string awkward = "backup_a\nb\\c_1001011200.tgz";
  const std::string archive = work / "awkward.tar";
  dktest::TempDir tree;
  dktest::ExportedDump dump;
  dktest::PackMembers(tree.path(), dktest::WriteDumpTree(tree.path(), dump), archive, false);
  dktest::Shell("python3 '" + dktest::SourceDir() + "/tests/support/forge_archive.py' -a '" + archive +
                "' 'file:backup_a\\nb\\c_1001011200.tgz'");
  dktest::RunResult imported = Run({"--import-file-as-dump", "--dump-file-specification", archive});
  EXPECT_FALSE(Crashed(imported)) << imported.err;
  ASSERT_EQ(0, imported.code) << imported.out;
  const std::string file = install.dumps() + "/clients/c1/" + awkward;
  ASSERT_TRUE(dktest::Exists(file)) << testing::PrintToString(dktest::ListTree(install.dumps()));
  EXPECT_EQ(awkward, dktest::ReadFile(file));

  dktest::RunResult deleted =
      Run({"--delete-dump", "--dump-specification", "clients/c1/" + dump.Descriptor()});
  EXPECT_FALSE(Crashed(deleted)) << deleted.err;
  EXPECT_EQ(0, deleted.code) << deleted.out;
  EXPECT_FALSE(dktest::Exists(file)) << testing::PrintToString(dktest::ListTree(install.dumps()));
}

TEST_F(Faults, GarbageConfigurationIsRefusedWithoutCrashing) {
  const std::string conf = install.confDir() + "/ovr.conf";
  const std::vector<std::vector<std::string>> commands = {
      {"--get-dump-list", "--type", "server", "--guid", "g"},
      {"--get-dump-info", "--dump-file-specification", "backup_info_1001011200.xml"},
      {"--get-dumps-storage-credentials"},
      {"--get-domain-dumps-disc-usage", "--domain-guid", "d"},
      {"--delete-dump", "--dump-specification", "backup_info_1001011200.xml"},
      {"--import-file-as-dump", "--dump-file-specification", work / "none.tar"},
  };
  const std::vector<std::string> garbage = {
      "head -c 4000000 /dev/urandom",
      "head -c 3000000 /dev/zero | tr '\\0' a; echo",
      "printf 'DUMP_D '; head -c 3000000 /dev/zero | tr '\\0' x; echo",
      "printf 'DUMP_D /tmp\\0/x\\nPRODUCT_ROOT_D \\0\\0\\0\\n'; head -c 100000 /dev/zero",
  };
  for (const std::string& make : garbage) {
    dktest::Shell("{ " + make + "; } > '" + conf + "'");
    for (const std::vector<std::string>& command : commands) {
      dktest::RunResult r = Run(command);
      EXPECT_FALSE(Crashed(r)) << make << ": " << command.front() << " exited " << r.code << "\n" << r.err;
    }
  }
}

// Odd lines of the panel configuration are read one way by every command:
// the repository that the credentials name is the one an import writes into.
TEST_F(Faults, OddConfigurationLinesLeadEveryCommandToOneRepository) {
  const std::string conf = install.confDir() + "/ovr.conf";
  const std::string original = dktest::ReadFile(conf);
  MakeArchive(work / "dump.tar", 1000, false);
  auto credentials = [&](const std::string& cwd) {
    dktest::RunResult r = Run({"--get-dumps-storage-credentials"}, "session", cwd);
    EXPECT_EQ(0, r.code) << r.out;
    const size_t from = r.out.find("<root-dir>"), to = r.out.find("</root-dir>");
    return from == std::string::npos || to == std::string::npos ? r.out : r.out.substr(from + 10, to - from - 10);
  };
  auto importedInto = [&](const std::string& root) {
    return dktest::Exists(root + "/clients/c1/backup_info_1001011200.xml");
  };

  // The last of two definitions counts, for all commands alike.
  dktest::Shell("mkdir '" + (work / "first") + "' '" + (work / "second") + "'");
  dktest::WriteFile(conf, original + "DUMP_D " + (work / "first") + "\nDUMP_D " + (work / "second") + "\n");
  EXPECT_EQ(work / "second", credentials(""));
  EXPECT_EQ(0, Run({"--import-file-as-dump", "--dump-file-specification", work / "dump.tar"}).code);
  EXPECT_TRUE(importedInto(work / "second"));
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(work / "first"));

  // A relative repository is taken from the working directory as it is.
  dktest::Shell("mkdir -p '" + (work / "cwd/rel/dumps") + "'");
  dktest::WriteFile(conf, original + "DUMP_D rel/dumps\n");
  EXPECT_EQ("rel/dumps", credentials(work / "cwd"));
  EXPECT_EQ(0, Run({"--import-file-as-dump", "--dump-file-specification", work / "dump.tar"}, "session",
                   work / "cwd")
                   .code);
  EXPECT_TRUE(importedInto(work / "cwd/rel/dumps"));

  // A definition without its blank, or cut by a NUL byte, is no definition:
  // the one before it stays.
  const std::vector<std::string> broken = {"DUMP_D=/", std::string("DUMP_D /\0", 9) + (work / "second"),
                                           std::string("DUMP_D /", 8) + std::string(1, '\0')};
  for (const std::string& line : broken) {
    dktest::WriteFile(conf, original + "DUMP_D " + (work / "first") + "\n" + line + "\n");
    EXPECT_EQ(work / "first", credentials("")) << testing::PrintToString(line);
  }
}

TEST_F(Faults, GarbageAndDeeplyNestedDescriptorsAreBrokenDumps) {
  const std::string dir = install.dumps() + "/clients/c1/";
  const std::string name = "backup_info_1001011200.xml";
  // Entities that would expand to gigabytes, or read a file of the host.
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE client [\n <!ENTITY a \"" + std::string(64, 'a') + "\">\n";
  for (char level = 'b'; level <= 'j'; ++level) {
    bomb += std::string(" <!ENTITY ") + level + " \"" ;
    for (int i = 0; i < 16; ++i) bomb += std::string("&") + static_cast<char>(level - 1) + ";";
    bomb += "\">\n";
  }
  bomb += " <!ENTITY host SYSTEM \"file:///etc/passwd\">\n]>\n<client guid=\"g\" name=\"c1\"><description>&j;&host;"
          "</description><cid path=\".\"><content-file>backup_c1_1001011200.tgz</content-file></cid></client>\n";
  dktest::WriteFile(work / "bomb.xml", bomb);
  const std::vector<std::string> makers = {
      "head -c 4000000 /dev/urandom",
      "printf '<?xml version=\"1.0\"?>'; yes '<a>' | head -n 100000 | tr -d '\\n'",
      "cat '" + (work / "bomb.xml") + "'",
      // A text node of 30 MB.
      "printf '<?xml version=\"1.0\"?><client guid=\"g\" name=\"c1\"><description>'; head -c 30000000 /dev/zero | "
      "tr '\\0' x; printf '</description></client>'",
  };
  for (const std::string& make : makers) {
    dktest::Shell("rm -rf '" + install.dumps() + "' && mkdir '" + install.dumps() + "'");
    dktest::MakeFixtureRepo(install.dumps(), R"({"dumps": [{"type": "client", "id": "c1", "guid": "g",
                                                             "label": "1001011200"}]})");
    dktest::Shell("{ " + make + "; } > '" + dir + name + "'");
    dktest::RunResult info = Run({"--get-dump-info", "--dump-file-specification", "clients/c1/" + name});
    EXPECT_FALSE(Crashed(info)) << make << "\n" << info.err;
    // The single dump is refused with a message naming the descriptor.
    EXPECT_NE(0, info.code) << info.out;
    EXPECT_NE(std::string::npos, info.out.find("failed to load xml document")) << info.out;
    dktest::Shell("rm -f '" + dir + ".discovered/backup_info_1001011200/'status_*");
    dktest::RunResult list = Run({"--get-dump-list", "--type", "client", "--guid", "g", "--name", "c1"});
    EXPECT_FALSE(Crashed(list)) << make << "\n" << list.err;
    EXPECT_EQ(0, list.code) << list.out;
    EXPECT_EQ(std::string::npos, list.out.find("root:")) << "a file of the host leaked into the listing";
  }
}

// Content paths of a descriptor that lead out of the dump name files that
// exist: the dump is still a content error, and those files are reported
// as the descriptor gave them, not read.
TEST_F(Faults, ContentPathsLeavingTheDumpAreContentErrors) {
  dktest::MakeFixtureRepo(install.dumps(), R"({"dumps": [{"type": "client", "id": "c1", "guid": "g",
                                                           "label": "1001011200"}]})");
  dktest::WriteFile(install.root() + "/outside_1001011200.tgz", "a file beside the repository");
  const std::string descriptor = install.dumps() + "/clients/c1/backup_info_1001011200.xml";
  std::string xml = dktest::ReadFile(descriptor);
  const std::string cid = "<cid path=\".\">";
  ASSERT_NE(std::string::npos, xml.find(cid)) << xml;
  xml.replace(xml.find(cid), cid.size(),
              "<cid path=\"../../..\"><content-file>outside_1001011200.tgz</content-file></cid>\n  " + cid +
                  "<content-file>../../../outside_1001011200.tgz</content-file>");
  dktest::WriteFile(descriptor, xml);

  dktest::RunResult info =
      Run({"--get-dump-info", "--dump-file-specification", "clients/c1/backup_info_1001011200.xml"});
  EXPECT_FALSE(Crashed(info)) << info.err;
  EXPECT_EQ(0, info.code) << info.out;
  EXPECT_NE(std::string::npos, info.out.find("dump-status=\"CONTENT-ERROR\"")) << info.out;
  EXPECT_NE(std::string::npos, info.out.find("<content-file-name>clients/c1/../../../outside_1001011200.tgz<"))
      << info.out;
  EXPECT_EQ(std::string::npos, info.out.find("dump-status=\"OK\"")) << info.out;
}

}  // namespace
