#include "transport/ftp_transport.h"

#include <algorithm>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "tests/support/ftp_support.h"
#include "tests/support/test_support.h"
#include "tests/support/transport_support.h"

using namespace ovrin;
using dktest::CatchTransportFailure;
using dktest::Exists;
using dktest::ListTree;
using dktest::ReadFile;
using dktest::WriteFile;

namespace {

const std::vector<std::string> NOTHING;

std::unique_ptr<tRepositoryFtp> Make(const std::string& url, const std::string& login = "dk",
                                     const std::string& password = "pw") {
  std::unique_ptr<tRepositoryFtp> t(new tRepositoryFtp(url));
  t->Init(login, password, true, 10);
  return t;
}

// A transport on "/repo" of a loopback server, temporary files in a sample installation.
class FtpTransport : public ::testing::Test {
 protected:
  FtpTransport() : server("normal", {{"dk", "pw"}}) {
    dktest::Shell("mkdir -p '" + server.root() + "/repo'");
    transport = Make(server.Url("/repo/"));
  }
  std::string Remote(const std::string& name) const { return server.root() + "/repo/" + name; }
  // What is left in the temporary directory once the transport is gone.
  std::vector<std::string> LeftoversAfterDestruction() {
    transport.reset();
    return ListTree(install.tmp());
  }

  dktest::SampleInstallation install;
  dktest::FtpServer server;
  std::unique_ptr<tRepositoryFtp> transport;
};

}  // namespace

// Streams go through temporary copies: a written stream is stored at close(),
// one deleted unclosed or whose writing failed stores nothing, and no copy
// outlives its stream or the transport.
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
  EXPECT_FALSE(Exists(Remote("b.tar")));
  EXPECT_FALSE(Exists(Remote("c.tar")));
  EXPECT_EQ(NOTHING, LeftoversAfterDestruction());
}

// Directories are made and removed idempotently, files deleted likewise;
// listings give names, and records with their path below the repository;
// existence asks tell files from directories, and what is below a missing
// directory is simply not there.
TEST_F(FtpTransport, DirectoriesListingsAndExistence) {
  for (const char* dir : {"clients", "clients", "clients/c1"}) transport->CreateDir(dir);
  WriteFile(Remote("clients/c1/d.xml"), "12345");
  WriteFile(Remote("top.tar"), "1");
  std::vector<std::string> names;
  transport->ListDir("clients/c1", names);
  EXPECT_EQ(std::vector<std::string>{"d.xml"}, names);
  std::vector<FileInfo> infos;
  transport->ListDirEx("clients/c1/", infos);
  ASSERT_EQ(1u, infos.size());
  EXPECT_EQ("d.xml", infos[0].name);
  EXPECT_EQ("clients/c1/d.xml", infos[0].path);
  EXPECT_EQ(5, infos[0].size);
  EXPECT_EQ(0, transport->GetCreationDate("top.tar"));

  const struct {
    std::string name;
    bool file, dir;
  } cases[] = {{"clients/c1/d.xml", true, false}, {"top.tar", true, false},        {"clients/c1", false, true},
               {"clients/c1/none.xml", false, false}, {"nowhere", false, false}, {"nowhere/x.tar", false, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.file, transport->IsExist(c.name)) << c.name;
    EXPECT_EQ(c.dir, transport->IsDirExist(c.name)) << c.name;
  }
  names.clear();
  EXPECT_EQ(2, CatchTransportFailure([&] { transport->ListDir("nowhere", names); }).status);
  EXPECT_EQ(NOTHING, names);

  for (int twice = 0; twice < 2; ++twice) transport->Delete("clients/c1/d.xml");
  for (int twice = 0; twice < 2; ++twice) transport->DeleteDir("clients/c1");
  EXPECT_EQ((std::vector<std::string>{"clients/", "top.tar"}), ListTree(server.root() + "/repo"));
}

