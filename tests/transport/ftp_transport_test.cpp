#include "transport/ftp_transport.h"

#include <functional>
#include <memory>
#include <tuple>

#include <gtest/gtest.h>

#include "tests/support/ftp_support.h"
#include "tests/support/transport_support.h"

using namespace ovrin;
using namespace dktest;

namespace {

using Names = std::vector<std::string>;

std::unique_ptr<tRepositoryFtp> Make(const std::string& url, const std::string& login = "dk", std::string pw = "pw") {
  std::unique_ptr<tRepositoryFtp> t(new tRepositoryFtp(url));
  t->Init(login, pw, true, 10);
  return t;
}

// A transport on "/repo" of a loopback server, temporary files in a sample installation.
class FtpTransport : public ::testing::Test {
 protected:
  FtpTransport() : transport((Shell("mkdir '" + server.root() + "/repo'"), Make(server.Url("/repo/")))) {}
  std::string Remote(const std::string& name) const { return server.root() + "/repo/" + name; }
  Names LeftoversAfterDestruction() {
    transport.reset();
    return ListTree(install.tmp());
  }

  SampleInstallation install;
  FtpServer server;
  std::unique_ptr<tRepositoryFtp> transport;
};

}  // namespace

// Streams are stored at close() only when written whole; their temporary copies do not outlive them.
TEST_F(FtpTransport, StreamsStoreAndReadFilesThroughTemporaryCopies) {
  EXPECT_EQ(server.Url("/repo"), transport->GetUrl());
  std::unique_ptr<orepostream> out(transport->PutFile("a.tar"));
  *out << "first part|" << std::string(100000, 'z');
  out->close();
  EXPECT_FALSE(out->fail());
  EXPECT_EQ("first part|" + std::string(100000, 'z'), ReadFile(Remote("a.tar")));
  std::unique_ptr<irepostream> in(transport->GetFile("a.tar"));
  std::string head;
  std::getline(*in, head, '|');
  EXPECT_EQ("first part", head);
  in.reset(transport->GetFile("a.tar"));  // deleted unclosed
  out.reset(transport->PutFile("b.tar"));
  *out << "never stored";
  out.reset(transport->PutFile("c.tar"));
  *out << "partial";
  out->setstate(std::ios_base::badbit);
  out->close();
  EXPECT_TRUE(out->fail());
  out.reset();
  in.reset();
  EXPECT_EQ(Names{"a.tar"}, ListTree(server.root() + "/repo"));
  EXPECT_EQ(Names{}, LeftoversAfterDestruction());
}

// Idempotent making and removal; listings whole however they arrive; existence of files and directories.
TEST_F(FtpTransport, DirectoriesListingsAndExistence) {
  for (const char* dir : {"clients", "clients", "clients/c1"}) transport->CreateDir(dir);
  WriteFile(Remote("clients/c1/d.xml"), "12345");
  WriteFile(Remote("top.tar"), "1");
  const struct { std::string name; bool file, dir; } cases[] = {
      {"clients/c1/d.xml", true, false}, {"top.tar", true, false},   {"clients/c1", false, true},
      {"clients/c1/none.xml", false, false}, {"nowhere", false, false}, {"nowhere/x.tar", false, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.file, transport->IsExist(c.name)) << c.name;
    EXPECT_EQ(c.dir, transport->IsDirExist(c.name)) << c.name;
  }
  Names names;
  EXPECT_EQ(2, CatchTransportFailure([&] { transport->ListDir("nowhere", names); }).status);
  EXPECT_EQ(Names{}, names);
  for (int twice = 0; twice < 2; ++twice) transport->Delete("clients/c1/d.xml");
  for (int twice = 0; twice < 2; ++twice) transport->DeleteDir("clients/c1");
  EXPECT_EQ((Names{"clients/", "top.tar"}), ListTree(server.root() + "/repo"));

  Shell("mkdir '" + Remote("long") + "' && cd '" + Remote("long") +
        "' && for i in $(seq 1000 2499); do echo -n $i > long_domain_name_example_$i.tar; done");
  Names listed, expected;
  std::vector<FileInfo> infos;
  transport->ListDir("long", listed);
  transport->ListDirEx("long/", infos);
  for (const FileInfo& i : infos) listed.insert(listed.end(), {i.name, i.path + ":" + std::to_string(i.size)});
  for (int i = 1000; i < 2500; ++i) {
    const std::string name = "long_domain_name_example_" + std::to_string(i) + ".tar";
    expected.insert(expected.end(), {name, name, "long/" + name + ":4"});
  }
  EXPECT_EQ(Sorted(expected), Sorted(listed));
}

