// The repository object: sidecar items, the index and the transaction of its writes.
#include "repository/naming.h"
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

// Sidecar items go below the sub-directory, read back by exact name; the index lies at the storage root
// and outlives a rollback, which removes the recorded writes and nothing else.
TEST(RepositoryTest, SidecarIndexAndTransactionInASubDirectory) {
  TempDir dir;
  Shell("mkdir -p '" + dir / "sub/clients/c1" + "'");
  tRepository repo(dir.path(), "", "", "sub", false);
  const std::string c1 = "clients/c1", dump = "backup_info_1001011200";
  repo.SetDiscoveredItem(c1 + "/" + dump + ".xml", D_ITEM_STATUS, "OK");
  for (const char* status : {"OK", "SIGN-ERROR"}) repo.SetDiscoveredItem(c1, dump, D_ITEM_STATUS, status);
  repo.SetDiscoveredItem(c1, dump, D_ITEM_OWNER_TYPE, "client");
  EXPECT_EQ(Sorted(repo.GetDiscoveredItems(c1 + "/" + dump + ".xml", "status")), (Words{"OK", "SIGN-ERROR"}));
  // "owner" is a prefix of "ownertype" but not the same item.
  EXPECT_EQ(repo.GetDiscoveredItems(c1, dump, D_ITEM_OWNER), Words{});
  EXPECT_EQ(repo.GetDiscoveredItems("clients/c9/" + dump + ".xml", "status"), Words{});
  WriteFile(dir / ".discovered/g1_c1", "marker");
  repo.CreateRepositoryIndex("g1_c1");
  repo.CreateRepositoryIndex("g2_c2");
  EXPECT_EQ(ReadFile(dir / ".discovered/g1_c1"), "marker");

  for (const char* f : {"a", "b"}) WriteFile(dir / "sub/clients/c2/" + f, "");
  repo.BeginTransaction();
  repo.SetDiscoveredItem("clients/c2", dump, D_ITEM_STATUS, "OK");
  repo.SetDiscoveredItem(c1, dump, D_ITEM_OWNER, "o");
  repo.AddFilesToTransaction("", {"clients/c2/a"});
  repo.CreateRepositoryIndex("g3_c2");
  repo.RollbackTransaction();
  EXPECT_FALSE(repo.IsTransactionStarted());
  const std::string side = "sub/clients/c1/.discovered/" + dump + "/";
  EXPECT_EQ(ListTree(dir.path()),
            (Words{".discovered/", ".discovered/g1_c1", ".discovered/g2_c2", ".discovered/g3_c2", "sub/",
                   "sub/clients/", "sub/clients/c1/", "sub/clients/c1/.discovered/", side, side + "ownertype_client",
                   side + "status_OK", side + "status_SIGN-ERROR", "sub/clients/c2/", "sub/clients/c2/b"}));
}

}  // namespace
}  // namespace dktest