// A listing of this size reaches the callbacks in many pieces; no name may be
// split into two entries at a piece boundary.
TEST_F(FtpTransport, LongListingsArriveWhole) {
  dktest::Shell("cd '" + Remote("") +
                "' && for i in $(seq 1000 2499); do echo -n $i > long_domain_name_example_$i.tar; done");
  std::vector<std::string> names, exNames;
  transport->ListDir("", names);
  std::vector<FileInfo> infos;
  transport->ListDirEx("", infos);
  for (const FileInfo& info : infos) exNames.push_back(info.name + ":" + std::to_string(info.size));
  std::vector<std::string> expected, expectedEx;
  for (int i = 1000; i < 2500; ++i) expected.push_back("long_domain_name_example_" + std::to_string(i) + ".tar");
  for (const std::string& name : expected) expectedEx.push_back(name + ":4");
  EXPECT_EQ(expected, dktest::Sorted(names));
  EXPECT_EQ(expectedEx, dktest::Sorted(exNames));
}

// Local copies are downloaded once into the receiving directory and removed
// with the transport; a directory's local copy holds the chosen entries with
// their whole sub-trees, or everything.
TEST_F(FtpTransport, LocalCopiesAreDownloadedOnceAndRemovedWithTheTransport) {
  for (const char* name : {"a.txt", "b.txt", "sub/c.txt", "sub/deeper/d.txt"}) WriteFile(Remote("dump/") + name, name);
  const std::string local = transport->GetLocalFile("dump/a.txt");
  EXPECT_EQ("a.txt", ReadFile(local));
  EXPECT_EQ(transport->GetReceivingDir() + "/dump/a.txt", local);
  EXPECT_EQ(local, transport->GetLocalFile("dump/a.txt"));
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(1,
            std::count_if(commands.begin(), commands.end(), [](const std::string& c) { return c.find("RETR") == 0; }));

  const std::vector<std::string> chosen = {"a.txt", "sub"};
  const std::string dir = transport->GetLocalDirFiles("dump", &chosen);
  EXPECT_EQ((std::vector<std::string>{"a.txt", "sub/", "sub/c.txt", "sub/deeper/", "sub/deeper/d.txt"}), ListTree(dir));
  EXPECT_EQ("sub/deeper/d.txt", ReadFile(dir + "/sub/deeper/d.txt"));
  EXPECT_EQ(dir, transport->GetLocalDirFiles("dump", nullptr));
  EXPECT_EQ("b.txt", ReadFile(dir + "/b.txt"));
  EXPECT_EQ(NOTHING, LeftoversAfterDestruction());
}

// A tree in the receiving directory is sent with its empty directories, the
// directories new on the server made on the way, and emptied locally; a path
// with a root name or one leaving the receiving directory is refused; the
// local file of a put that failed stays where it was.
TEST_F(FtpTransport, ReceivedTreesAreSentAndEmptiedLocally) {
  const std::string& receiving = transport->GetReceivingDir();
  WriteFile(receiving + "/up/x.tar", "x");
  WriteFile(receiving + "/up/new/deep/y.xml", "y");
  dktest::Shell("mkdir -p '" + receiving + "/up/empty' '" + Remote("bad/z.tar") + "'");
  transport->ReceiveDir("up");
  EXPECT_EQ((std::vector<std::string>{"empty/", "new/", "new/deep/", "new/deep/y.xml", "x.tar"}),
            ListTree(Remote("up")));
  EXPECT_EQ("y", ReadFile(Remote("up/new/deep/y.xml")));
  EXPECT_EQ(NOTHING, ListTree(receiving + "/up"));

  EXPECT_THROW(transport->ReceiveDir("//host/up"), Exc<&tRepositoryTransport::PathIsAbsoluteError>);
  dktest::TempDir outside;
  WriteFile(outside / "precious", "p");
  const dktest::TransportFailure escape =
      CatchTransportFailure([&] { transport->ReceiveDir("up/../../" + outside.path()); });
  EXPECT_EQ(0, escape.status);
  EXPECT_NE(std::string::npos, escape.text.find("up/../../" + outside.path())) << escape.text;
  EXPECT_TRUE(Exists(outside / "precious"));

  WriteFile(receiving + "/bad/z.tar", "z");  // the server holds a directory of that name
  const dktest::TransportFailure put = CatchTransportFailure([&] { transport->ReceiveDir("bad"); });
  EXPECT_EQ(7, put.status);
  EXPECT_NE(std::string::npos, put.text.find("unable to put local file ")) << put.text;
  EXPECT_TRUE(Exists(receiving + "/bad/z.tar"));
}

