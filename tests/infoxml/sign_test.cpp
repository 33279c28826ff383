#include "exec/exec_cmd.h"
#include "infoxml/info_xml_reader.h"
#include "tests/infoxml/infoxml_test_support.h"

using namespace ovrin;
using dktest::ReadFile;

// Signed copies verify and read as their content, tampered or unsigned ones fail; temporaries go with readers.
TEST(InfoXmlSign, SignVerifyValidateAndTamperThroughTheSigningUtility) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  tRepositoryTransport* t = repo.transport.get();
  const std::string sbin = install.productRoot() + "/admin/sbin", utility = sbin + "/backup_sign";
  // The real utility behind a wrapper that records its runs.
  dktest::WriteFile(utility + ".wrap", "#!/bin/sh\necho \"$1\" >> '" + sbin + ".calls'\nexec \"$0.real\" \"$@\"\n");
  dktest::Shell("cd '" + sbin + "' && mv backup_sign backup_sign.real && mv backup_sign.wrap backup_sign && chmod 755 "
                "backup_sign");
  repo.Put("info.xml", ExampleDescriptor());
  repo.Put("envelope.xml", "<Envelope><Body>x</Body></Envelope>");
  {
    tInfoXmlReader reader(t, "info.xml"), envelope(t, "envelope.xml");
    EXPECT_EQ(repo.dir() + "/envelope.xml", envelope.Sign());  // already signed: nothing is run
    const std::string signedCopy = reader.Sign();
    EXPECT_EQ(0u, signedCopy.find(install.tmp() + "/"));
    EXPECT_EQ(repo.dir() + "/info.xml", reader.GetLocalPath());
    EXPECT_TRUE(IsSigned(signedCopy));
    repo.Put("signed.xml", ReadFile(signedCopy));
  }
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp()));
  {
    tInfoXmlReader good(t, "signed.xml"), validated(t, "signed.xml");
    EXPECT_TRUE(good.ValidateSign());
    EXPECT_EQ(ExampleDescriptor(), ReadFile(good.GetLocalPath()));
    good.ReadObject();
    EXPECT_EQ("client", good.ObjectType());
    EXPECT_TRUE(validated.ValidateOvrinXsd());
  }
  EXPECT_EQ("sign\nverify\nverify\n", ReadFile(sbin + ".calls"));
  std::string tamperedDoc = ReadFile(repo.dir() + "/signed.xml");
  char& c = tamperedDoc.at(tamperedDoc.find("<Body encoding=\"base64\">") + 34);
  c = c == 'A' ? 'B' : 'A';
  repo.Put("tampered.xml", tamperedDoc);
  tInfoXmlReader tampered(t, "tampered.xml"), plain(t, "info.xml");
  EXPECT_FALSE(tampered.ValidateSign());
  EXPECT_FALSE(plain.ValidateSign());
  EXPECT_EQ(ExampleDescriptor(), ReadFile(plain.GetLocalPath()));
  plain.ClearTempFiles();
  tampered.ClearTempFiles();
  EXPECT_EQ(repo.dir() + "/info.xml", plain.GetLocalPath());
  EXPECT_EQ(ExampleDescriptor(), ReadFile(plain.GetLocalPath()));
  EXPECT_EQ(std::vector<std::string>{}, dktest::ListTree(install.tmp()));
  // A failing utility is a verdict for verification, which goes on with what the utility wrote.
  dktest::WriteFile(utility, "#!/bin/sh\necho partial\nexit 3\n");
  tInfoXmlReader failing(t, "info.xml");
  EXPECT_THROW(failing.Sign(), Exc<&ExecCmd::Failed>);
  EXPECT_FALSE(failing.ValidateSign());
  EXPECT_EQ("partial\n", ReadFile(failing.GetLocalPath()));
}
