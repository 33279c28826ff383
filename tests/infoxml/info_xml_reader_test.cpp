#include "infoxml/info_xml_reader.h"

#include <sys/stat.h>

#include <chrono>
#include <memory>

#include <gtest/gtest.h>

#include "infoxml/xml_input.h"
#include "tests/infoxml/infoxml_test_support.h"
#include "tests/support/test_support.h"

namespace ovrin {
namespace {

using dktest::WriteFile;

TEST(InfoXmlReader, ReadObjectTakesTheFirstObjectElement) {
  DescriptorRepo repo;
  repo.Put("a.xml",
           "<?xml version=\"1.0\"?><dump><admin guid=\"S-1\" name=\"x\"><domain guid=\"D-1\"/></admin></dump>");
  repo.Put("b.xml", "<domain><client guid=\"C-1\"/></domain>");
  repo.Put("c.xml", "<dump><other guid=\"X\"/><Client guid=\"no\"/></dump>");

  tInfoXmlReader a(repo.transport(), "a.xml");
  a.ReadObject();
  EXPECT_EQ("server", a.ObjectType());
  EXPECT_EQ("S-1", a.ObjectGuid());

  // The first object element counts even when it carries no guid.
  tInfoXmlReader b(repo.transport(), "b.xml");
  b.ReadObject();
  EXPECT_EQ("domain", b.ObjectType());
  EXPECT_EQ("", b.ObjectGuid());

  tInfoXmlReader c(repo.transport(), "c.xml");
  c.ReadObject();
  EXPECT_EQ("", c.ObjectType());
  EXPECT_EQ("", c.ObjectGuid());
}

TEST(InfoXmlReader, ReadDescriptionKeepsInnerMarkup) {
  DescriptorRepo repo;
  repo.Put("d.xml",
           "<client guid=\"g\"><description>Weekly <b class=\"x\">dump</b> &amp; more</description>"
           "<description>second</description></client>");
  repo.Put("none.xml", "<client guid=\"g\"><cid path=\"a\"/></client>");
  repo.Put("empty.xml", "<client guid=\"g\"><description/></client>");

  tInfoXmlReader d(repo.transport(), "d.xml");
  d.ReadDescription();
  EXPECT_EQ("Weekly <b class=\"x\">dump</b> &amp; more", d.Description());

  tInfoXmlReader none(repo.transport(), "none.xml");
  none.ReadDescription();
  EXPECT_EQ("", none.Description());

  // A description that yields nothing leaves the earlier value alone.
  tInfoXmlReader empty(repo.transport(), "empty.xml");
  empty.ReadDescription();
  EXPECT_EQ("", empty.Description());
}

TEST(InfoXmlReader, ContentLocationsFollowValidCids) {
  DescriptorRepo repo;
  repo.Put("info.xml",
           "<client guid=\"g\">"
           "<content-file>before-any-cid</content-file>"
           "<cid path=\"a\"/><content-file>x</content-file>"
           "<cid/><content-file>y</content-file>"
           "<cid path=\"\"><content-file>y2</content-file></cid>"
           "<cid path=\"b\"><content-file>z</content-file>\n  <content-file/>\n"
           "  <content-file><![CDATA[w.tgz]]></content-file></cid>"
           "<domain guid=\"d\"><cid path=\"domains/e\"><content-file>sub/f.tgz</content-file></cid></domain>"
           "</client>");
  tInfoXmlReader reader(repo.transport(), "info.xml");
  reader.ReadContent();
  reader.ReadContent();  // a second read replaces, never appends
  std::vector<std::pair<std::string, std::vector<std::string>>> got;
  for (const Cid& cid : reader.Content()) got.emplace_back(cid.path, cid.contentFiles);
  std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"a", {"x"}}, {"b", {"z", "w.tgz"}}, {"domains/e", {"sub/f.tgz"}}};
  EXPECT_EQ(expected, got);
}

