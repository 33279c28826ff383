// Validation of a descriptor against the descriptor schema, and the texts of
// libxml2's structured errors.
#include <memory>

#include <sys/stat.h>

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

// The parsed schema of the installation, kept for the process: a listing or
// a repository check validates many descriptors against the one schema, and
// parsing it again for each would cost more than validating the descriptor.
// Only a schema that parsed is kept; a failing one is tried again next time.
// The kept one serves while its file is the same file with the same size and
// time; a schema replaced or removed is read again.
struct SchemaCache {
  std::string key;
  std::unique_ptr<xmlSchema, SchemaDeleter> schema;
};

// The path with the identity of the file there; "" when there is none.
std::string SchemaFileKey(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  return path + "\n" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
         std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

SchemaCache& TheSchemaCache() {
  static SchemaCache cache;
  return cache;
}

}  // namespace

void FreeSchemaCache() {
  TheSchemaCache().schema.reset();
  TheSchemaCache().key.clear();
}

bool tInfoXmlReader::ValidateOvrinXsd() {
  LogMsg(std::string("Validate xml by xsd"));
  // Installed before anything is parsed so that no libxml2 message, not even
  // one about the schema, reaches the console. The handler keeps no pointer
  // to this reader: it stays installed after the reader is gone.
  xmlSetStructuredErrorFunc(nullptr, &XmlSchemaErrorHandler);

  SchemaCache& cache = TheSchemaCache();
  const std::string schemaPath = GetOvrinXsdPath();
  const std::string key = SchemaFileKey(schemaPath);
  if (!cache.schema || key.empty() || cache.key != key) {
    FreeSchemaCache();
    // The schema belongs to the installation and may include local files.
    tExternalLoadScope schemaLoads(true);
    std::unique_ptr<xmlSchemaParserCtxt, SchemaParserCtxtDeleter> parser(
        xmlSchemaNewParserCtxt(schemaPath.c_str()));
    if (!parser) throw OVRIN_ERROR(XmlReaderError) % "failed to allocate parser context";
    cache.schema.reset(xmlSchemaParse(parser.get()));
    if (!cache.schema) throw OVRIN_ERROR(XmlReaderError) % "failed to parse xml schema";
    cache.key = key;
  }
  std::unique_ptr<xmlSchemaValidCtxt, SchemaValidCtxtDeleter> validator(
      xmlSchemaNewValidCtxt(cache.schema.get()));
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
