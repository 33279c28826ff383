// Reads a dump descriptor (info XML) through a transport: object type and
// GUID, description, content locations; signs it or verifies its signature
// with the panel's signing utility; validates it against the descriptor schema.
// The descriptor in the repository is never changed: outputs go to temporary
// files owned by the reader. The descriptor is untrusted: no external
// entities or DTDs are loaded and parser limits stay on.
#pragma once

#include <new>
#include <string>
#include <vector>

#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

#include "transport/transport.h"
#include "util/temp_files.h"

namespace ovrin {

extern const std::string ENVELOPE_NAME;  // "Envelope"

// One content location: a path relative to the descriptor's directory and its files.
struct Cid {
  std::string path;
  std::vector<std::string> contentFiles;
};

class tInfoXmlReader {
 public:
  static const char* XmlReaderError(bool codeName);  // "Xml reader error: %1%"

  // `transport` is not owned and must outlive the reader.
  tInfoXmlReader(tRepositoryTransport* transport, const std::string& path);
  ~tInfoXmlReader();
  tInfoXmlReader(const tInfoXmlReader&) = delete;
  tInfoXmlReader& operator=(const tInfoXmlReader&) = delete;

  static void Free();

  const std::string& GetLocalPath();
  void RetreaveXmlInfo();
  void ClearTempFiles();
  void ClearTempFiles(std::nothrow_t) noexcept;

  void ReadObject();
  void ReadDescription();
  void ReadContent();

  // The path of a local signed copy (the local file itself when already signed).
  std::string Sign();
  // Verifies the signature; afterwards the reader works on the unsigned copy.
  bool ValidateSign();
  bool ValidateOvrinXsd();

  const std::string& ObjectType() const { return objectType; }
  const std::string& ObjectGuid() const { return objectGuid; }
  const std::string& Description() const { return description; }
  const std::vector<Cid>& Content() const { return content; }

 private:
  tRepositoryTransport* transport;
  std::string path;
  std::vector<Cid> content;
  std::string description;
  std::string localPath;
  std::vector<TempFileGuard> tempFiles;
  std::string objectType;
  std::string objectGuid;
};

bool IsValidTypeName(const std::string& name);
std::string GetTypeName(const std::string& name);
std::string ReadAttribute(xmlTextReaderPtr reader, const std::string& name);
bool IsSigned(const std::string& path);
bool InfoXmlSigned(xmlDocPtr doc);
std::string FormatErrorLevel(int level);
std::string FormatXsdError(const xmlError* error);
void XmlSchemaErrorHandler(void* context, xmlErrorPtr error);

// The signing utility and the schema, under PRODUCT_ROOT_D.
std::string GetSignUtilityPath();
std::string GetOvrinXsdPath();
// Releases the schema that validation keeps parsed (tInfoXmlReader::Free calls it).
void FreeSchemaCache();

}  // namespace ovrin
