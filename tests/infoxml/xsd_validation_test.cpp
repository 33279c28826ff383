#include <chrono>
#include <utility>

#include <gtest/gtest.h>

#include "infoxml/info_xml_reader.h"
#include "tests/infoxml/infoxml_test_support.h"
#include "tests/support/test_support.h"

namespace ovrin {
namespace {

using XmlReaderError = Exc<&tInfoXmlReader::XmlReaderError>;

// "valid", "invalid", or the text of the reader error that validation raised.
std::string Verdict(DescriptorRepo& repo, const std::string& doc) {
  repo.Put("info.xml", doc);
  tInfoXmlReader reader(repo.transport(), "info.xml");
  try {
    return reader.ValidateOvrinXsd() ? "valid" : "invalid";
  } catch (const XmlReaderError& e) {
    return e.what();
  }
}

// The schema takes the repository tree and refuses strays, a missing guid (also
// one only an external DTD supplies) and a wrong order; an unparsable, too deep
// or entity-bomb document raises, as does a schema removed after caching.
TEST(InfoXmlXsd, SchemaJudgesDescriptorsAndUnloadableOnesRaise) {
  dktest::SampleInstallation install;
  DescriptorRepo repo;
  repo.Put("evil.dtd", "<!ATTLIST client guid CDATA \"FROM-DTD\">");
  const std::string notLoaded = "Xml reader error: failed to load xml document";
  const std::pair<std::string, std::string> cases[] = {
      {ExampleDescriptor(), "valid"},
      {"<admin guid=\"s\"><reseller guid=\"r\"><client guid=\"c\"><domain guid=\"d\">"
       "<description>free <any x=\"1\">markup</any></description><cid path=\"p\"/>"
       "</domain></client><cid/></reseller><domain guid=\"d2\"/></admin>",
       "valid"},
      {"<client guid=\"c\"><cid path=\"a\"/><extra/></client>", "invalid"},
      {"<client guid=\"c\"><reseller guid=\"r\"/></client>", "invalid"},
      {"<client guid=\"c\"><content-file>x</content-file></client>", "invalid"},
      {"<domain><cid path=\"a\"/></domain>", "invalid"},
      {"<!DOCTYPE client SYSTEM \"evil.dtd\"><client/>", "invalid"},
      {"<description>x</description>", "invalid"},
      {"<client guid=\"c\"><cid path=\"a\"/><description/></client>", "invalid"},
      {"<client guid=\"c\">", notLoaded},
      {Nested(50000, ""), notLoaded},
      {EntityBomb("<client guid=\"&l9;\"><description>&l9;</description></client>"), notLoaded},
  };
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  for (const auto& c : cases) EXPECT_EQ(c.second, Verdict(repo, c.first)) << c.first.substr(0, 300);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  dktest::Shell("rm '" + install.productRoot() + "/TAV/ovrin.xsd'");
  EXPECT_EQ("Xml reader error: failed to parse xml schema", Verdict(repo, ExampleDescriptor()));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

// Texts of libxml2's structured errors for the debug log.
TEST(InfoXmlXsd, ErrorTexts) {
  for (const auto& c : std::vector<std::pair<int, std::string>>{
           {0, "message"}, {1, "warning"}, {2, "error"}, {3, "fatal error"}, {7, "message of level 7"},
           {-1, "message of level -1"}}) {
    EXPECT_EQ("Xml validation " + c.second + ": ", FormatErrorLevel(c.first));
  }
  xmlError error = {};
  error.level = XML_ERR_ERROR;
  error.line = 12;
  EXPECT_EQ("Xml validation error:  at line 12", FormatXsdError(&error));
  char message[] = "Element 'x': not expected.\n", first[] = "x", third[] = "y";
  error.message = message;
  error.int2 = 5;
  error.str1 = first;
  error.str3 = third;
  error.int1 = 42;
  EXPECT_EQ("Xml validation error: Element 'x': not expected.\n at line 12 column 5"
            "\nAdditional info:\nx\ny\n\nExtra number info: 42\n",
            FormatXsdError(&error));
}

}  // namespace
}  // namespace ovrin
