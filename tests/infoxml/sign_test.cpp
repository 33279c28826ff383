#include <gtest/gtest.h>

#include "exec/exec_cmd.h"
#include "infoxml/info_xml_reader.h"
#include "tests/infoxml/infoxml_test_support.h"
#include "tests/support/test_support.h"

namespace ovrin {
namespace {

using dktest::ReadFile;

// Flips one character of the base64 body of a signed document.
std::string TamperBody(const std::string& signedDoc) {
  std::string tag = "<Body encoding=\"base64\">";
  size_t at = signedDoc.find(tag);
  EXPECT_NE(std::string::npos, at);
  std::string result = signedDoc;
  char& c = result[at + tag.size() + 10];
  c = c == 'A' ? 'B' : 'A';
  return result;
}

TEST(InfoXmlSign, SignVerifyAndTamperThroughTheSigningUtility) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  repo.Put("info.xml", ExampleDescriptor());

  std::string signedCopy;
  {
    tInfoXmlReader reader(repo.transport(), "info.xml");
    signedCopy = reader.Sign();
    EXPECT_EQ(0u, signedCopy.find(install.tmp() + "/"));
    EXPECT_EQ(repo.dir() + "/info.xml", reader.GetLocalPath());  // signing keeps working on the original
    EXPECT_TRUE(IsSigned(signedCopy));
    repo.Put("signed.xml", ReadFile(signedCopy));
  }
  EXPECT_FALSE(dktest::Exists(signedCopy));
  EXPECT_EQ(ExampleDescriptor(), ReadFile(repo.dir() + "/info.xml"));

  {
    tInfoXmlReader good(repo.transport(), "signed.xml");
    EXPECT_TRUE(good.ValidateSign());
    EXPECT_NE(repo.dir() + "/signed.xml", good.GetLocalPath());
    EXPECT_EQ(ExampleDescriptor(), ReadFile(good.GetLocalPath()));
    good.ReadObject();  // later reads see the unsigned document
    EXPECT_EQ("client", good.ObjectType());
  }

  repo.Put("tampered.xml", TamperBody(ReadFile(repo.dir() + "/signed.xml")));
  tInfoXmlReader tampered(repo.transport(), "tampered.xml");
  EXPECT_FALSE(tampered.ValidateSign());

  // An unsigned descriptor does not verify; the copy is the document itself.
  tInfoXmlReader plain(repo.transport(), "info.xml");
  EXPECT_FALSE(plain.ValidateSign());
  EXPECT_EQ(ExampleDescriptor(), ReadFile(plain.GetLocalPath()));

  plain.ClearTempFiles();
  tampered.ClearTempFiles();
  EXPECT_EQ(repo.dir() + "/info.xml", plain.GetLocalPath());
  EXPECT_TRUE(dktest::ListTree(install.tmp()).empty());
}

TEST(InfoXmlSign, AlreadySignedDescriptorIsReturnedWithoutRunningAnything) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  repo.Put("info.xml", "<Envelope><Body>x</Body></Envelope>");
  // With the utility gone, any attempt to run it would fail.
  dktest::Shell("rm '" + install.productRoot() + "/admin/sbin/backup_sign'");
  tInfoXmlReader reader(repo.transport(), "info.xml");
  EXPECT_EQ(repo.dir() + "/info.xml", reader.Sign());
  EXPECT_TRUE(dktest::ListTree(install.tmp()).empty());
}

TEST(InfoXmlSign, FailingUtilityRaisesForSignButNotForVerify) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  repo.Put("info.xml", ExampleDescriptor());
  dktest::WriteFile(install.productRoot() + "/admin/sbin/backup_sign", "#!/bin/sh\necho partial\nexit 3\n");
  dktest::Shell("chmod 755 '" + install.productRoot() + "/admin/sbin/backup_sign'");

  tInfoXmlReader reader(repo.transport(), "info.xml");
  EXPECT_THROW(reader.Sign(), Exc<&ExecCmd::Failed>);
  EXPECT_FALSE(reader.ValidateSign());
  EXPECT_EQ("partial\n", ReadFile(reader.GetLocalPath()));
}

}  // namespace
}  // namespace ovrin
