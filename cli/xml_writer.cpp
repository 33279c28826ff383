#include "cli/xml_writer.h"

#include <cstdio>

#include "errors/error_kinds.h"
#include "util/strings.h"

namespace ovrin {

namespace {

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

void Check(int result, const char* detail) {
  if (result < 0) throw OVRIN_ERROR(XmlWriterError) % detail;
}

}  // namespace

void GetXmlWriter(xmlTextWriterPtr& writer, xmlBufferPtr buffer) {
  writer = xmlNewTextWriterMemory(buffer, 0);
  if (!writer) throw OVRIN_ERROR(XmlWriterError) % "error creating the xml writer";
  Check(xmlTextWriterSetIndent(writer, 1), "Error at xmlTextWriterSetIndent");
}

xmlBufferPtr CreateXmlBuffer() {
  xmlBufferPtr buffer = xmlBufferCreate();
  if (!buffer) throw OVRIN_ERROR(XmlWriterError) % "Error creating the xml buffer";
  return buffer;
}

void WriteStartDocument(xmlTextWriterPtr writer) {
  Check(xmlTextWriterStartDocument(writer, nullptr, "UTF-8", nullptr), "Error at xmlTextWriterStartDocument");
}

void WriteEndDocument(xmlTextWriterPtr writer) {
  Check(xmlTextWriterEndDocument(writer), "error at xmlTextWriterEndDocument");
}

void WriteStartElement(xmlTextWriterPtr writer, const std::string& name) {
  Check(xmlTextWriterStartElement(writer, X(name)), "error at xmlTextWriterStartElement");
}

void WriteEndElement(xmlTextWriterPtr writer) {
  Check(xmlTextWriterEndElement(writer), "error at xmlTextWriterEndElement");
}

void WriteAttribute(xmlTextWriterPtr writer, const std::string& name, const std::string& value) {
  Check(xmlTextWriterWriteAttribute(writer, X(name), X(ToXmlText(value))), "error at xmlTextWriterWriteAttribute");
}

void WriteText(xmlTextWriterPtr writer, const std::string& text) {
  Check(xmlTextWriterWriteString(writer, X(ToXmlText(text))), "error at xmlTextWriterWriteText");
}

void FreeWriter(xmlTextWriterPtr writer) { xmlFreeTextWriter(writer); }

void WriteXmlBuf(xmlBufferPtr buffer) {
  std::printf("%s", reinterpret_cast<const char*>(xmlBufferContent(buffer)));
  std::fflush(stdout);
}

XmlDocumentWriter::XmlDocumentWriter() {
  LIBXML_TEST_VERSION
  buffer_ = CreateXmlBuffer();
  try {
    GetXmlWriter(writer_, buffer_);
  } catch (...) {
    if (writer_) FreeWriter(writer_);
    xmlBufferFree(buffer_);
    throw;
  }
}

XmlDocumentWriter::~XmlDocumentWriter() {
  if (writer_) FreeWriter(writer_);
  xmlBufferFree(buffer_);
}

void XmlDocumentWriter::Print() {
  FreeWriter(writer_);
  writer_ = nullptr;
  WriteXmlBuf(buffer_);
}

}  // namespace ovrin
