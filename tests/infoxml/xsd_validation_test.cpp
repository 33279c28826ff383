#include <chrono>
#include <utility>

#include "infoxml/info_xml_reader.h"
#include "tests/infoxml/infoxml_test_support.h"

using namespace ovrin;

// "valid", "invalid", or the text of the reader error that validating `doc` raised.
static std::string Verdict(DescriptorRepo& repo, const std::string& doc) {
  repo.Put("info.xml", doc);
  tInfoXmlReader reader(repo.transport.get(), "info.xml");
  try {
    return reader.ValidateOvrinXsd() ? "valid" : "invalid";
  } catch (const Exc<&tInfoXmlReader::XmlReaderError>& e) {
    return e.what();
  }
}

// The schema judges descriptors; an unparsable, too deep or entity-bomb document or a lost schema raises.
TEST(InfoXmlXsd, SchemaJudgesDescriptorsAndUnloadableOnesRaise) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  repo.Put("evil.dtd", "<!ATTLIST client guid CDATA \"FROM-DTD\">");
  const std::string notLoaded = "Xml reader error: failed to load xml document";
  const std::pair<std::string, std::string> cases[] = {
      {ExampleDescriptor(), "valid"},
      {"<admin guid=\"s\"><reseller guid=\"r\"><client guid=\"c\"><domain guid=\"d\"><description>free <any x=\"1\">"
       "markup</any></description><cid path=\"p\"/></domain></client><cid/></reseller><domain guid=\"d2\"/></admin>",
       "valid"},
      {"<client guid=\"c\"><cid path=\"a\"/><extra/></client>", "invalid"},
      {"<domain><cid path=\"a\"/></domain>", "invalid"},
      {"<!DOCTYPE client SYSTEM \"evil.dtd\"><client/>", "invalid"},
      {"<client guid=\"c\"><cid path=\"a\"/><description/></client>", "invalid"},
      {"<client guid=\"c\">", notLoaded},
      {Nested(50000, ""), notLoaded},
      {EntityBomb("<client guid=\"&l9;\"><description>&l9;</description></client>"), notLoaded}};
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  for (const auto& c : cases) EXPECT_EQ(c.second, Verdict(repo, c.first)) << c.first.substr(0, 300);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  dktest::Shell("rm '" + install.productRoot() + "/TAV/ovrin.xsd'");
  EXPECT_EQ("Xml reader error: failed to parse xml schema", Verdict(repo, ExampleDescriptor()));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

// Texts of libxml2's structured errors for the debug log, optional parts only when present.
TEST(InfoXmlXsd, ErrorTexts) {
  const std::pair<int, std::string> levels[] = {{0, "message"}, {1, "warning"}, {2, "error"}, {3, "fatal error"},
                                                {7, "message of level 7"}, {-1, "message of level -1"}};
  for (const auto& c : levels) EXPECT_EQ("Xml validation " + c.second + ": ", FormatErrorLevel(c.first));
  char message[] = "Element 'x': not expected.\n", first[] = "x", third[] = "y";
  xmlError bare = {0, 0, nullptr, XML_ERR_ERROR, nullptr, 12, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr};
  xmlError full = {0, 0, message, XML_ERR_ERROR, nullptr, 12, first, nullptr, third, 42, 5, nullptr, nullptr};
  EXPECT_EQ("Xml validation error:  at line 12", FormatXsdError(&bare));
  EXPECT_EQ("Xml validation error: Element 'x': not expected.\n at line 12 column 5\nAdditional info:\nx\ny\n\n"
            "Extra number info: 42\n", FormatXsdError(&full));
}