// Local copies, of files or chosen sub-trees, are downloaded once and removed with the transport.
TEST_F(FtpTransport, LocalCopiesAreDownloadedOnceAndRemovedWithTheTransport) {
  for (const char* name : {"a.txt", "b.txt", "sub/c.txt", "sub/deeper/d.txt"}) WriteFile(Remote("dump/") + name, name);
  const std::string local = transport->GetLocalFile("dump/a.txt");
  EXPECT_EQ("a.txt", ReadFile(local));
  EXPECT_EQ(transport->GetReceivingDir() + "/dump/a.txt", local);
  EXPECT_EQ(local, transport->GetLocalFile("dump/a.txt"));
  const Names sent = server.Commands();
  EXPECT_EQ(1, std::count_if(sent.begin(), sent.end(), [](const std::string& c) { return c.find("RETR") == 0; }));
  const Names chosen = {"a.txt", "sub"};
  const std::string dir = transport->GetLocalDirFiles("dump", &chosen);
  EXPECT_EQ((Names{"a.txt", "sub/", "sub/c.txt", "sub/deeper/", "sub/deeper/d.txt"}), ListTree(dir));
  EXPECT_EQ("sub/deeper/d.txt", ReadFile(dir + "/sub/deeper/d.txt"));
  EXPECT_EQ(dir, transport->GetLocalDirFiles("dump", nullptr));
  EXPECT_EQ("b.txt", ReadFile(dir + "/b.txt"));
  EXPECT_EQ(Names{}, LeftoversAfterDestruction());
}

// A received tree is sent whole and emptied locally; a rooted or escaping path is refused.
TEST_F(FtpTransport, ReceivedTreesAreSentAndEmptiedLocally) {
  const std::string& receiving = transport->GetReceivingDir();
  WriteFile(receiving + "/up/x.tar", "x");
  WriteFile(receiving + "/up/new/deep/y.xml", "y");
  Shell("mkdir -p '" + receiving + "/up/empty' '" + Remote("bad/z.tar") + "'");
  transport->ReceiveDir("up");
  EXPECT_EQ((Names{"empty/", "new/", "new/deep/", "new/deep/y.xml", "x.tar"}), ListTree(Remote("up")));
  EXPECT_EQ("y", ReadFile(Remote("up/new/deep/y.xml")));
  EXPECT_EQ(Names{}, ListTree(receiving + "/up"));

  EXPECT_THROW(transport->ReceiveDir("//host/up"), Exc<&tRepositoryTransport::PathIsAbsoluteError>);
  TempDir outside;
  WriteFile(outside / "precious", "p");
  const TransportFailure escape = CatchTransportFailure([&] { transport->ReceiveDir("up/../../" + outside.path()); });
  EXPECT_EQ(0, escape.status);
  EXPECT_EQ("Transport error: unable to send directory to repository: path leaves the receiving directory: up/../../" +
                outside.path(),
            escape.text);
  EXPECT_TRUE(Exists(outside / "precious"));
  WriteFile(receiving + "/bad/z.tar", "z");  // the server holds a directory of that name
  const TransportFailure put = CatchTransportFailure([&] { transport->ReceiveDir("bad"); });
  EXPECT_EQ(7, put.status);
  EXPECT_EQ(0u, put.text.find("Transport error: unable to put local file " + receiving + "/bad/z.tar to bad/z.tar: "))
      << put.text;
  EXPECT_TRUE(Exists(receiving + "/bad/z.tar"));
}