TEST(InfoXmlReader, FilesThatCannotBeOpenedRaise) {
  DescriptorRepo repo;
  std::string fifo = repo.dir() + "/fifo.xml";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));  // would block a plain open for reading
  // A FIFO is no file of the storage: it is missing, at once.
  tInfoXmlReader reader(repo.transport(), "fifo.xml");
  for (int op = 0; op < 3; ++op) {
    try {
      if (op == 0) reader.ReadObject();
      if (op == 1) reader.ReadContent();
      if (op == 2) reader.ReadDescription();
      ADD_FAILURE() << "no error for operation " << op;
    } catch (const TransportException& e) {
      EXPECT_EQ("Transport error: File 'fifo.xml' not found", std::string(e.what()));
      EXPECT_EQ(1, e.status);
    }
  }
  EXPECT_THROW(IsSigned(repo.dir() + "/missing.xml"), Exc<&tInfoXmlReader::XmlReaderError>);
}

TEST(InfoXmlReader, NotWellFormedDocumentsKeepWhatWasReadAndStaySilent) {
  DescriptorRepo repo;
  // The streaming reader hands out nodes chunk by chunk, so the fault sits
  // well past the first chunks for the good part to be delivered before it.
  repo.Put("broken.xml",
           "<client guid=\"g\"><cid path=\"a\"><content-file>x</content-file></cid>" +
               std::string(16384, ' ') + "<cid path=\"b\" bad=><content-file>y</content-file></cid></client>");
  repo.Put("garbage.xml", "this is not xml <client guid=\"g\"/>");
  repo.Put("empty.xml", "");

  StderrCapture capture;
  tInfoXmlReader broken(repo.transport(), "broken.xml");
  broken.ReadContent();
  broken.ReadObject();
  ASSERT_EQ(1u, broken.Content().size());
  EXPECT_EQ("a", broken.Content()[0].path);
  EXPECT_EQ(std::vector<std::string>{"x"}, broken.Content()[0].contentFiles);
  EXPECT_EQ("client", broken.ObjectType());

  tInfoXmlReader garbage(repo.transport(), "garbage.xml");
  garbage.ReadObject();
  EXPECT_EQ("", garbage.ObjectType());
  EXPECT_FALSE(IsSigned(repo.dir() + "/garbage.xml"));
  EXPECT_FALSE(IsSigned(repo.dir() + "/empty.xml"));
  EXPECT_EQ("", capture.Take());
}

TEST(InfoXmlReader, IsSignedLooksAtTheFirstElementOnly) {
  DescriptorRepo repo;
  repo.Put("s.xml", "<?xml version=\"1.0\"?>\n<!-- c --><?pi x?><Envelope><Body/></Envelope>");
  repo.Put("u.xml", "<client guid=\"g\"><Envelope/></client>");
  EXPECT_TRUE(IsSigned(repo.dir() + "/s.xml"));
  EXPECT_FALSE(IsSigned(repo.dir() + "/u.xml"));

  tXmlDocHolder signedDoc = ParseXmlFile(repo.dir() + "/s.xml");
  tXmlDocHolder unsignedDoc = ParseXmlFile(repo.dir() + "/u.xml");
  ASSERT_TRUE(signedDoc && unsignedDoc);
  EXPECT_TRUE(InfoXmlSigned(signedDoc.get()));
  EXPECT_FALSE(InfoXmlSigned(unsignedDoc.get()));
  EXPECT_FALSE(InfoXmlSigned(nullptr));
}

TEST(InfoXmlReader, NameHelpers) {
  for (const char* name : {"server", "admin", "reseller", "client", "domain"}) EXPECT_TRUE(IsValidTypeName(name));
  for (const char* name : {"Server", "admins", "", "cid"}) EXPECT_FALSE(IsValidTypeName(name));
  EXPECT_EQ("server", GetTypeName("admin"));
  EXPECT_EQ("client", GetTypeName("client"));
}