// Each failure carries its status and names what failed, and leaves no
// local copy: a download that fails removes what it had written; an upload
// that fails is reported at close(); a connection failure while checking a
// directory raises instead of answering "no such directory".
TEST_F(FtpTransport, FailuresNameTheOperationAndLeaveNoCopies) {
  WriteFile(Remote("clients/keep.tar"), "k");
  tRepositoryFtp uninitialised(server.Url("/repo"));
  const struct {
    std::function<void()> action;
    int status;
    std::string text;  // the beginning of the message
  } cases[] = {
      {[&] { transport->GetFile("missing.tar"); }, 7, "Transport error: unable to read file missing.tar: Curl error: "},
      {[&] { transport->GetLocalFile("two.tar"); }, 7,
       "Transport error: Unable to download remote file 'two.tar': Curl error: "},
      {[&] {
         std::unique_ptr<orepostream> out(transport->PutFile("nowhere/x.tar"));
         *out << "x";
         out->close();
       },
       2, "Transport error: unable to write file " + server.Url("/repo/nowhere/x.tar") + ": Curl error: "},
      {[&] { transport->GetLocalDirFiles("dump/none", nullptr); }, 1,
       "Transport error: File or dir 'dump/none' not found"},
      {[&] { transport->DeleteDir("clients"); }, 7, "Transport error: "},
      {[&] { transport->Delete("clients"); }, 7, "Transport error: "},
      {[&] { transport->GetFileSize("a.tar"); }, 0, "Transport error: tRepositoryFtp::GetFileSize not implemented"},
      {[&] { uninitialised.CreateDir("x"); }, 0, "Transport error: "},
      {[&] { Make("ftp://no-such-host.invalid/repo")->IsDirExist("x"); }, 5,
       "Transport error: unable to check directory existence: Curl error: "},
  };
  for (const auto& c : cases) {
    const dktest::TransportFailure failure = CatchTransportFailure(c.action);
    SCOPED_TRACE(failure.text);
    EXPECT_EQ(c.status, failure.status);
    EXPECT_EQ(0u, failure.text.find(c.text));
  }
  EXPECT_TRUE(Exists(Remote("clients/keep.tar")));
  EXPECT_EQ(NOTHING, ListTree(transport->GetReceivingDir()));
  EXPECT_EQ(NOTHING, LeftoversAfterDestruction());
}

// A name, login or password holding CR, LF or NUL would end an FTP command
// early and start another one: it is refused before anything is sent.
TEST_F(FtpTransport, LineBreaksNeverReachTheServer) {
  WriteFile(Remote("keep.tar"), "k");
  const std::string evil = "x\r\nDELE keep.tar";
  std::vector<std::string> names;
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"Invalid path: ", [&] { transport->Delete(evil); }},
      {"Invalid path: ", [&] { transport->CreateDir(evil); }},
      {"Invalid path: ", [&] { transport->GetFile(evil); }},
      {"Invalid path: ", [&] { transport->PutFile("x\nDELE keep.tar"); }},
      {"Invalid path: ", [&] { transport->GetLocalFile(evil); }},
      {"Invalid path: ", [&] { transport->ListDir(evil, names); }},
      {"Invalid path: ", [&] { transport->Delete(std::string("keep.tar\0x", 10)); }},
      {"Invalid credentials: ", [&] { Make(server.Url("/repo"), "dk\r\nDELE keep.tar")->Delete("keep.tar"); }},
      {"Invalid credentials: ", [&] { Make(server.Url("/repo"), "dk", "pw\nDELE keep.tar")->Delete("keep.tar"); }},
  };
  for (const auto& c : cases) {
    const dktest::TransportFailure failure = CatchTransportFailure(c.second);
    EXPECT_EQ(0, failure.status) << failure.text;
    EXPECT_NE(std::string::npos, failure.text.find(c.first)) << failure.text;
  }
  EXPECT_EQ(NOTHING, server.Commands());
  EXPECT_TRUE(Exists(Remote("keep.tar")));
  EXPECT_EQ(NOTHING, LeftoversAfterDestruction());
}
