#include "transport/ftp_transport.h"

#include <memory>

#include <gtest/gtest.h>

#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"

using namespace ovrin;
using dktest::FtpServer;

namespace {

// A repository directory "/repo" on a loopback server, temporary files in a
// sample installation and the library's log kept for inspection.
class FtpTransport : public ::testing::Test {
 protected:
  explicit FtpTransport(const std::string& mode = "normal") : server(mode, {{"dk", "pw"}}) {
    dktest::Shell("mkdir -p '" + server.root() + "/repo'");
    transport = Make(server.Url("/repo/"));
  }

  std::unique_ptr<tRepositoryFtp> Make(const std::string& url, const std::string& password = "pw",
                                       unsigned long timeout = 10) {
    std::unique_ptr<tRepositoryFtp> t(new tRepositoryFtp(url));
    t->Init("dk", password, true, timeout);
    return t;
  }

  std::string Remote(const std::string& name) const { return server.root() + "/repo/" + name; }

  int Count(const std::string& commandPrefix) const {
    int n = 0;
    for (const std::string& c : server.Commands()) n += c.compare(0, commandPrefix.size(), commandPrefix) == 0;
    return n;
  }

  // What is left in the temporary directory once the transport is gone.
  std::vector<std::string> LeftoversAfterDestruction() {
    transport.reset();
    return dktest::ListTree(install.tmp());
  }

  dktest::SampleInstallation install;
  dktest::CapturedLog log;
  FtpServer server;
  std::unique_ptr<tRepositoryFtp> transport;
};

int StatusOf(const std::function<void()>& action, std::string* message = nullptr) {
  try {
    action();
  } catch (const TransportException& e) {
    if (message) *message = e.what();
    return e.status;
  }
  ADD_FAILURE() << "no TransportException";
  return -1;
}

}  // namespace

TEST_F(FtpTransport, StreamsStoreAndReadFilesThroughTemporaryCopies) {
  EXPECT_EQ(server.Url("/repo"), transport->GetUrl());
  {
    std::unique_ptr<orepostream> out(transport->PutFile("a.tar"));
    ASSERT_TRUE(out->is_open());
    *out << "first part|" << std::string(100000, 'z');
    out->close();
    EXPECT_FALSE(out->fail());
  }
  EXPECT_EQ("first part|" + std::string(100000, 'z'), dktest::ReadFile(Remote("a.tar")));
  {
    std::unique_ptr<irepostream> in(transport->GetFile("a.tar"));
    ASSERT_TRUE(in->is_open());
    std::string head;
    std::getline(*in, head, '|');
    EXPECT_EQ("first part", head);
    in->close();
  }
  {
    // Deleting a written stream without close() stores nothing.
    std::unique_ptr<orepostream> out(transport->PutFile("b.tar"));
    *out << "never stored";
  }
  EXPECT_FALSE(dktest::Exists(Remote("b.tar")));
  {
    // Nor does a stream whose writing failed.
    std::unique_ptr<orepostream> out(transport->PutFile("c.tar"));
    *out << "partial";
    out->setstate(std::ios_base::badbit);
    out->close();
    EXPECT_TRUE(out->fail());
  }
  EXPECT_FALSE(dktest::Exists(Remote("c.tar")));
  {
    // A read stream deleted unclosed takes its downloaded copy with it.
    std::unique_ptr<irepostream> in(transport->GetFile("a.tar"));
  }
  EXPECT_TRUE(LeftoversAfterDestruction().empty());
}

TEST_F(FtpTransport, MissingRemoteFileCannotBeRead) {
  std::string message;
  int status = StatusOf([&] { transport->GetFile("missing.tar"); }, &message);
  EXPECT_EQ(7, status);
  EXPECT_EQ(0u, message.find("Transport error: unable to read file missing.tar: Curl error: ")) << message;
  EXPECT_TRUE(LeftoversAfterDestruction().empty());
}

