#include "transport/local_transport.h"

#include <functional>
#include <memory>
#include <sstream>

#include "tests/support/test_support.h"
#include "tests/support/transport_support.h"

using namespace ovrin;

// "status text" of the TransportException that `body` raises.
static std::string Failure(const std::function<void()>& body) {
  const dktest::TransportFailure f = dktest::CatchTransportFailure(body);
  return std::to_string(f.status) + " " + f.text;
}

struct LocalTransport : ::testing::Test {
  dktest::TempDir dir;
  tRepositoryLocal t{dir.path() + "/"};
};

// Writing makes parents and truncates; copies and moves across transports carry every byte.
TEST_F(LocalTransport, WritesCreateParentsTruncateAndCopyWholeContent) {
  std::string big;  // several copy chunks, no short period for a chunking bug to hide in
  for (int i = 0; big.size() < 35000; ++i) big += std::to_string(i * 7919) + ",";
  std::istringstream old("long old content"), fresh("new"), in(big), empty("");
  t.PutFile(old, "/a/b/c.tar");
  t.PutFile(fresh, "a/b/c.tar");
  t.PutFile(in, "big.bin");
  t.PutFile(empty, "empty");
  dktest::TempDir other;
  tRepositoryLocal dst(other.path());
  t.Move("big.bin", dst, "x/moved.bin");
  EXPECT_EQ((std::vector<std::string>{"a/", "a/b/", "a/b/c.tar", "empty"}), dktest::ListTree(dir.path()));
  EXPECT_EQ("new", dktest::ReadFile(dir / "a/b/c.tar"));
  EXPECT_EQ(big, dktest::ReadFile(other / "x/moved.bin"));
}

// Failures name their cause at every level and leave destinations as they were; a failed move keeps the copy.
TEST_F(LocalTransport, FailedReadsWritesAndDeletesAreReported) {
  using StreamError = Exc<&tRepositoryTransport::StreamError>;
  dktest::WriteFile(dir / "dst", "precious");
  std::unique_ptr<irepostream> missing(t.GetFile("missing"));
  EXPECT_TRUE(missing->fail() && !missing->is_open());
  EXPECT_EQ("Stream error: missing:\nInput stream error",
            dktest::ThrownText<StreamError>([&] { t.Copy("missing", t, "dst"); }));
  EXPECT_EQ("precious", dktest::ReadFile(dir / "dst"));
  tRepositoryLocal dev("/dev");  // /dev/full takes the open and fails every write, also the one of close
  std::istringstream in("some bytes that never reach a disk");
  EXPECT_EQ("Stream error: full:\nOutput stream error",
            dktest::ThrownText<StreamError>([&] { dev.PutFile(in, "full"); }));
  EXPECT_EQ(0u, Failure([&] { delete t.PutFile("dst/sub/f"); })
                    .find("0 Transport error: unable to write file dst/sub/f: Transport error: Unable to create "
                          "parent dirs for 'dst/sub/f': Transport error: Unable to create dir dst: "));
  EXPECT_EQ(0u, Failure([&] { t.CreateDir("x/y"); }).find("0 Transport error: Unable to create dir x/y: "));
  EXPECT_EQ(0u, Failure([&] { tRepositoryLocal("/proc").Move("version", t, "v"); })
                    .find("0 Transport error: Unable to delete file version: "));
  EXPECT_EQ(dktest::ReadFile("/proc/version"), dktest::ReadFile(dir / "v"));
}

// Listings append (kinds from the directory itself, links Unknown), failures alike and appending nothing.
TEST_F(LocalTransport, ListingsAndQueriesOfATree) {
  dktest::WriteFile(dir / "d/f1", "12345");
  dktest::WriteFile(dir / "d/sub/inner", "x");
  dktest::Shell("cd '" + (dir / "d") + "' && ln -s sub to_dir && ln -s ../nowhere dangling && touch -d @1234567890 f1");
  std::vector<std::string> names{"kept"};
  std::vector<DirEntry> entries{DirEntry{"kept", EntryKind::File}};
  std::vector<FileInfo> infos;
  const std::function<void(const std::string&)> listings[] = {[&](const std::string& d) { t.ListDir(d, names); },
                                                              [&](const std::string& d) { t.ListDirKinds(d, entries); },
                                                              [&](const std::string& d) { t.ListDirEx(d, infos); }};
  for (const auto& list : listings) {
    EXPECT_EQ("1 Transport error: Dir is not exists nodir", Failure([&] { list("nodir"); }));
    EXPECT_EQ(0u, Failure([&] { list("d/f1"); }).find("0 Transport error: Unable to list dir d/f1: "));
    list("d");
  }
  EXPECT_EQ((std::vector<std::string>{"dangling", "f1", "kept", "sub", "to_dir"}), dktest::Sorted(names));
  std::map<std::string, EntryKind> kinds;
  for (const DirEntry& e : entries) kinds[e.name] = e.kind;
  EXPECT_EQ((std::map<std::string, EntryKind>{{"kept", EntryKind::File}, {"f1", EntryKind::File},
                                              {"sub", EntryKind::Dir}, {"to_dir", EntryKind::Unknown},
                                              {"dangling", EntryKind::Unknown}}), kinds);
  std::map<std::string, std::pair<long long, time_t>> got;
  for (const FileInfo& info : infos) got[info.path] = {info.size, info.GetDateTime()};
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ((std::pair<long long, time_t>{5, 1234567890}), got["d/f1"]);
  EXPECT_EQ(0, got["d/sub"].first + got["d/to_dir"].first);
  EXPECT_EQ(1234567890, t.GetCreationDate("d/f1"));
  EXPECT_EQ(0u, Failure([&] { t.GetCreationDate("missing"); }).find("0 Transport error: Unable to get creation date"));
  EXPECT_TRUE(t.IsExist("d/f1") && t.IsDirExist("d") && t.IsDirExist("d/to_dir"));
  EXPECT_FALSE(t.IsDirExist("d/f1") || t.IsExist("d") || t.IsExist("d/dangling"));
  EXPECT_EQ(dir / "d", t.GetLocalDirFiles("d", nullptr));
  EXPECT_EQ("1 Transport error: File 'd' not found", Failure([&] { t.GetLocalFile("d"); }));
  EXPECT_EQ("1 Transport error: File or dir missing not exists", Failure([&] { t.GetLocalDirFiles("missing", 0); }));
  EXPECT_EQ(5, t.GetFileSize("d/f1"));
  EXPECT_EQ(0, t.GetFileSize("d") + t.GetFileSize("missing"));
}

// Deleting removes links and trees, never what a link leads to; Delete refuses a non-empty directory.
TEST_F(LocalTransport, DeletionRemovesTreesButNeverFollowsLinks) {
  dktest::TempDir outside;
  dktest::WriteFile(outside / "target/keep", "keep");
  dktest::WriteFile(dir / "tree/a/b/f", "x");
  dktest::WriteFile(dir / "full/f", "x");
  dktest::Shell("cd '" + dir.path() + "' && for l in link1 link2 tree/inner; do ln -s '" + (outside / "target") +
                "' $l; done");
  t.Delete("link1");
  t.DeleteDir("link2");
  t.DeleteDir("tree");
  t.DeleteDir("tree");
  t.Delete("missing");
  EXPECT_EQ(0u, Failure([&] { t.Delete("full"); }).find("0 Transport error: Unable to delete file full: "));
  EXPECT_EQ((std::vector<std::string>{"full/", "full/f"}), dktest::ListTree(dir.path()));
  EXPECT_EQ((std::vector<std::string>{"target/", "target/keep"}), dktest::ListTree(outside.path()));
}
