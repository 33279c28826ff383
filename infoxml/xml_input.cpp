#include "infoxml/xml_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/xmlIO.h>

#include "infoxml/info_xml_reader.h"
#include "log/debug_log.h"

namespace ovrin {

const int DESCRIPTOR_PARSE_OPTIONS = XML_PARSE_NONET;

// Opened without blocking and accepted only as a regular file: a FIFO or a
// device in place of a descriptor would otherwise hang or never end.
tFileHandle::tFileHandle(const std::string& path)
    : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {
  struct stat st;
  if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd_);
    fd_ = -1;
  }
}

tFileHandle::~tFileHandle() {
  if (fd_ >= 0) close(fd_);
}

namespace {

void StreamReaderErrorHandler(void*, xmlErrorPtr error) {
  if (error == nullptr) return;
  std::string text = "Xml reader: ";
  if (error->message) text += error->message;
  text += " at line " + std::to_string(error->line);
  LogMsg(text);
}

// Current policy of the installed loader; only meaningful while a scope lives.
bool allowLocalLoads = false;

xmlParserInputPtr GuardedEntityLoader(const char* url, const char* id, xmlParserCtxtPtr context) {
  if (allowLocalLoads) return xmlNoNetExternalEntityLoader(url, id, context);
  LogMsg(std::string("Xml reader: refused to load external resource '") + (url ? url : "") + "'");
  return nullptr;
}

}  // namespace

tXmlStreamReader::tXmlStreamReader(const std::string& path)
    : noExternalLoads_(false), file_(path), reader_(nullptr) {
  if (file_.Get() >= 0) {
    reader_ = xmlReaderForFd(file_.Get(), path.c_str(), nullptr, DESCRIPTOR_PARSE_OPTIONS);
  }
  if (reader_ == nullptr) throw OVRIN_ERROR(tInfoXmlReader::XmlReaderError) % ("unable to open file " + path);
  xmlTextReaderSetStructuredErrorHandler(reader_, &StreamReaderErrorHandler, nullptr);
}

tXmlStreamReader::~tXmlStreamReader() { xmlFreeTextReader(reader_); }

bool tXmlStreamReader::Next() { return xmlTextReaderRead(reader_) == 1; }

bool tXmlStreamReader::AtElement() const { return xmlTextReaderNodeType(reader_) == XML_READER_TYPE_ELEMENT; }

std::string tXmlStreamReader::Name() const {
  const xmlChar* name = xmlTextReaderConstName(reader_);
  return name ? reinterpret_cast<const char*>(name) : "";
}

tXmlDocHolder ParseXmlFile(const std::string& path) {
  tFileHandle file(path);
  if (file.Get() < 0) return tXmlDocHolder();
  return tXmlDocHolder(xmlReadFd(file.Get(), path.c_str(), nullptr, DESCRIPTOR_PARSE_OPTIONS));
}

tExternalLoadScope::tExternalLoadScope(bool allowLocalFiles)
    : previousLoader_(xmlGetExternalEntityLoader()), previousAllow_(allowLocalLoads) {
  allowLocalLoads = allowLocalFiles;
  xmlSetExternalEntityLoader(&GuardedEntityLoader);
}

tExternalLoadScope::~tExternalLoadScope() {
  xmlSetExternalEntityLoader(previousLoader_);
  allowLocalLoads = previousAllow_;
}

}  // namespace ovrin