TEST_F(FtpTransport, DirectoriesListingsAndExistence) {
  transport->CreateDir("clients");
  transport->CreateDir("clients");  // an existing directory is fine
  transport->CreateDir("clients/c1");
  ASSERT_TRUE(dktest::Exists(Remote("clients/c1")));
  dktest::WriteFile(Remote("clients/c1/d.xml"), "12345");
  dktest::WriteFile(Remote("top.tar"), "1");

  std::vector<std::string> names;
  transport->ListDir("clients/c1", names);
  EXPECT_EQ(std::vector<std::string>{"d.xml"}, names);

  std::vector<FileInfo> infos;
  transport->ListDirEx("clients/c1/", infos);
  ASSERT_EQ(1u, infos.size());
  EXPECT_EQ("d.xml", infos[0].name);
  EXPECT_EQ("clients/c1/d.xml", infos[0].path);
  EXPECT_EQ(5, infos[0].size);
  EXPECT_FALSE(infos[0].GetDateTimeStr().empty());

  EXPECT_TRUE(transport->IsExist("clients/c1/d.xml"));
  EXPECT_TRUE(transport->IsExist("top.tar"));
  EXPECT_FALSE(transport->IsExist("clients/c1"));
  EXPECT_FALSE(transport->IsExist("clients/c1/none.xml"));
  EXPECT_TRUE(transport->IsDirExist("clients/c1"));
  EXPECT_FALSE(transport->IsDirExist("top.tar"));
  EXPECT_FALSE(transport->IsDirExist("nowhere"));

  // A file below a directory that is not there is simply not there (the
  // first dump of an object asks that of its new directory).
  EXPECT_FALSE(transport->IsExist("nowhere/x.tar"));
  std::vector<std::string> untouched;
  StatusOf([&] { transport->ListDir("nowhere", untouched); });
  EXPECT_TRUE(untouched.empty());

  transport->Delete("clients/c1/d.xml");
  transport->Delete("clients/c1/d.xml");  // already gone: fine
  EXPECT_FALSE(dktest::Exists(Remote("clients/c1/d.xml")));
  transport->DeleteDir("clients/c1");
  transport->DeleteDir("clients/c1");  // already gone: fine
  EXPECT_FALSE(dktest::Exists(Remote("clients/c1")));
  // A directory that is not empty is not removed, and says so.
  dktest::WriteFile(Remote("clients/keep.tar"), "k");
  EXPECT_EQ(7, StatusOf([&] { transport->DeleteDir("clients"); }));
  EXPECT_EQ(7, StatusOf([&] { transport->Delete("clients"); }));
  EXPECT_TRUE(dktest::Exists(Remote("clients/keep.tar")));
  EXPECT_EQ(0, transport->GetCreationDate("top.tar"));
}

TEST_F(FtpTransport, LocalCopiesAreDownloadedOnceAndRemovedWithTheTransport) {
  dktest::WriteFile(Remote("d/one.tar"), "one");
  const std::string local = transport->GetLocalFile("d/one.tar");
  EXPECT_EQ("one", dktest::ReadFile(local));
  EXPECT_EQ(0u, local.find(transport->GetReceivingDir()));
  EXPECT_EQ(local, transport->GetLocalFile("d/one.tar"));
  EXPECT_EQ(1, Count("RETR"));
  EXPECT_TRUE(log.Has("Local file '" + local + "' already exist"));

  std::string message;
  EXPECT_EQ(7, StatusOf([&] { transport->GetLocalFile("d/two.tar"); }, &message));
  EXPECT_EQ(0u, message.find("Transport error: Unable to download remote file 'd/two.tar': Curl error: ")) << message;
  EXPECT_FALSE(dktest::Exists(transport->GetReceivingDir() + "/d/two.tar"));

  const std::string receiving = transport->GetReceivingDir();
  EXPECT_TRUE(LeftoversAfterDestruction().empty());
  EXPECT_FALSE(dktest::Exists(receiving));
}

