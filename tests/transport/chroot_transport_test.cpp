#include "transport/chroot_transport.h"

#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/support/transport_support.h"
#include "transport/local_transport.h"

namespace ovrin {
namespace {

class ChrootTransport : public ::testing::Test {
 protected:
  dktest::TempDir dir;
  tRepositoryLocal inner{dir.path()};
  std::unique_ptr<tRepositoryTransport> sub{tRepositoryTransport::Chroot(&inner, "sub")};
};

TEST_F(ChrootTransport, NamesAreConfinedToTheSubDirectory) {
  EXPECT_EQ(dir / "sub", sub->GetUrl());
  EXPECT_EQ(dir / "sub", sub->GetReceivingDir());
  std::istringstream in("data");
  sub->PutFile(in, "a/f");
  EXPECT_EQ("data", dktest::ReadFile(dir / "sub/a/f"));

  dktest::WriteFile(dir / "a/f", "outside");
  EXPECT_TRUE(sub->IsExist("/a/f"));
  EXPECT_EQ(dir / "sub/a/f", sub->GetLocalFile("a/f"));
  sub->Delete("a/f");
  sub->DeleteDir("a");
  EXPECT_EQ("outside", dktest::ReadFile(dir / "a/f"));
  EXPECT_FALSE(dktest::Exists(dir / "sub/a"));
}

TEST_F(ChrootTransport, ListingsAndFailuresKeepTheInnerPaths) {
  dktest::WriteFile(dir / "sub/d/f", "123");
  sub->CreateDir("d/e");
  std::vector<FileInfo> infos;
  sub->ListDirEx("d", infos);
  ASSERT_EQ(2u, infos.size());
  for (const FileInfo& info : infos) EXPECT_EQ("sub/d/" + info.name, info.path);

  std::vector<std::string> names;
  dktest::TransportFailure f = dktest::CatchTransportFailure([&] { sub->ListDir("missing", names); });
  EXPECT_EQ(1, f.status);
  EXPECT_EQ("Transport error: Dir is not exists sub/missing", f.text);
}

TEST_F(ChrootTransport, CopyConfinesOnlyTheSourceAndInnerOutlivesTheWrapper) {
  dktest::WriteFile(dir / "sub/src", "payload");
  sub->Copy("src", inner, "copied");
  EXPECT_EQ("payload", dktest::ReadFile(dir / "copied"));
  sub->Move("src", *sub, "moved");
  EXPECT_EQ("payload", dktest::ReadFile(dir / "sub/moved"));
  EXPECT_FALSE(dktest::Exists(dir / "sub/src"));
  sub.reset();
  EXPECT_TRUE(inner.IsExist("sub/moved"));
}

}  // namespace
}  // namespace ovrin
