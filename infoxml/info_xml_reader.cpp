#include "infoxml/info_xml_reader.h"

#include <exception>

#include <libxml/parser.h>

#include "infoxml/xml_input.h"
#include "log/debug_log.h"
#include "util/strings.h"

namespace ovrin {

const std::string ENVELOPE_NAME = "Envelope";

const char* tInfoXmlReader::XmlReaderError(bool codeName) {
  return codeName ? "tInfoXmlReader::XmlReaderError" : "Xml reader error: %1%";
}

tInfoXmlReader::tInfoXmlReader(tRepositoryTransport* transport, const std::string& path)
    : transport(transport), path(path) {}

tInfoXmlReader::~tInfoXmlReader() { ClearTempFiles(std::nothrow); }

void tInfoXmlReader::Free() {
  FreeSchemaCache();
  xmlCleanupParser();
}

const std::string& tInfoXmlReader::GetLocalPath() {
  RetreaveXmlInfo();
  return localPath;
}

void tInfoXmlReader::RetreaveXmlInfo() {
  if (localPath.empty()) localPath = transport->GetLocalFile(path);
}

void tInfoXmlReader::ClearTempFiles() {
  tempFiles.clear();
  localPath.clear();
}

void tInfoXmlReader::ClearTempFiles(std::nothrow_t) noexcept {
  try {
    ClearTempFiles();
  } catch (const ExTraceable& e) {
    LogMsg(e);
  } catch (const std::exception& e) {
    LogMsg(std::string(e.what()));
  } catch (...) {
    LogMsg(std::string("Unknown error when clear temp files"));
  }
}

void tInfoXmlReader::ReadObject() {
  RetreaveXmlInfo();
  tXmlStreamReader reader(localPath);
  while (reader.Next()) {
    if (!reader.AtElement() || !IsValidTypeName(reader.Name())) continue;
    objectType = GetTypeName(reader.Name());
    LogMsg("Xml rader: object type found: " + objectType);
    xmlChar* guid = xmlTextReaderGetAttribute(reader.Get(), BAD_CAST "guid");
    if (guid) {
      objectGuid = reinterpret_cast<const char*>(guid);
      xmlFree(guid);
      LogMsg("Xml rader: object guid found: " + objectGuid);
    } else {
      LogMsg(std::string("Xml rader: object guid is empty."));
    }
    return;
  }
}

void tInfoXmlReader::ReadDescription() {
  RetreaveXmlInfo();
  tXmlStreamReader reader(localPath);
  while (reader.Next()) {
    if (!reader.AtElement() || reader.Name() != "description") continue;
    xmlChar* inner = xmlTextReaderReadInnerXml(reader.Get());
    if (inner) {
      if (*inner) description = reinterpret_cast<const char*>(inner);
      xmlFree(inner);
    }
    return;
  }
}

namespace {

// The value of the first text node inside the current "content-file" element;
// leaves the reader on the element's last node. "" when it holds no text.
std::string ReadContentFileName(tXmlStreamReader& reader) {
  if (xmlTextReaderIsEmptyElement(reader.Get())) return "";
  int depth = xmlTextReaderDepth(reader.Get());
  std::string name;
  bool found = false;
  while (reader.Next() && xmlTextReaderDepth(reader.Get()) > depth) {
    int type = xmlTextReaderNodeType(reader.Get());
    if (!found && (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA)) {
      const xmlChar* value = xmlTextReaderConstValue(reader.Get());
      if (value) name = reinterpret_cast<const char*>(value);
      found = true;
    }
  }
  return name;
}

}  // namespace

void tInfoXmlReader::ReadContent() {
  content.clear();
  RetreaveXmlInfo();
  tXmlStreamReader reader(localPath);
  bool open = false;  // a valid "cid" is the current location
  while (reader.Next()) {
    if (!reader.AtElement()) continue;
    const std::string name = reader.Name();
    if (name == "cid") {
      std::string cidPath = ReadAttribute(reader.Get(), "path");
      // Locations and names are reported as written; whoever opens the
      // files judges whether they stay inside the dump's directory.
      open = !cidPath.empty();
      if (open) content.push_back(Cid{cidPath, {}});
    } else if (name == "content-file" && open) {
      std::string file = ReadContentFileName(reader);
      if (file.empty()) continue;
      content.back().contentFiles.push_back(file);
    }
  }
}

bool IsValidTypeName(const std::string& name) {
  return name == "server" || name == "admin" || name == "reseller" || name == "client" || name == "domain";
}

std::string GetTypeName(const std::string& name) { return name == "admin" ? "server" : name; }

std::string ReadAttribute(xmlTextReaderPtr reader, const std::string& name) {
  xmlChar* value = xmlTextReaderGetAttribute(reader, BAD_CAST name.c_str());
  if (!value) return "";
  std::string result = reinterpret_cast<const char*>(value);
  xmlFree(value);
  return result;
}

bool IsSigned(const std::string& path) {
  LogMsg("Check file '" + path + "' sign existence");
  tXmlStreamReader reader(path);
  while (reader.Next()) {
    if (!reader.AtElement()) continue;
    if (reader.Name() == ENVELOPE_NAME) {
      LogMsg("File '" + path + "' is signed");
      return true;
    }
    LogMsg("File '" + path + "' is not signed");
    return false;
  }
  return false;
}

}  // namespace ovrin
