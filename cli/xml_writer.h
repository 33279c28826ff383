// Thin checked wrappers over the libxml2 text writer. Each raises
// XmlWriterError with the name of the failing call.
#pragma once

#include <string>

#include <libxml/xmlwriter.h>

namespace ovrin {

// Creates an indenting writer over `buffer`; the caller frees it with FreeWriter.
void GetXmlWriter(xmlTextWriterPtr& writer, xmlBufferPtr buffer);
// Creates an empty buffer; raises "Error creating the xml buffer" on failure.
xmlBufferPtr CreateXmlBuffer();
void WriteStartDocument(xmlTextWriterPtr writer);
void WriteEndDocument(xmlTextWriterPtr writer);
void WriteStartElement(xmlTextWriterPtr writer, const std::string& name);
void WriteEndElement(xmlTextWriterPtr writer);
void WriteAttribute(xmlTextWriterPtr writer, const std::string& name, const std::string& value);
void WriteText(xmlTextWriterPtr writer, const std::string& text);
void FreeWriter(xmlTextWriterPtr writer);
// Writes the buffer's content to standard output unchanged.
void WriteXmlBuf(xmlBufferPtr buffer);

// Owns a buffer and the writer over it; frees both.
class XmlDocumentWriter {
 public:
  XmlDocumentWriter();
  ~XmlDocumentWriter();
  XmlDocumentWriter(const XmlDocumentWriter&) = delete;
  XmlDocumentWriter& operator=(const XmlDocumentWriter&) = delete;
  xmlTextWriterPtr writer() { return writer_; }
  // Frees the writer (flushing it into the buffer) and prints the buffer.
  void Print();

 private:
  xmlBufferPtr buffer_ = nullptr;
  xmlTextWriterPtr writer_ = nullptr;
};

}  // namespace ovrin
