#include "transport/local_transport.h"

#include <unistd.h>
#include <utime.h>

#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/support/transport_support.h"

namespace ovrin {
namespace {

using StreamError = Exc<&tRepositoryTransport::StreamError>;

class LocalTransport : public ::testing::Test {
 protected:
  dktest::TempDir dir;
  tRepositoryLocal t{dir.path() + "/"};
};

// Writing makes the parents and truncates; stream copies and moves across
// transports carry every byte, an empty stream makes an empty file.
TEST_F(LocalTransport, WritesCreateParentsTruncateAndCopyWholeContent) {
  for (const char* name : {"/a/b/c.tar", "a/b/c.tar"}) {
    std::unique_ptr<orepostream> out(t.PutFile(name));
    *out << (name[0] == '/' ? "long old content" : "new");
    out->close();
    ASSERT_FALSE(out->fail());
  }
  EXPECT_EQ((std::vector<std::string>{"a/", "a/b/", "a/b/c.tar"}), dktest::ListTree(dir.path()));
  EXPECT_EQ("new", dktest::ReadFile(dir / "a/b/c.tar"));
  std::string big;  // several copy chunks, no short period for a chunking bug to hide in
  for (int i = 0; big.size() < 35000; ++i) big += std::to_string(i * 7919) + ",";
  std::istringstream in(big), empty("");
  t.PutFile(in, "big.bin");
  t.PutFile(empty, "empty");
  EXPECT_TRUE(t.IsExist("empty"));
  dktest::TempDir other;
  tRepositoryLocal dst(other.path());
  t.Move("big.bin", dst, "x/moved.bin");
  EXPECT_EQ(big, dktest::ReadFile(other / "x/moved.bin"));
  EXPECT_FALSE(dktest::Exists(dir / "big.bin"));
}

// Failed reads and writes are stream errors that leave the destination as it
// was; a parent that is a file fails with the message of every level; a move
// whose source cannot be deleted (/proc) reports it and keeps the copy.
TEST_F(LocalTransport, FailedReadsWritesAndDeletesAreReported) {
  dktest::WriteFile(dir / "dst", "precious");
  std::unique_ptr<irepostream> missing(t.GetFile("missing"));
  EXPECT_TRUE(missing->fail());
  EXPECT_FALSE(missing->is_open());
  EXPECT_EQ("Stream error: missing:\nInput stream error",
            dktest::ThrownText<StreamError>([&] { t.Copy("missing", t, "dst"); }));
  EXPECT_EQ("precious", dktest::ReadFile(dir / "dst"));
  // /dev/full accepts the open and fails every write, also the one made by close.
  tRepositoryLocal dev("/dev");
  std::istringstream in("some bytes that never reach a disk");
  EXPECT_EQ("Stream error: full:\nOutput stream error",
            dktest::ThrownText<StreamError>([&] { dev.PutFile(in, "full"); }));
  dktest::TransportFailure f = dktest::CatchTransportFailure([&] { delete t.PutFile("dst/sub/f"); });
  EXPECT_EQ(0, f.status);
  EXPECT_EQ(0u, f.text.find("Transport error: unable to write file dst/sub/f: Transport error: Unable to "
                            "create parent dirs for 'dst/sub/f': Transport error: Unable to create dir dst: "))
      << f.text;
  EXPECT_TRUE(dktest::CatchTransportFailure([&] { t.CreateDir("x/y"); }).raised);
  tRepositoryLocal proc("/proc");
  f = dktest::CatchTransportFailure([&] { proc.Move("version", t, "v"); });
  EXPECT_EQ(0, f.status);
  EXPECT_EQ(0u, f.text.find("Transport error: Unable to delete file version: ")) << f.text;
  EXPECT_EQ(dktest::ReadFile("/proc/version"), dktest::ReadFile(dir / "v"));
}

// A missing directory is status 1 and a file status 0, alike for the three
// listings; a failed listing appends nothing.
TEST_F(LocalTransport, ListingFailuresAreAlikeAndAppendNothing) {
  dktest::WriteFile(dir / "plain", "x");
  std::vector<std::string> names;
  std::vector<FileInfo> infos;
  std::vector<DirEntry> entries;
  const std::map<std::string, std::function<void(const std::string&)>> listings = {
      {"ListDir", [&](const std::string& d) { t.ListDir(d, names); }},
      {"ListDirEx", [&](const std::string& d) { t.ListDirEx(d, infos); }},
      {"ListDirKinds", [&](const std::string& d) { t.ListDirKinds(d, entries); }}};
  for (const auto& listing : listings) {
    SCOPED_TRACE(listing.first);
    dktest::TransportFailure f = dktest::CatchTransportFailure([&] { listing.second("nodir"); });
    EXPECT_EQ(1, f.status);
    EXPECT_EQ("Transport error: Dir is not exists nodir", f.text);
    f = dktest::CatchTransportFailure([&] { listing.second("plain"); });
    EXPECT_EQ(0, f.status);
    EXPECT_EQ(0u, f.text.find("Transport error: Unable to list dir plain: ")) << f.text;
  }
  EXPECT_EQ(0u, names.size() + infos.size() + entries.size());
}

// Listings append. Kinds come from the directory itself (links stay Unknown);
// the extended listing skips what cannot be read (a dangling link) and gives
// paths, sizes and dates. IsExist means a regular file, IsDirExist a directory;
// local paths of what is missing are status 1; a size is 0 but for a file.
TEST_F(LocalTransport, ListingsAndQueriesOfATree) {
  dktest::WriteFile(dir / "d/f1", "12345");
  dktest::WriteFile(dir / "d/sub/inner", "x");
  ASSERT_EQ(0, symlink((dir / "d/sub").c_str(), (dir / "d/to_dir").c_str()));
  ASSERT_EQ(0, symlink((dir / "nowhere").c_str(), (dir / "d/dangling").c_str()));
  struct utimbuf stamp = {1000000000, 1234567890};
  ASSERT_EQ(0, utime((dir / "d/f1").c_str(), &stamp));
  std::vector<std::string> names{"kept"};
  t.ListDir("d", names);
  EXPECT_EQ((std::vector<std::string>{"dangling", "f1", "kept", "sub", "to_dir"}), dktest::Sorted(names));
  std::vector<DirEntry> entries{DirEntry{"kept", EntryKind::File}};
  t.ListDirKinds("d", entries);
  std::map<std::string, EntryKind> kinds;
  for (const DirEntry& e : entries) kinds[e.name] = e.kind;
  EXPECT_EQ((std::map<std::string, EntryKind>{{"kept", EntryKind::File}, {"f1", EntryKind::File},
                                              {"sub", EntryKind::Dir}, {"to_dir", EntryKind::Unknown},
                                              {"dangling", EntryKind::Unknown}}),
            kinds);
  std::vector<FileInfo> infos;
  t.ListDirEx("d", infos);
  std::map<std::string, std::pair<long long, time_t>> got;
  for (const FileInfo& info : infos) got[info.path] = {info.size, info.GetDateTime()};
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ((std::pair<long long, time_t>{5, 1234567890}), got["d/f1"]);
  EXPECT_EQ(0, got["d/sub"].first + got["d/to_dir"].first);
  EXPECT_EQ(1234567890, t.GetCreationDate("d/f1"));
  EXPECT_TRUE(dktest::CatchTransportFailure([&] { t.GetCreationDate("missing"); }).raised);
  EXPECT_TRUE(t.IsExist("d/f1") && t.IsDirExist("d") && t.IsDirExist("d/to_dir"));
  EXPECT_FALSE(t.IsDirExist("d/f1") || t.IsExist("d") || t.IsExist("d/dangling"));
  EXPECT_EQ(dir / "d", t.GetLocalDirFiles("d", nullptr));
  dktest::TransportFailure f = dktest::CatchTransportFailure([&] { t.GetLocalFile("d"); });
  EXPECT_EQ(1, f.status);
  EXPECT_EQ("Transport error: File 'd' not found", f.text);
  f = dktest::CatchTransportFailure([&] { t.GetLocalDirFiles("missing", nullptr); });
  EXPECT_EQ(1, f.status);
  EXPECT_EQ("Transport error: File or dir missing not exists", f.text);
  EXPECT_EQ(5, t.GetFileSize("d/f1"));
  EXPECT_EQ(0, t.GetFileSize("d") + t.GetFileSize("missing"));
}

// Deleting removes links and trees but never what a link leads to; missing
// names are fine and a non-empty directory is refused by Delete.
TEST_F(LocalTransport, DeletionRemovesTreesButNeverFollowsLinks) {
  dktest::TempDir outside;
  dktest::WriteFile(outside / "target/keep", "keep");
  const std::string target = outside / "target";
  ASSERT_EQ(0, symlink(target.c_str(), (dir / "link1").c_str()));
  ASSERT_EQ(0, symlink(target.c_str(), (dir / "link2").c_str()));
  dktest::WriteFile(dir / "tree/a/b/f", "x");
  ASSERT_EQ(0, symlink(target.c_str(), (dir / "tree/inner").c_str()));
  dktest::WriteFile(dir / "full/f", "x");
  t.Delete("link1");
  t.DeleteDir("link2");
  t.DeleteDir("tree");
  t.DeleteDir("tree");
  t.Delete("missing");
  const dktest::TransportFailure f = dktest::CatchTransportFailure([&] { t.Delete("full"); });
  EXPECT_EQ(0u, f.text.find("Transport error: Unable to delete file full: ")) << f.text;
  EXPECT_EQ((std::vector<std::string>{"full/", "full/f"}), dktest::ListTree(dir.path()));
  EXPECT_EQ("keep", dktest::ReadFile(outside / "target/keep"));
}

}  // namespace
}  // namespace ovrin
