// The repository object: its transports, file transfers, descriptor files,
// sidecar items, index and the transaction its writes are recorded in.
#include "repository/naming.h"
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

std::string Pattern(size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) text += static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return text;
}

// Without a sub-directory one transport serves both roles (and is released
// once: the sanitizer build checks). In a sub-directory of its storage a
// repository writes sidecars below it and the index at the storage root.
TEST(RepositoryTest, SubDirectoryRepositoryKeepsTheIndexAtTheStorageRoot) {
  TempDir dir;
  std::unique_ptr<tRepository> repo(new tRepository(dir.path(), "", "", "", false));
  EXPECT_EQ(&repo->Transport(), &repo->RootTransport());
  Shell("mkdir -p '" + dir / "sub/clients/c1" + "'");
  repo.reset(new tRepository(dir.path(), "", "", "sub", false));
  EXPECT_NE(&repo->Transport(), &repo->RootTransport());
  EXPECT_EQ(repo->LogPrefix(), "Repository '" + dir.path() + "/sub': ");
  repo->CreateDiscovered("clients/c1", "backup_info_1001011200", 73400320, "o1", "reseller", "g1", "c1");
  const std::string sidecar = "sub/clients/c1/.discovered/backup_info_1001011200/";
  EXPECT_EQ(ListTree(dir.path()),
            (Words{".discovered/", ".discovered/g1_c1", "sub/", "sub/clients/", "sub/clients/c1/",
                   "sub/clients/c1/.discovered/", sidecar, sidecar + "GUID_g1", sidecar + "objectid_c1",
                   sidecar + "owner_o1", sidecar + "ownertype_reseller", sidecar + "size_73400320"}));
}

// Descriptor files of any size, across the copy block, are written and read
// whole, and a rewrite truncates; Put and Get copy binary files whole and
// replace what was there. A failed transfer says which and leaves neither a
// partial file nor a changed one.
TEST(RepositoryTest, TransfersAndTheirFailures) {
  LocalRepo r;
  for (size_t size : {0, 10240, 3 * 10240 + 17}) {
    const std::string text = Pattern(size), path = "a/info_" + std::to_string(size) + ".xml";
    r.repo->PutInfo(path, text);
    EXPECT_EQ(ReadFile(r.Path(path)), text);
    EXPECT_EQ(r.repo->GetInfo(path), text);
  }
  r.repo->PutInfo("a/info_10240.xml", "short");
  EXPECT_EQ(ReadFile(r.Path("a/info_10240.xml")), "short");

  TempDir local;
  std::string data = Pattern(25000);
  data[5] = data[20000] = '\0';
  WriteFile(local / "src.bin", data);
  WriteFile(local / "dst.bin", Pattern(40000));
  const std::string dump = "clients/c1/backup_user_1001011200.tgz";
  r.repo->Put(local / "src.bin", dump);
  r.repo->Get(dump, local / "dst.bin");
  EXPECT_EQ(ReadFile(r.Path(dump)), data);
  EXPECT_EQ(ReadFile(local / "dst.bin"), data);

  using StreamError = Exc<&tRepository::StreamError>;
  EXPECT_EQ(ThrownText<StreamError>([&] { r.repo->GetInfo("missing"); }), "Stream error: Unable to open missing");
  EXPECT_EQ(ThrownText<StreamError>([&] { r.repo->PutInfo("a", "x"); }), "Stream error: Unable to open a");
  using PipeError = Exc<&tRepository::StreamPipeError>;
  EXPECT_EQ(ThrownText<PipeError>([&] { r.repo->Put(local / "missing", "x/file.tgz"); }),
            "Unable to copy streams: " + (local / "missing") + " to x/file.tgz:\nInput stream error");
  EXPECT_EQ(ThrownText<PipeError>([&] { r.repo->Get("missing.tgz", local / "dst.bin"); }),
            "Unable to copy streams: missing.tgz to " + (local / "dst.bin") + ":\nInput stream error");
  EXPECT_EQ(ThrownText<PipeError>([&] { r.repo->Get(dump, local / "no/such/dir"); }),
            "Unable to copy streams: " + dump + " to " + (local / "no/such/dir") + ":\nOutput stream error");
  EXPECT_FALSE(r.Has("x/file.tgz"));
  EXPECT_EQ(ReadFile(local / "dst.bin"), data);
}

// The repository records its writes in the open transaction, and files
// handed to it by local path relative to the repository: a rollback
// removes them all and nothing else.
TEST(RepositoryTest, TransactionUndoesWhatWasRecorded) {
  LocalRepo r;
  TempDir local;
  WriteFile(local / "f", "content");
  r.Touch("before", "kept");
  r.repo->BeginTransaction();
  r.repo->CreateDir("newdir");
  r.repo->PutInfo("newdir/info.xml", "x");
  r.repo->Put(local / "f", "put.tgz");
  for (const char* f : {"a", "b", "c"}) r.Touch(f, "");
  r.repo->AddFilesToTransaction("/tmp/x/", {"/tmp/x/a", "b"});
  r.repo->RollbackTransaction();
  EXPECT_FALSE(r.repo->IsTransactionStarted());
  EXPECT_EQ(r.Tree(), (Words{"before", "c"}));
}

// Sidecar items are made once each and read back by exact item name; an
// existing index item is left as it is, and the index outlives a rolled back
// import while the dump's own sidecar does not.
TEST(RepositoryTest, SidecarAndIndexItems) {
  LocalRepo r;
  Shell("mkdir -p '" + r.Path("clients/c1") + "'");
  r.repo->SetDiscoveredItem("clients/c1/backup_info_1001011200.xml", D_ITEM_STATUS, "OK");
  for (const char* status : {"OK", "SIGN-ERROR"})
    r.repo->SetDiscoveredItem("clients/c1", "backup_info_1001011200", D_ITEM_STATUS, status);
  r.repo->SetDiscoveredItem("clients/c1", "backup_info_1001011200", D_ITEM_OWNER_TYPE, "client");
  EXPECT_EQ(Sorted(r.repo->GetDiscoveredItems("clients/c1/backup_info_1001011200.xml", "status")),
            (Words{"OK", "SIGN-ERROR"}));
  // "owner" is a prefix of "ownertype" but not the same item.
  EXPECT_EQ(r.repo->GetDiscoveredItems("clients/c1", "backup_info_1001011200", D_ITEM_OWNER), Words{});
  EXPECT_EQ(r.repo->GetDiscoveredItems("clients/c9/backup_info_1001011200.xml", "status"), Words{});

  r.Touch(".discovered/g1_c1", "marker");
  r.repo->CreateRepositoryIndex("g1_c1");
  r.repo->CreateRepositoryIndex("g2_c2");
  EXPECT_EQ(ReadFile(r.Path(".discovered/g1_c1")), "marker");
  r.repo->BeginTransaction();
  r.repo->CreateDiscovered("", "backup_info_1001011200", -1, "o", "server", "g3", "srv");
  r.repo->RollbackTransaction();
  const std::string sidecar = "clients/c1/.discovered/backup_info_1001011200/";
  EXPECT_EQ(r.Tree(), (Words{".discovered/", ".discovered/g1_c1", ".discovered/g2_c2", ".discovered/g3_srv",
                             "clients/", "clients/c1/", "clients/c1/.discovered/", sidecar,
                             sidecar + "ownertype_client", sidecar + "status_OK", sidecar + "status_SIGN-ERROR"}));
}

}  // namespace
}  // namespace dktest