// --- Hostile descriptors -----------------------------------------------------

TEST(InfoXmlReaderHostile, ExternalEntitiesAndDtdsAreNeverLoaded) {
  DescriptorRepo repo;
  repo.Put("secret.txt", "TOP-SECRET");
  repo.Put("evil.dtd", "<!ATTLIST client guid CDATA \"FROM-DTD\">\n<!ENTITY sec SYSTEM \"secret.txt\">");
  repo.Put("xxe.xml",
           "<!DOCTYPE client [<!ENTITY x SYSTEM \"file://" + repo.dir() + "/secret.txt\">]>"
           "<client guid=\"g\"><description>before &x; after</description>"
           "<cid path=\"a\"><content-file>&x;</content-file><content-file>f</content-file></cid></client>");
  repo.Put("dtd.xml", "<!DOCTYPE client SYSTEM \"evil.dtd\"><client><description>&sec;</description></client>");

  StderrCapture capture;
  tInfoXmlReader xxe(repo.transport(), "xxe.xml");
  xxe.ReadDescription();
  xxe.ReadContent();
  EXPECT_EQ(std::string::npos, xxe.Description().find("TOP-SECRET")) << xxe.Description();
  for (const Cid& cid : xxe.Content()) {
    for (const std::string& file : cid.contentFiles) EXPECT_EQ(std::string::npos, file.find("TOP-SECRET"));
  }

  // Had the external DTD been read, its default attribute would supply a guid.
  tInfoXmlReader dtd(repo.transport(), "dtd.xml");
  dtd.ReadObject();
  dtd.ReadDescription();
  EXPECT_EQ("client", dtd.ObjectType());
  EXPECT_EQ("", dtd.ObjectGuid());
  EXPECT_EQ(std::string::npos, dtd.Description().find("TOP-SECRET"));
  EXPECT_EQ("", capture.Take());
}

TEST(InfoXmlReaderHostile, DeepNestingEndsAtTheDepthLimit) {
  DescriptorRepo repo;
  std::string doc = "<client guid=\"g\"><cid path=\"top\"><content-file>t</content-file></cid>";
  const int depth = 100000;
  for (int i = 0; i < depth; ++i) doc += "<domain guid=\"d\">";
  doc += "<cid path=\"deep\"/>";
  for (int i = 0; i < depth; ++i) doc += "</domain>";
  doc += "</client>";
  repo.Put("deep.xml", doc);

  tInfoXmlReader reader(repo.transport(), "deep.xml");
  reader.ReadObject();
  reader.ReadContent();
  EXPECT_EQ("client", reader.ObjectType());
  ASSERT_EQ(1u, reader.Content().size());
  EXPECT_EQ("top", reader.Content()[0].path);
}

TEST(InfoXmlReaderHostile, EntityExpansionDoesNotExplode) {
  DescriptorRepo repo;
  std::string doc = "<?xml version=\"1.0\"?><!DOCTYPE client [<!ENTITY l0 \"lollollollollollollollollol\">";
  for (int i = 1; i <= 9; ++i) {
    doc += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) doc += "&l" + std::to_string(i - 1) + ";";
    doc += "\">";
  }
  doc += "]><client guid=\"g\"><description>&l9;</description><cid path=\"a\"><content-file>&l9;</content-file>"
         "</cid></client>";
  repo.Put("laughs.xml", doc);

  auto start = std::chrono::steady_clock::now();
  tInfoXmlReader reader(repo.transport(), "laughs.xml");
  reader.ReadObject();
  reader.ReadDescription();
  reader.ReadContent();
  // Whether the parser gives up at the declarations or reads on without
  // expanding, nothing may grow with the expansion.
  EXPECT_LT(reader.Description().size(), 100000u);
  for (const Cid& cid : reader.Content()) {
    for (const std::string& file : cid.contentFiles) EXPECT_LT(file.size(), 100000u);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace ovrin