TEST_F(FtpTransport, LocalDirectoryCopiesTakeTheChosenEntries) {
  dktest::WriteFile(Remote("dump/a.txt"), "a");
  dktest::WriteFile(Remote("dump/b.txt"), "b");
  dktest::WriteFile(Remote("dump/sub/c.txt"), "c");
  dktest::WriteFile(Remote("dump/sub/deeper/d.txt"), "d");

  const std::vector<std::string> chosen = {"a.txt", "sub"};
  const std::string local = transport->GetLocalDirFiles("dump", &chosen);
  EXPECT_EQ((std::vector<std::string>{"a.txt", "sub/", "sub/c.txt", "sub/deeper/", "sub/deeper/d.txt"}),
            dktest::ListTree(local));
  EXPECT_EQ("d", dktest::ReadFile(local + "/sub/deeper/d.txt"));

  const std::string all = transport->GetLocalDirFiles("dump", nullptr);
  EXPECT_EQ(local, all);
  EXPECT_TRUE(dktest::Exists(all + "/b.txt"));

  EXPECT_EQ("b", dktest::ReadFile(transport->GetLocalDirFiles("dump/b.txt", nullptr)));
  std::string message;
  EXPECT_EQ(1, StatusOf([&] { transport->GetLocalDirFiles("dump/none", nullptr); }, &message));
  EXPECT_EQ("Transport error: File or dir 'dump/none' not found", message);
}

TEST_F(FtpTransport, ReceivedTreesAreSentAndEmptiedLocally) {
  const std::string& receiving = transport->GetReceivingDir();
  dktest::WriteFile(receiving + "/up/x.tar", "x");
  dktest::WriteFile(receiving + "/up/deep/y.xml", "y");
  dktest::Shell("mkdir -p '" + receiving + "/up/empty'");
  transport->CreateDir("up");
  transport->ReceiveDir("up");
  EXPECT_EQ("x", dktest::ReadFile(Remote("up/x.tar")));
  EXPECT_EQ("y", dktest::ReadFile(Remote("up/deep/y.xml")));
  EXPECT_TRUE(dktest::Exists(Remote("up/empty")));
  EXPECT_TRUE(dktest::ListTree(receiving + "/up").empty());

  EXPECT_THROW(transport->ReceiveDir("//host/up"), Exc<&tRepositoryTransport::PathIsAbsoluteError>);
  // Sent entries are removed locally: a path out of the receiving directory is refused.
  dktest::TempDir outside;
  dktest::WriteFile(outside / "precious", "p");
  EXPECT_EQ(0, StatusOf([&] { transport->ReceiveDir("up/../../" + outside.path()); }));
  EXPECT_TRUE(dktest::Exists(outside / "precious"));

  // The local file of a put that failed stays where it was (the server
  // holds a directory of that name). Directories new on the server are made
  // on the way.
  dktest::Shell("mkdir -p '" + Remote("bad/z.tar") + "'");
  dktest::WriteFile(receiving + "/fresh/new/n.xml", "n");
  transport->ReceiveDir("fresh/new");
  EXPECT_EQ("n", dktest::ReadFile(Remote("fresh/new/n.xml")));
  dktest::WriteFile(receiving + "/bad/z.tar", "z");
  std::string message;
  EXPECT_NE(-1, StatusOf([&] { transport->ReceiveDir("bad"); }, &message));
  EXPECT_NE(std::string::npos, message.find("unable to put local file ")) << message;
  EXPECT_TRUE(dktest::Exists(receiving + "/bad/z.tar"));
}

TEST_F(FtpTransport, NamesWithLineBreaksAreRefusedBeforeAnyRequest) {
  dktest::WriteFile(Remote("keep.tar"), "k");
  std::unique_ptr<tRepositoryFtp> fresh = Make(server.Url("/repo"));
  const std::string evil = "x\r\nDELE keep.tar";
  EXPECT_EQ(0, StatusOf([&] { fresh->Delete(evil); }));
  EXPECT_EQ(0, StatusOf([&] { fresh->CreateDir(evil); }));
  EXPECT_EQ(0, StatusOf([&] { fresh->GetFile(evil); }));
  EXPECT_EQ(0, StatusOf([&] { fresh->PutFile("x\nDELE keep.tar"); }));
  EXPECT_EQ(0, StatusOf([&] { fresh->GetLocalFile(evil); }));
  std::vector<std::string> names;
  EXPECT_EQ(0, StatusOf([&] { fresh->ListDir(evil, names); }));
  EXPECT_TRUE(server.Commands().empty());
  EXPECT_TRUE(dktest::Exists(Remote("keep.tar")));
  EXPECT_TRUE(dktest::ListTree(fresh->GetReceivingDir()).empty());
}

