#include "transport/local_transport.h"

#include <unistd.h>
#include <utime.h>

#include <map>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/support/transport_support.h"

namespace ovrin {
namespace {

void Write(tRepositoryTransport& t, const std::string& name, const std::string& content) {
  std::unique_ptr<orepostream> out(t.PutFile(name));
  *out << content;
  out->close();
  ASSERT_FALSE(out->fail());
}

// Returns the text of the StreamError that `body` raised.
template <class Body>
std::string StreamErrorText(Body&& body) {
  try {
    body();
  } catch (const Exc<&tRepositoryTransport::StreamError>& e) {
    return e.what();
  }
  return "(nothing raised)";
}

class LocalTransport : public ::testing::Test {
 protected:
  dktest::TempDir dir;
  tRepositoryLocal t{dir.path() + "/"};
};

TEST_F(LocalTransport, WritesCreateParentsTruncateAndCopyWholeContent) {
  Write(t, "/a/b/c.tar", "long old content");
  Write(t, "a/b/c.tar", "new");
  EXPECT_EQ((std::vector<std::string>{"a/", "a/b/", "a/b/c.tar"}), dktest::ListTree(dir.path()));
  EXPECT_EQ("new", dktest::ReadFile(dir / "a/b/c.tar"));

  std::string big;  // several copy chunks, no short period for a chunking bug to hide in
  for (int i = 0; big.size() < 35000; ++i) big += std::to_string(i * 7919) + ",";
  std::istringstream in(big);
  t.PutFile(in, "big.bin");
  std::istringstream empty("");
  t.PutFile(empty, "empty");
  EXPECT_TRUE(t.IsExist("empty"));

  dktest::TempDir other;
  tRepositoryLocal dst(other.path());
  t.Move("big.bin", dst, "x/moved.bin");
  EXPECT_EQ(big, dktest::ReadFile(other / "x/moved.bin"));
  EXPECT_FALSE(dktest::Exists(dir / "big.bin"));
}

TEST_F(LocalTransport, CopyOfUnreadableSourceLeavesDestinationIntact) {
  dktest::WriteFile(dir / "dst", "precious");
  std::unique_ptr<irepostream> missing(t.GetFile("missing"));
  EXPECT_TRUE(missing->fail());
  EXPECT_FALSE(missing->is_open());
  EXPECT_EQ("Stream error: missing:\nInput stream error", StreamErrorText([&] { t.Copy("missing", t, "dst"); }));
  EXPECT_EQ("precious", dktest::ReadFile(dir / "dst"));
}

TEST(LocalTransportDevices, FailedWritesAndDeletesAreReported) {
  // /dev/full accepts the open and fails every write, also the one made by close.
  tRepositoryLocal dev("/dev");
  std::istringstream in("some bytes that never reach a disk");
  EXPECT_EQ("Stream error: full:\nOutput stream error", StreamErrorText([&] { dev.PutFile(in, "full"); }));

  // Even root cannot unlink entries of /proc: the moved copy stays.
  tRepositoryLocal proc("/proc");
  dktest::TempDir out;
  tRepositoryLocal dst(out.path());
  dktest::TransportFailure f = dktest::CatchTransportFailure([&] { proc.Move("version", dst, "v"); });
  EXPECT_EQ(0, f.status);
  EXPECT_EQ(0u, f.text.find("Transport error: Unable to delete file version: ")) << f.text;
  EXPECT_EQ(dktest::ReadFile("/proc/version"), dktest::ReadFile(out / "v"));
}

TEST_F(LocalTransport, PutFileUnderARegularFileFailsWithBothPrefixes) {
  dktest::WriteFile(dir / "plain", "x");
  dktest::TransportFailure f = dktest::CatchTransportFailure([&] { delete t.PutFile("plain/sub/f"); });
  EXPECT_EQ(0, f.status);
  EXPECT_EQ(0u, f.text.find("Transport error: unable to write file plain/sub/f: Transport error: Unable to "
                            "create parent dirs for 'plain/sub/f': Transport error: Unable to create dir plain: "))
      << f.text;
  EXPECT_TRUE(dktest::CatchTransportFailure([&] { t.CreateDir("x/y"); }).raised);
}

TEST_F(LocalTransport, ListingsAndTheirFailures) {
  std::vector<std::string> names{"kept"};
  dktest::TransportFailure f = dktest::CatchTransportFailure([&] { t.ListDir("nodir", names); });
  EXPECT_EQ(1, f.status);
  EXPECT_EQ("Transport error: Dir is not exists nodir", f.text);
  t.CreateDir("empty");
  t.CreateDir("empty");  // an existing directory is fine
  t.ListDir("empty", names);
  EXPECT_EQ(std::vector<std::string>{"kept"}, names);

  dktest::WriteFile(dir / "plain", "x");
  std::vector<FileInfo> infos;
  f = dktest::CatchTransportFailure([&] { t.ListDirEx("plain", infos); });
  EXPECT_EQ(0, f.status);
  EXPECT_EQ(0u, f.text.find("Transport error: Unable to list dir plain: ")) << f.text;
}

// The kinds come from the directory itself: links stay Unknown whatever
// they lead to, and failures read as those of the plain listing.
TEST_F(LocalTransport, KindListingTellsFilesAndDirectoriesAndLeavesLinksOpen) {
  dktest::WriteFile(dir / "d/file", "x");
  dktest::WriteFile(dir / "d/sub/inner", "x");
  ASSERT_EQ(0, symlink((dir / "d/sub").c_str(), (dir / "d/to_dir").c_str()));
  ASSERT_EQ(0, symlink((dir / "nowhere").c_str(), (dir / "d/dangling").c_str()));
  std::vector<DirEntry> entries{DirEntry{"kept", EntryKind::File}};
  t.ListDirKinds("d", entries);
  std::map<std::string, EntryKind> kinds;
  for (const DirEntry& e : entries) kinds[e.name] = e.kind;
  EXPECT_EQ((std::map<std::string, EntryKind>{{"kept", EntryKind::File},
                                              {"file", EntryKind::File},
                                              {"sub", EntryKind::Dir},
                                              {"to_dir", EntryKind::Unknown},
                                              {"dangling", EntryKind::Unknown}}),
            kinds);

  std::vector<std::string> names;
  const dktest::TransportFailure plain = dktest::CatchTransportFailure([&] { t.ListDir("nodir", names); });
  const dktest::TransportFailure kind = dktest::CatchTransportFailure([&] { t.ListDirKinds("nodir", entries); });
  EXPECT_EQ(1, kind.status);
  EXPECT_EQ(plain.text, kind.text);
  const dktest::TransportFailure notDir = dktest::CatchTransportFailure([&] { t.ListDirKinds("d/file", entries); });
  EXPECT_EQ(0, notDir.status);
  EXPECT_EQ(0u, notDir.text.find("Transport error: Unable to list dir d/file: ")) << notDir.text;
  EXPECT_EQ(5u, entries.size()) << "a failed listing added entries";
}

TEST_F(LocalTransport, ExtendedListingSkipsUnreadableEntries) {
  dktest::WriteFile(dir / "d/f1", "12345");
  dktest::WriteFile(dir / "d/sub/inner", "x");
  ASSERT_EQ(0, symlink((dir / "nowhere").c_str(), (dir / "d/dangling").c_str()));
  struct utimbuf stamp = {1000000000, 1234567890};
  ASSERT_EQ(0, utime((dir / "d/f1").c_str(), &stamp));

  std::vector<FileInfo> infos;
  t.ListDirEx("d", infos);
  ASSERT_EQ(2u, infos.size());
  if (infos[0].name != "f1") std::swap(infos[0], infos[1]);
  EXPECT_EQ("d/f1", infos[0].path);
  EXPECT_EQ(5, infos[0].size);
  EXPECT_EQ(1234567890, infos[0].GetDateTime());
  EXPECT_EQ("d/sub", infos[1].path);
  EXPECT_EQ(0, infos[1].size);
  EXPECT_EQ(1234567890, t.GetCreationDate("d/f1"));
  EXPECT_TRUE(dktest::CatchTransportFailure([&] { t.GetCreationDate("missing"); }).raised);
}

TEST_F(LocalTransport, ExistenceTestsAndLocalPaths) {
  dktest::WriteFile(dir / "d/f", "x");
  ASSERT_EQ(0, symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()));
  EXPECT_TRUE(t.IsExist("d/f"));
  EXPECT_FALSE(t.IsDirExist("d/f"));
  EXPECT_TRUE(t.IsDirExist("d"));
  EXPECT_FALSE(t.IsExist("d"));
  EXPECT_FALSE(t.IsExist("dangling"));

  EXPECT_EQ(dir / "d", t.GetLocalDirFiles("d", nullptr));
  dktest::TransportFailure f = dktest::CatchTransportFailure([&] { t.GetLocalFile("d"); });
  EXPECT_EQ(1, f.status);
  EXPECT_EQ("Transport error: File 'd' not found", f.text);
  f = dktest::CatchTransportFailure([&] { t.GetLocalDirFiles("missing", nullptr); });
  EXPECT_EQ(1, f.status);
  EXPECT_EQ("Transport error: File or dir missing not exists", f.text);
  EXPECT_EQ(0, t.GetFileSize("d"));
  EXPECT_EQ(0, t.GetFileSize("missing"));
}

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
  t.DeleteDir("tree");  // missing: fine
  t.Delete("missing");
  dktest::TransportFailure f = dktest::CatchTransportFailure([&] { t.Delete("full"); });
  EXPECT_EQ(0u, f.text.find("Transport error: Unable to delete file full: ")) << f.text;
  EXPECT_EQ((std::vector<std::string>{"full/", "full/f"}), dktest::ListTree(dir.path()));
  EXPECT_EQ("keep", dktest::ReadFile(outside / "target/keep"));
}

}  // namespace
}  // namespace ovrin