// Each failure carries its status and names what failed, leaving no local copy.
TEST_F(FtpTransport, FailuresNameTheOperationAndLeaveNoCopies) {
  WriteFile(Remote("clients/keep.tar"), "k");
  tRepositoryFtp uninitialised(server.Url("/repo"));
  const std::string curl = ": Curl error: ";
  const std::vector<std::tuple<std::function<void()>, int, std::string>> cases = {  // status, message's beginning
      {[&] { transport->GetFile("missing.tar"); }, 7, "unable to read file missing.tar" + curl},
      {[&] { transport->GetLocalFile("two.tar"); }, 7, "Unable to download remote file 'two.tar'" + curl},
      {[&] { std::unique_ptr<orepostream>(transport->PutFile("nowhere/x.tar"))->close(); }, 2,
       "unable to write file " + server.Url("/repo/nowhere/x.tar") + curl},
      {[&] { transport->GetLocalDirFiles("dump/none", nullptr); }, 1, "File or dir 'dump/none' not found"},
      {[&] { transport->DeleteDir("clients"); }, 7, "unable to delete directory" + curl},
      {[&] { transport->Delete("clients"); }, 7, "unable to delete directory" + curl},
      {[&] { uninitialised.CreateDir("x"); }, 0, "FTP transport used before Init: " + server.Url("/repo")},
      {[&] { Make("ftp://no-such-host.invalid/repo")->IsDirExist("x"); }, 5,
       "unable to check directory existence" + curl + "Couldn't resolve host name"},
  };
  for (const auto& c : cases) {
    const TransportFailure failure = CatchTransportFailure(std::get<0>(c));
    SCOPED_TRACE(failure.text);
    EXPECT_EQ(std::get<1>(c), failure.status);
    EXPECT_EQ(0u, failure.text.find("Transport error: " + std::get<2>(c)));
  }
  EXPECT_TRUE(Exists(Remote("clients/keep.tar")));
  EXPECT_EQ(Names{}, ListTree(transport->GetReceivingDir()));
  EXPECT_EQ(Names{}, LeftoversAfterDestruction());
}

// A name, login or password holding CR, LF or NUL is refused before anything is sent.
TEST_F(FtpTransport, LineBreaksNeverReachTheServer) {
  WriteFile(Remote("keep.tar"), "k");
  const std::string evil = "x\r\nDELE keep.tar";
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"Invalid path: ", [&] { transport->Delete(evil); }},
      {"Invalid path: ", [&] { transport->GetFile(evil); }},
      {"Invalid path: ", [&] { transport->PutFile("x\nDELE keep.tar"); }},
      {"Invalid path: ", [&] { transport->GetLocalFile(evil); }},
      {"Invalid path: ", [&] { transport->Delete(std::string("keep.tar\0x", 10)); }},
      {"Invalid credentials: ", [&] { Make(server.Url("/repo"), "dk\r\nDELE keep.tar")->Delete("keep.tar"); }},
      {"Invalid credentials: ", [&] { Make(server.Url("/repo"), "dk", "pw\nDELE keep.tar")->Delete("keep.tar"); }},
  };
  for (const auto& c : cases) {
    const TransportFailure failure = CatchTransportFailure(c.second);
    EXPECT_EQ(0, failure.status) << failure.text;
    EXPECT_NE(std::string::npos, failure.text.find(c.first)) << failure.text;
  }
  EXPECT_EQ(Names{}, server.Commands());
  EXPECT_EQ(Names{"keep.tar"}, ListTree(server.root() + "/repo"));
  EXPECT_EQ(Names{}, LeftoversAfterDestruction());
}