TEST_F(FtpTransport, UnsupportedQueries) {
  std::string message;
  EXPECT_EQ(0, StatusOf([&] { transport->GetFileSize("a.tar"); }, &message));
  EXPECT_EQ("Transport error: tRepositoryFtp::GetFileSize not implemented", message);
  tRepositoryFtp uninitialised(server.Url("/repo"));
  EXPECT_EQ(0, StatusOf([&] { uninitialised.CreateDir("x"); }));
}

TEST_F(FtpTransport, ServerFailuresBecomeTransportStatuses) {
  std::vector<std::string> names;
  std::string message;
  EXPECT_EQ(2, StatusOf([&] { Make(server.Url("/repo"), "wrong")->ListDir("", names); }, &message));
  EXPECT_EQ(std::string("Transport error: unable to list directory: Curl error: ") +
                curl_easy_strerror(CURLE_LOGIN_DENIED),
            message);

  FtpServer refusing("refuse-login");
  EXPECT_EQ(2, StatusOf([&] { Make(refusing.Url("/"))->ListDir("", names); }));

  EXPECT_EQ(5, StatusOf([&] { Make("ftp://no-such-host.invalid/repo")->IsDirExist("x"); }, &message));
  EXPECT_NE(std::string::npos, message.find("unable to check directory existence: ")) << message;

  const std::string closed = "ftp://127.0.0.1:" + std::to_string(dktest::ClosedLocalPort()) + "/repo";
  EXPECT_EQ(6, StatusOf([&] { Make(closed)->CreateDir("x"); }));

  FtpServer stalling("stall");
  auto slow = Make(stalling.Url("/repo"), "pw", 2);
  EXPECT_EQ(7, StatusOf([&] { slow->ListDir("", names); }, &message));
  EXPECT_EQ(std::string("Transport error: unable to list directory: Curl error: ") +
                curl_easy_strerror(CURLE_OPERATION_TIMEDOUT),
            message);
  EXPECT_TRUE(names.empty());
}

class FtpTransportDroppingDownloads : public FtpTransport {
 protected:
  FtpTransportDroppingDownloads() : FtpTransport("drop-download") {}
};

TEST_F(FtpTransportDroppingDownloads, NoTruncatedCopyIsEverHandedOut) {
  dktest::WriteFile(Remote("big.tar"), std::string(1 << 20, 'b'));
  const std::string receiving = transport->GetReceivingDir();
  EXPECT_EQ(7, StatusOf([&] { transport->GetLocalFile("big.tar"); }));
  EXPECT_FALSE(dktest::Exists(receiving + "/big.tar"));
  // The server is gone now: asking again fails instead of returning a stale copy.
  EXPECT_NE(1, StatusOf([&] { transport->GetLocalFile("big.tar"); }));
  EXPECT_TRUE(LeftoversAfterDestruction().empty());
}

TEST_F(FtpTransportDroppingDownloads, AStreamOverADroppedDownloadFails) {
  dktest::WriteFile(Remote("big.tar"), std::string(1 << 20, 'b'));
  EXPECT_EQ(7, StatusOf([&] { transport->GetFile("big.tar"); }));
  EXPECT_TRUE(LeftoversAfterDestruction().empty());
}

class FtpTransportDroppingUploads : public FtpTransport {
 protected:
  FtpTransportDroppingUploads() : FtpTransport("drop-upload") {}
};

TEST_F(FtpTransportDroppingUploads, AFailedUploadIsReportedAndLeavesNoTemporaryFile) {
  std::unique_ptr<orepostream> out(transport->PutFile("big.tar"));
  *out << std::string(1 << 20, 'u');
  std::string message;
  EXPECT_EQ(7, StatusOf([&] { out->close(); }, &message));
  EXPECT_NE(std::string::npos, message.find("unable to write file " + server.Url("/repo/big.tar") + ": Curl error: "))
      << message;
  EXPECT_TRUE(out->fail());
  out.reset();
  EXPECT_TRUE(LeftoversAfterDestruction().empty());
}
