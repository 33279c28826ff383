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

// Every name, also an absolute one, lies below the sub-directory; a copy
// confines only its source; the inner transport outlives the wrapper.
TEST_F(ChrootTransport, NamesAreConfinedToTheSubDirectory) {
  EXPECT_EQ(dir / "sub", sub->GetUrl());
  EXPECT_EQ(dir / "sub", sub->GetReceivingDir());
  std::istringstream in("data");
  sub->PutFile(in, "a/f");
  dktest::WriteFile(dir / "a/f", "outside");
  EXPECT_TRUE(sub->IsExist("/a/f"));
  EXPECT_EQ(dir / "sub/a/f", sub->GetLocalFile("a/f"));
  sub->Copy("a/f", inner, "copied");
  sub->Move("a/f", *sub, "moved");
  sub->DeleteDir("a");
  EXPECT_EQ((std::vector<std::string>{"a/", "a/f", "copied", "sub/", "sub/moved"}), dktest::ListTree(dir.path()));
  EXPECT_EQ("data", dktest::ReadFile(dir / "copied"));
  EXPECT_EQ("data", dktest::ReadFile(dir / "sub/moved"));
  sub->Delete("moved");
  sub.reset();
  EXPECT_FALSE(inner.IsExist("sub/moved"));
  EXPECT_TRUE(inner.IsExist("a/f"));
}

// Listings give paths and failure texts in the inner transport's terms.
TEST_F(ChrootTransport, ListingsAndFailuresKeepTheInnerPaths) {
  dktest::WriteFile(dir / "sub/d/f", "123");
  sub->CreateDir("d/e");
  std::vector<FileInfo> infos;
  sub->ListDirEx("d", infos);
  ASSERT_EQ(2u, infos.size());
  for (const FileInfo& info : infos) EXPECT_EQ("sub/d/" + info.name, info.path);
  std::vector<std::string> names;
  const dktest::TransportFailure f = dktest::CatchTransportFailure([&] { sub->ListDir("missing", names); });
  EXPECT_EQ(1, f.status);
  EXPECT_EQ("Transport error: Dir is not exists sub/missing", f.text);
}

}  // namespace
}  // namespace ovrin
