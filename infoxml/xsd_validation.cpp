// Validation of a descriptor against the descriptor schema, and the texts of
// libxml2's structured errors.
#include <memory>

#include <libxml/xmlschemas.h>

#include "hostlib/ovr_conf.h"
#include "infoxml/info_xml_reader.h"
#include "infoxml/xml_input.h"
#include "log/debug_log.h"
#include "util/strings.h"

namespace ovrin {

std::string GetOvrinXsdPath() {
  return JoinPath(JoinPath(ReadConfigValue("PRODUCT_ROOT_D"), "TAV"), "ovrin.xsd");
}

bool InfoXmlSigned(xmlDocPtr doc) {
  xmlNodePtr root = doc ? xmlDocGetRootElement(doc) : nullptr;
  return root && root->name && ENVELOPE_NAME == reinterpret_cast<const char*>(root->name);
}

std::string FormatErrorLevel(int level) {
  std::string text = "Xml validation ";
  switch (level) {
    case XML_ERR_NONE:
      return text + "message: ";
    case XML_ERR_WARNING:
      return text + "warning: ";
    case XML_ERR_ERROR:
      return text + "error: ";
    case XML_ERR_FATAL:
      return text + "fatal error: ";
    default:
      return text + "message of level " + std::to_string(level) + ": ";
  }
}

std::string FormatXsdError(const xmlError* error) {
  std::string text = FormatErrorLevel(error->level);
  if (error->message) text += error->message;
  text += " at line " + std::to_string(error->line);
  if (error->int2 != 0) text += " column " + std::to_string(error->int2);
  if (error->str1 || error->str2 || error->str3) {
    text += "\nAdditional info:";
    for (const char* extra : {error->str1, error->str2, error->str3}) {
      if (extra) text += std::string("\n") + extra;
    }
    text += "\n";
  }
  if (error->int1 != 0) text += "\nExtra number info: " + std::to_string(error->int1) + "\n";
  return text;
}

void XmlSchemaErrorHandler(void*, xmlErrorPtr error) {
  if (error) LogMsg(FormatXsdError(error));
}

namespace {

struct SchemaParserCtxtDeleter {
  void operator()(xmlSchemaParserCtxtPtr p) const { xmlSchemaFreeParserCtxt(p); }
};
struct SchemaDeleter {
  void operator()(xmlSchemaPtr p) const { xmlSchemaFree(p); }
};
struct SchemaValidCtxtDeleter {
  void operator()(xmlSchemaValidCtxtPtr p) const { xmlSchemaFreeValidCtxt(p); }
};

}  // namespace

bool tInfoXmlReader::ValidateOvrinXsd() {
  LogMsg(std::string("Validate xml by xsd"));
  // Installed before anything is parsed so that no libxml2 message, not even
  // one about the schema, reaches the console. The handler keeps no pointer
  // to this reader: it stays installed after the reader is gone.
  xmlSetStructuredErrorFunc(nullptr, &XmlSchemaErrorHandler);

  std::unique_ptr<xmlSchema, SchemaDeleter> schema;
  {
    // The schema belongs to the installation and may include local files.
    tExternalLoadScope schemaLoads(true);
    std::unique_ptr<xmlSchemaParserCtxt, SchemaParserCtxtDeleter> parser(
        xmlSchemaNewParserCtxt(GetOvrinXsdPath().c_str()));
    if (!parser) throw OVRIN_ERROR(XmlReaderError) % "failed to allocate parser context";
    schema.reset(xmlSchemaParse(parser.get()));
    if (!schema) throw OVRIN_ERROR(XmlReaderError) % "failed to parse xml schema";
  }
  std::unique_ptr<xmlSchemaValidCtxt, SchemaValidCtxtDeleter> validator(xmlSchemaNewValidCtxt(schema.get()));
  if (!validator) throw OVRIN_ERROR(XmlReaderError) % "failed to allocate validation context";

  tExternalLoadScope noExternalLoads(false);
  RetreaveXmlInfo();
  tXmlDocHolder doc = ParseXmlFile(localPath);
  if (!doc) throw OVRIN_ERROR(XmlReaderError) % "failed to load xml document";
  if (InfoXmlSigned(doc.get())) {
    ValidateSign();
    doc = ParseXmlFile(localPath);
    if (!doc) throw OVRIN_ERROR(XmlReaderError) % "failed to load xml document";
  }
  return xmlSchemaValidateDoc(validator.get(), doc.get()) == 0;
}

}  // namespace ovrin
