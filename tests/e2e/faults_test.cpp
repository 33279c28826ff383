// The built binary under faults: a full disk, two imports racing into one
// repository, an import killed half way, and garbage where configuration
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
    if (path.find(".unpack_") != std::string::npos) found.push_back(path);
  }
  return found;
}

class Faults : public ::testing::Test {
 protected:
  dktest::RunResult Run(std::vector<std::string> args, const std::string& session = "session") {
    args.push_back("--session-path=" + (work / session));
    return dktest::RunDumpkeep(args, {{"OVR_CONF_DIR", install.confDir()}});
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

TEST_F(Faults, ImportKilledHalfWayIsRepeatedCompletely) {
  const dktest::ExportedDump dump = MakeArchive(work / "dump.tgz", 30 << 20, true);
  // Started in the background and killed once its staging directory shows
  // up (or after two seconds at most).
  dktest::Shell("OVR_CONF_DIR='" + install.confDir() + "' '" + dktest::DumpkeepBinary() +
                "' --import-file-as-dump --dump-file-specification '" + (work / "dump.tgz") + "' --session-path='" +
                (work / "killed") + "' >/dev/null 2>&1 & pid=$!; i=0; "
                "while [ $i -lt 200 ] && [ -z \"$(find '" + install.dumps() +
                "' -name '.unpack_*' 2>/dev/null)\" ]; do sleep 0.01; i=$((i+1)); done; sleep 0.1; "
                "kill -9 $pid; wait $pid; true");
  const std::vector<std::string> remains = dktest::ListTree(install.dumps());
  std::cout << "left by the killed import:";
  for (const std::string& path : remains) std::cout << " " << path;
  std::cout << "\n";

  dktest::RunResult again = Run({"--import-file-as-dump", "--dump-file-specification", work / "dump.tgz"});
  EXPECT_FALSE(Crashed(again)) << again.err;
  if (again.code == 0) {
    ExpectCompleteDump(install.dumps(), dump);
  } else {
    EXPECT_NE(std::string::npos, again.out.find("error")) << again.out;
  }
  EXPECT_EQ(0, again.code) << again.out;
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

TEST_F(Faults, GarbageAndDeeplyNestedDescriptorsAreBrokenDumps) {
  const std::string dir = install.dumps() + "/clients/c1/";
  const std::string name = "backup_info_1001011200.xml";
  const std::vector<std::string> makers = {
      "head -c 4000000 /dev/urandom",
      "printf '<?xml version=\"1.0\"?>'; yes '<a>' | head -n 100000 | tr -d '\\n'",
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
  }
}

}  // namespace
