#include "infoxml/info_xml_reader.h"

#include <sys/stat.h>

#include <chrono>

#include "infoxml/xml_input.h"
#include "tests/infoxml/infoxml_test_support.h"
#include "tests/support/transport_support.h"

using namespace ovrin;

// "type|guid|description|path:file,..." as read from `doc`; content is read twice, the second replacing.
static std::string Found(DescriptorRepo& repo, const std::string& doc) {
  repo.Put("info.xml", doc);
  tInfoXmlReader reader(repo.transport.get(), "info.xml");
  reader.ReadObject();
  reader.ReadDescription();
  reader.ReadContent();
  reader.ReadContent();
  std::string found = reader.ObjectType() + "|" + reader.ObjectGuid() + "|" + reader.Description();
  for (const Cid& cid : reader.Content()) {
    found += "|" + cid.path + ":";
    for (const std::string& file : cid.contentFiles) found += file + ",";
  }
  return found;
}

// Exactly what a document holds is read, no entity or DTD loaded; a fault keeps what came before it.
TEST(InfoXmlReader, DocumentsGiveExactlyWhatTheyHold) {
  DescriptorRepo repo;
  repo.Put("secret.txt", "TOP-SECRET");
  repo.Put("evil.dtd", "<!ATTLIST client guid CDATA \"FROM-DTD\">\n<!ENTITY sec SYSTEM \"secret.txt\">");
  const std::pair<std::string, std::string> cases[] = {
      {"<dump><admin guid=\"S-1\" name=\"x\"><domain guid=\"D-1\"/></admin></dump>", "server|S-1|"},
      {"<domain><client guid=\"C-1\"/></domain>", "domain||"},
      {"<dump><cid/><admins/><reseller><client guid=\"C-1\"/></reseller></dump>", "reseller||"},
      {"<dump><other guid=\"X\"/><Client guid=\"no\"/><description>d</description></dump>", "||d"},
      {"<client guid=\"g\"><description>Weekly <b class=\"x\">dump</b> &amp; more</description><description>2"
       "</description></client>", "client|g|Weekly <b class=\"x\">dump</b> &amp; more"},
      {"<server guid=\"g\"><description/><description>late</description></server>", "server|g|"},
      {"<client guid=\"g\"><content-file>before-any-cid</content-file><cid path=\"a\"/><content-file>x</content-file>"
       "<cid/><content-file>y</content-file><cid path=\"\"><content-file>y2</content-file></cid>"
       "<cid path=\"b\"><content-file>z</content-file>\n  <content-file/>\n<content-file><![CDATA[w.tgz]]>"
       "</content-file></cid><domain guid=\"d\"><cid path=\"domains/e\"><content-file>sub/f.tgz</content-file>"
       "</cid></domain></client>", "client|g||a:x,|b:z,w.tgz,|domains/e:sub/f.tgz,"},
      {"<client guid=\"g\"><cid path=\"a\"><content-file>x</content-file></cid>" + std::string(16384, ' ') +
       "<cid path=\"b\" bad=><content-file>y</content-file></cid></client>", "client|g||a:x,"},
      {"this is not xml <client guid=\"g\"/>", "||"}, {"", "||"},
      {"<!DOCTYPE client [<!ENTITY x SYSTEM \"file://" + repo.dir() + "/secret.txt\">]><client guid=\"g\">"
       "<description>before &x; after</description><cid path=\"a\"><content-file>&x;</content-file>"
       "<content-file>f</content-file></cid></client>", "client|g|before &x; after|a:f,"},
      {"<!DOCTYPE client SYSTEM \"evil.dtd\"><client><description>&sec;</description></client>", "client||&sec;"},
      {"<client guid=\"g\"><cid path=\"top\"><content-file>t</content-file></cid>" +
       Nested(100000, "<cid path=\"deep\"/>") + "</client>", "client|g||top:t,"},
      {EntityBomb("<client guid=\"g\"><description>&l9;</description><cid path=\"a\"><content-file>&l9;"
                  "</content-file></cid></client>"), "||"}};
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  for (const auto& c : cases) EXPECT_EQ(c.second, Found(repo, c.first)) << c.first.substr(0, 300);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

// A FIFO is no file of the storage: every read reports it missing at once instead of blocking. A document
// is signed when its first element is an Envelope; one not parsed is unsigned, a missing one raises.
TEST(InfoXmlReader, FifosAreMissingAndSignedDocumentsStartWithAnEnvelope) {
  DescriptorRepo repo;
  ASSERT_EQ(0, mkfifo((repo.dir() + "/fifo.xml").c_str(), 0600));
  tInfoXmlReader reader(repo.transport.get(), "fifo.xml");
  for (auto read : {&tInfoXmlReader::ReadObject, &tInfoXmlReader::ReadContent, &tInfoXmlReader::ReadDescription}) {
    const dktest::TransportFailure f = dktest::CatchTransportFailure([&] { (reader.*read)(); });
    EXPECT_EQ("1 Transport error: File 'fifo.xml' not found", std::to_string(f.status) + " " + f.text);
  }
  EXPECT_THROW(IsSigned(repo.dir() + "/missing.xml"), Exc<&tInfoXmlReader::XmlReaderError>);
  const std::pair<std::string, bool> cases[] = {
      {"<?xml version=\"1.0\"?>\n<!-- c --><?pi x?><Envelope><Body/></Envelope>", true},
      {"<client guid=\"g\"><Envelope/></client>", false}, {"this is not xml <Envelope/>", false}, {"", false}};
  for (const auto& c : cases) {
    repo.Put("info.xml", c.first);
    EXPECT_EQ(c.second, IsSigned(repo.dir() + "/info.xml")) << c.first;
    EXPECT_EQ(c.second, InfoXmlSigned(ParseXmlFile(repo.dir() + "/info.xml").get())) << c.first;
  }
}
