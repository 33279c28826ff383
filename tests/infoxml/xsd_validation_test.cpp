#include <chrono>

#include <gtest/gtest.h>

#include "infoxml/info_xml_reader.h"
#include "tests/infoxml/infoxml_test_support.h"
#include "tests/support/test_support.h"

namespace ovrin {
namespace {

using dktest::ReadFile;

bool Validate(DescriptorRepo& repo, const std::string& name, const std::string& doc) {
  repo.Put(name, doc);
  tInfoXmlReader reader(repo.transport(), name);
  return reader.ValidateOvrinXsd();
}

TEST(InfoXmlXsd, SchemaAcceptsTheRepositoryTreeAndRejectsStrayElements) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  EXPECT_TRUE(Validate(repo, "example.xml", ExampleDescriptor()));
  EXPECT_TRUE(Validate(repo, "tree.xml",
                       "<admin guid=\"s\"><reseller guid=\"r\"><client guid=\"c\"><domain guid=\"d\">"
                       "<description>free <any x=\"1\">markup</any></description><cid path=\"p\"/>"
                       "</domain></client><cid/></reseller><domain guid=\"d2\"/></admin>"));

  EXPECT_FALSE(Validate(repo, "unknown.xml", "<client guid=\"c\"><cid path=\"a\"/><extra/></client>"));
  EXPECT_FALSE(Validate(repo, "nesting.xml", "<client guid=\"c\"><reseller guid=\"r\"/></client>"));
  EXPECT_FALSE(Validate(repo, "stray.xml", "<client guid=\"c\"><content-file>x</content-file></client>"));
  EXPECT_FALSE(Validate(repo, "noguid.xml", "<domain><cid path=\"a\"/></domain>"));
  EXPECT_FALSE(Validate(repo, "root.xml", "<description>x</description>"));
  EXPECT_FALSE(Validate(repo, "order.xml", "<client guid=\"c\"><cid path=\"a\"/><description/></client>"));
}

TEST(InfoXmlXsd, SignedDescriptorIsValidatedAfterOneVerify) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  std::string utility = install.productRoot() + "/admin/sbin/backup_sign";
  std::string counter = repo.dir() + "/calls";
  // Count the runs of the real utility through a wrapper.
  dktest::Shell("mv '" + utility + "' '" + utility + ".real'");
  dktest::WriteFile(utility, "#!/bin/sh\necho \"$1\" >> '" + counter + "'\nexec \"$0.real\" \"$@\"\n");
  dktest::Shell("chmod 755 '" + utility + "'");

  repo.Put("info.xml", ExampleDescriptor());
  repo.Put("bad.xml", "<client guid=\"c\"><unknown/></client>");
  {
    tInfoXmlReader signer(repo.transport(), "info.xml");
    repo.Put("signed.xml", ReadFile(signer.Sign()));
    tInfoXmlReader badSigner(repo.transport(), "bad.xml");
    repo.Put("signed_bad.xml", ReadFile(badSigner.Sign()));
  }
  dktest::Shell("rm '" + counter + "'");

  tInfoXmlReader reader(repo.transport(), "signed.xml");
  EXPECT_TRUE(reader.ValidateOvrinXsd());
  EXPECT_EQ("verify\n", ReadFile(counter));
  EXPECT_EQ(ExampleDescriptor(), ReadFile(reader.GetLocalPath()));

  tInfoXmlReader bad(repo.transport(), "signed_bad.xml");
  EXPECT_FALSE(bad.ValidateOvrinXsd());
}

TEST(InfoXmlXsd, UnloadableSchemaOrDocumentRaises) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  repo.Put("broken.xml", "<client guid=\"c\">");
  repo.Put("good.xml", ExampleDescriptor());
  StderrCapture capture;
  try {
    tInfoXmlReader reader(repo.transport(), "broken.xml");
    reader.ValidateOvrinXsd();
    ADD_FAILURE() << "no error for a broken document";
  } catch (const Exc<&tInfoXmlReader::XmlReaderError>& e) {
    EXPECT_EQ("Xml reader error: failed to load xml document", std::string(e.what()));
  }
  dktest::Shell("rm '" + install.productRoot() + "/TAV/ovrin.xsd'");
  try {
    tInfoXmlReader reader(repo.transport(), "good.xml");
    reader.ValidateOvrinXsd();
    ADD_FAILURE() << "no error for a missing schema";
  } catch (const Exc<&tInfoXmlReader::XmlReaderError>& e) {
    EXPECT_EQ("Xml reader error: failed to parse xml schema", std::string(e.what()));
  }
  EXPECT_EQ("", capture.Take());
}

TEST(InfoXmlXsd, HostileDocumentsAreRefusedWithoutLoadingAnything) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  // A guid supplied only by an external DTD must not make the document valid.
  repo.Put("evil.dtd", "<!ATTLIST client guid CDATA \"FROM-DTD\">");
  EXPECT_FALSE(Validate(repo, "dtd.xml", "<!DOCTYPE client SYSTEM \"evil.dtd\"><client/>"));

  std::string deep;
  for (int i = 0; i < 50000; ++i) deep += "<domain guid=\"d\">";
  for (int i = 0; i < 50000; ++i) deep += "</domain>";
  EXPECT_THROW(Validate(repo, "deep.xml", deep), Exc<&tInfoXmlReader::XmlReaderError>);

  std::string laughs = "<!DOCTYPE client [<!ENTITY l0 \"lollollollollol\">";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><client guid=\"&l9;\"><description>&l9;</description></client>";
  auto start = std::chrono::steady_clock::now();
  try {
    Validate(repo, "laughs.xml", laughs);
  } catch (const Exc<&tInfoXmlReader::XmlReaderError>& e) {
    EXPECT_EQ("Xml reader error: failed to load xml document", std::string(e.what()));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(InfoXmlXsd, ErrorTexts) {
  EXPECT_EQ("Xml validation message: ", FormatErrorLevel(0));
  EXPECT_EQ("Xml validation warning: ", FormatErrorLevel(1));
  EXPECT_EQ("Xml validation error: ", FormatErrorLevel(2));
  EXPECT_EQ("Xml validation fatal error: ", FormatErrorLevel(3));
  EXPECT_EQ("Xml validation message of level 7: ", FormatErrorLevel(7));
  EXPECT_EQ("Xml validation message of level -1: ", FormatErrorLevel(-1));

  xmlError error = {};
  error.level = XML_ERR_ERROR;
  error.line = 12;
  EXPECT_EQ("Xml validation error:  at line 12", FormatXsdError(&error));

  char message[] = "Element 'x': not expected.\n";
  char first[] = "x";
  char third[] = "y";
  error.message = message;
  error.int2 = 5;
  error.str1 = first;
  error.str3 = third;
  error.int1 = 42;
  EXPECT_EQ(
      "Xml validation error: Element 'x': not expected.\n at line 12 column 5"
      "\nAdditional info:\nx\ny\n\nExtra number info: 42\n",
      FormatXsdError(&error));
}

}  // namespace
}  // namespace ovrin
