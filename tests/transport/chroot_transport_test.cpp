#include "transport/chroot_transport.h"

#include <memory>
#include <sstream>

#include "tests/support/test_support.h"
#include "tests/support/transport_support.h"
#include "transport/local_transport.h"

using namespace ovrin;

// Every name, also an absolute one, lies below the sub-directory, a copy confining only its source; listings
// and failures give the inner transport's paths; the inner transport outlives the wrapper.
TEST(ChrootTransport, NamesAreConfinedToTheSubDirectory) {
  dktest::TempDir dir;
  tRepositoryLocal inner(dir.path());
  std::unique_ptr<tRepositoryTransport> sub(tRepositoryTransport::Chroot(&inner, "sub"));
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
  EXPECT_EQ("data|data", dktest::ReadFile(dir / "copied") + "|" + dktest::ReadFile(dir / "sub/moved"));
  dktest::WriteFile(dir / "sub/d/f", "123");
  sub->CreateDir("d/e");
  std::vector<FileInfo> infos;
  sub->ListDirEx("d", infos);
  ASSERT_EQ(2u, infos.size());
  for (const FileInfo& info : infos) EXPECT_EQ("sub/d/" + info.name, info.path);
  std::vector<std::string> names;
  const dktest::TransportFailure f = dktest::CatchTransportFailure([&] { sub->ListDir("missing", names); });
  EXPECT_EQ("1 Transport error: Dir is not exists sub/missing", std::to_string(f.status) + " " + f.text);
  sub->Delete("moved");
  sub.reset();
  EXPECT_TRUE(!inner.IsExist("sub/moved") && inner.IsExist("a/f"));
}
