#include "repository/repository.h"

#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"
#include "repository/naming.h"
#include "tests/repository/repo_fixture.h"
#include "transport/files_transaction.h"

using namespace ovrin;
using dktest::LocalRepo;
using dktest::ReadFile;
using dktest::RecordingLog;

namespace {

// Runs `f`, expecting a tagged error of kind `Tag`; returns its message.
template <ErrorTag Tag, class F>
std::string TaggedFailure(F f) {
  try {
    f();
  } catch (const Exc<Tag>& e) {
    return e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected error: " << e.what();
    return "";
  }
  ADD_FAILURE() << "no error of kind " << Tag(true);
  return "";
}

std::string Pattern(size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) text += static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return text;
}

}  // namespace

TEST(RepositoryTest, OneTransportServesBothRolesWithoutSubDirectory) {
  dktest::TempDir dir;
  std::unique_ptr<tRepository> repo(new tRepository(dir.path(), "", "", "", false));
  EXPECT_EQ(&repo->Transport(), &repo->RootTransport());
  EXPECT_EQ(repo->LogPrefix(), "Repository '" + dir.path() + "': ");
  // Deleting must release that one transport exactly once (checked by the sanitizer build).
  repo.reset();
}

TEST(RepositoryTest, SubDirectoryRepositoryKeepsTheIndexAtTheStorageRoot) {
  dktest::TempDir dir;
  // Sidecars are made beside an existing dump: its object directory is there.
  dktest::Shell("mkdir -p '" + dir / "sub/clients/c1" + "'");
  tRepository repo(dir.path(), "", "", "sub", false);
  EXPECT_NE(&repo.Transport(), &repo.RootTransport());
  EXPECT_EQ(repo.LogPrefix(), "Repository '" + dir.path() + "/sub': ");

  repo.CreateDiscovered("clients/c1", "backup_info_1001011200", 73400320, "o1", "reseller", "g1", "c1");
  EXPECT_EQ(dktest::ListTree(dir.path()),
            (std::vector<std::string>{".discovered/", ".discovered/g1_c1", "sub/", "sub/clients/",
                                      "sub/clients/c1/", "sub/clients/c1/.discovered/",
                                      "sub/clients/c1/.discovered/backup_info_1001011200/",
                                      "sub/clients/c1/.discovered/backup_info_1001011200/GUID_g1",
                                      "sub/clients/c1/.discovered/backup_info_1001011200/objectid_c1",
                                      "sub/clients/c1/.discovered/backup_info_1001011200/owner_o1",
                                      "sub/clients/c1/.discovered/backup_info_1001011200/ownertype_reseller",
                                      "sub/clients/c1/.discovered/backup_info_1001011200/size_73400320"}));
  EXPECT_EQ(GetDiscoveredNames(repo.RootTransport(), "g1"), (std::vector<std::string>{"c1"}));
}

TEST(RepositoryTest, FactoriesTakeLoginAndLocalRoot) {
  dktest::TempDir dir;
  std::unique_ptr<tRepository> repo(GetRepository("local:" + dir.path(), "", false, false));
  EXPECT_EQ(repo->Transport().GetUrl(), dir.path());
  EXPECT_EQ(repo->LogPrefix(), "Repository 'local:" + dir.path() + "': ");
  EXPECT_THROW(GetRepository("", "", false, false), std::out_of_range);

  dktest::SampleInstallation sample;
  std::unique_ptr<tRepository> local(GetLocalRepository(true));
  EXPECT_EQ(local->Transport().GetUrl(), sample.dumps());
  EXPECT_EQ(&local->Transport(), &local->RootTransport());

  unsigned long old = tRepository::GetRequestTimeout();
  tRepository::SetRequestTimeout(42);
  EXPECT_EQ(tRepository::GetRequestTimeout(), 42u);
  tRepository::SetRequestTimeout(old);
}

TEST(RepositoryTest, InfoFilesRoundTripWhateverTheirSize) {
  LocalRepo r;
  const std::string big = Pattern(3 * 10240 + 17);
  r.repo->PutInfo("a/b/big_info_1.xml", big);
  EXPECT_EQ(ReadFile(r.Path("a/b/big_info_1.xml")), big);
  EXPECT_EQ(r.repo->GetInfo("a/b/big_info_1.xml"), big);

  const std::string exact = Pattern(10240);
  r.Touch("exact", exact);
  EXPECT_EQ(r.repo->GetInfo("exact"), exact);

  r.repo->PutInfo("empty", "");
  EXPECT_TRUE(r.Has("empty"));
  EXPECT_EQ(r.repo->GetInfo("empty"), "");

  r.repo->PutInfo("a/b/big_info_1.xml", "short");
  EXPECT_EQ(ReadFile(r.Path("a/b/big_info_1.xml")), "short");
}

TEST(RepositoryTest, InfoFilesThatCannotBeOpened) {
  LocalRepo r;
  EXPECT_EQ(TaggedFailure<&tRepository::StreamError>([&] { r.repo->GetInfo("missing.xml"); }),
            "Stream error: Unable to open missing.xml");
  dktest::Shell("mkdir -p '" + r.Path("adir") + "'");
  EXPECT_EQ(TaggedFailure<&tRepository::StreamError>([&] { r.repo->PutInfo("adir", "x"); }),
            "Stream error: Unable to open adir");
}

TEST(RepositoryTest, PutAndGetCopyBinaryFilesWhole) {
  LocalRepo r;
  dktest::TempDir local;
  std::string data = Pattern(25000);
  data[5] = '\0';
  data[20000] = '\0';
  dktest::WriteFile(local / "src.bin", data);

  r.repo->Put(local / "src.bin", "clients/c1/backup_user_1001011200.tgz");
  EXPECT_EQ(ReadFile(r.Path("clients/c1/backup_user_1001011200.tgz")), data);

  dktest::WriteFile(local / "dst.bin", Pattern(40000));
  r.repo->Get("clients/c1/backup_user_1001011200.tgz", local / "dst.bin");
  EXPECT_EQ(ReadFile(local / "dst.bin"), data);
}

