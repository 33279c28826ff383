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
  const std::string tag = "<Body encoding=\"base64\">";
  std::string result = signedDoc;
  char& c = result.at(signedDoc.find(tag) + tag.size() + 10);
  c = c == 'A' ? 'B' : 'A';
  return result;
}

// Sign makes a temporary signed copy (none for a signed one); only that verifies,
// and later reads and schema validation (one verify) see the unsigned content;
// temporary files go with the reader; a failing utility raises only for Sign.
TEST(InfoXmlSign, SignVerifyValidateAndTamperThroughTheSigningUtility) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  const std::string utility = install.productRoot() + "/admin/sbin/backup_sign", calls = repo.dir() + "/calls";
  // The real utility behind a wrapper that records its runs.
  dktest::Shell("mv '" + utility + "' '" + utility + ".real'");
  dktest::WriteFile(utility, "#!/bin/sh\necho \"$1\" >> '" + calls + "'\nexec \"$0.real\" \"$@\"\n");
  dktest::Shell("chmod 755 '" + utility + "'");
  repo.Put("info.xml", ExampleDescriptor());
  repo.Put("bad.xml", "<client guid=\"c\"><unknown/></client>");
  repo.Put("envelope.xml", "<Envelope><Body>x</Body></Envelope>");
  std::string signedCopy;
  {
    tInfoXmlReader reader(repo.transport(), "info.xml"), bad(repo.transport(), "bad.xml");
    tInfoXmlReader envelope(repo.transport(), "envelope.xml");
    EXPECT_EQ(repo.dir() + "/envelope.xml", envelope.Sign());  // already signed: nothing is run
    signedCopy = reader.Sign();
    EXPECT_EQ(0u, signedCopy.find(install.tmp() + "/"));
    EXPECT_EQ(repo.dir() + "/info.xml", reader.GetLocalPath());
    EXPECT_TRUE(IsSigned(signedCopy));
    repo.Put("signed.xml", ReadFile(signedCopy));
    repo.Put("signed_bad.xml", ReadFile(bad.Sign()));
  }
  EXPECT_FALSE(dktest::Exists(signedCopy));
  EXPECT_EQ(ExampleDescriptor(), ReadFile(repo.dir() + "/info.xml"));
  {
    tInfoXmlReader good(repo.transport(), "signed.xml");
    EXPECT_TRUE(good.ValidateSign());
    EXPECT_NE(repo.dir() + "/signed.xml", good.GetLocalPath());
    EXPECT_EQ(ExampleDescriptor(), ReadFile(good.GetLocalPath()));
    good.ReadObject();
    EXPECT_EQ("client", good.ObjectType());
    tInfoXmlReader validated(repo.transport(), "signed.xml"), bad(repo.transport(), "signed_bad.xml");
    EXPECT_TRUE(validated.ValidateOvrinXsd());
    EXPECT_FALSE(bad.ValidateOvrinXsd());
  }
  EXPECT_EQ("sign\nsign\nverify\nverify\nverify\n", ReadFile(calls));
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
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp()));
  // A failing utility raises for Sign; for verification it is a verdict, and
  // the reader goes on with whatever the utility wrote.
  dktest::WriteFile(utility, "#!/bin/sh\necho partial\nexit 3\n");
  tInfoXmlReader failing(repo.transport(), "info.xml");
  EXPECT_THROW(failing.Sign(), Exc<&ExecCmd::Failed>);
  EXPECT_FALSE(failing.ValidateSign());
  EXPECT_EQ("partial\n", ReadFile(failing.GetLocalPath()));
}

}  // namespace
}  // namespace ovrin