TEST(RepositoryTest, FailedCopiesReportAndLeaveNoDebris) {
  LocalRepo r;
  dktest::TempDir local;
  std::string message = TaggedFailure<&tRepository::StreamPipeError>(
      [&] { r.repo->Put(local / "missing", "x/file.tgz"); });
  EXPECT_EQ(message, "Unable to copy streams: " + (local / "missing") + " to x/file.tgz:\nInput stream error");
  EXPECT_FALSE(r.Has("x/file.tgz"));

  dktest::WriteFile(local / "keep", "old content");
  message = TaggedFailure<&tRepository::StreamPipeError>([&] { r.repo->Get("missing.tgz", local / "keep"); });
  EXPECT_EQ(message, "Unable to copy streams: missing.tgz to " + (local / "keep") + ":\nInput stream error");
  EXPECT_EQ(ReadFile(local / "keep"), "old content");

  r.Touch("src", "data");
  EXPECT_FALSE(TaggedFailure<&tRepository::StreamPipeError>([&] { r.repo->Get("src", local / "no/such/dir"); })
                   .empty());
}

TEST(RepositoryTest, TransactionUndoesWhatWasRecorded) {
  LocalRepo r;
  dktest::TempDir local;
  dktest::WriteFile(local / "f", "content");
  r.Touch("before", "kept");

  EXPECT_FALSE(r.repo->IsTransactionStarted());
  r.repo->BeginTransaction();
  EXPECT_TRUE(r.repo->IsTransactionStarted());
  r.repo->CreateDir("newdir");
  r.repo->PutInfo("newdir/info.xml", "x");
  r.repo->Put(local / "f", "put.tgz");
  r.Touch("a", "");
  r.Touch("b", "");
  r.Touch("c", "");
  r.repo->AddFilesToTransaction("/tmp/x/", {"/tmp/x/a", "b"});
  r.repo->DeleteDir("before-missing");
  r.repo->RollbackTransaction();

  EXPECT_FALSE(r.repo->IsTransactionStarted());
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{"before", "c"}));

  r.repo->BeginTransaction();
  r.repo->PutInfo("committed", "y");
  r.repo->CommitTransaction();
  EXPECT_EQ(ReadFile(r.Path("committed")), "y");
  EXPECT_EQ(TaggedFailure<&tFilesTransaction::TransactionError>([&] { r.repo->CommitTransaction(); }),
            "Transaction error: transaction not started");
}

TEST(RepositoryTest, SidecarItemsAreAddedOnceAndReadBack) {
  LocalRepo r;
  dktest::Shell("mkdir -p '" + r.Path("clients/c1") + "'");
  RecordingLog log;
  r.repo->SetDiscoveredItem("clients/c1/backup_info_1001011200.xml", D_ITEM_STATUS, "OK");
  r.repo->SetDiscoveredItem("clients/c1", "backup_info_1001011200", D_ITEM_STATUS, "OK");
  r.repo->SetDiscoveredItem("clients/c1", "backup_info_1001011200", D_ITEM_STATUS, "SIGN-ERROR");
  r.repo->SetDiscoveredItem("clients/c1", "backup_info_1001011200", D_ITEM_OWNER_TYPE, "client");
  EXPECT_TRUE(log.Has("Repository '" + r.dir.path() + "': Create item 'status_OK' for discovered "
                      "'backup_info_1001011200' at path clients/c1"));
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{"clients/", "clients/c1/", "clients/c1/.discovered/",
                                                 "clients/c1/.discovered/backup_info_1001011200/",
                                                 "clients/c1/.discovered/backup_info_1001011200/ownertype_client",
                                                 "clients/c1/.discovered/backup_info_1001011200/status_OK",
                                                 "clients/c1/.discovered/backup_info_1001011200/status_SIGN-ERROR"}));

  std::vector<std::string> statuses = r.repo->GetDiscoveredItems("clients/c1/backup_info_1001011200.xml", "status");
  std::sort(statuses.begin(), statuses.end());
  EXPECT_EQ(statuses, (std::vector<std::string>{"OK", "SIGN-ERROR"}));
  // "owner" is a prefix of "ownertype" but not the same item.
  EXPECT_TRUE(r.repo->GetDiscoveredItems("clients/c1", "backup_info_1001011200", D_ITEM_OWNER).empty());
  EXPECT_TRUE(r.repo->GetDiscoveredItems("clients/c1", "backup_info_1002011200", "status").empty());
  EXPECT_TRUE(r.repo->GetDiscoveredItems("clients/c9/backup_info_1001011200.xml", "status").empty());
}

TEST(RepositoryTest, ExistingIndexItemIsLeftAlone) {
  LocalRepo r;
  r.Touch(".discovered/g1_c1", "marker");
  r.repo->CreateRepositoryIndex("g1_c1");
  r.repo->CreateRepositoryIndex("g2_c2");
  EXPECT_EQ(ReadFile(r.Path(".discovered/g1_c1")), "marker");
  EXPECT_TRUE(r.Has(".discovered/g2_c2"));

  // The index outlives a rolled back import; the dump's own sidecar does not.
  r.repo->BeginTransaction();
  r.repo->CreateDiscovered("", "backup_info_1001011200", -1, "o", "server", "g3", "srv");
  r.repo->RollbackTransaction();
  EXPECT_EQ(r.Tree(), (std::vector<std::string>{".discovered/", ".discovered/g1_c1", ".discovered/g2_c2",
                                                ".discovered/g3_srv"}));
}
