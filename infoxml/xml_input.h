// libxml2 input handling shared by the descriptor reader: the streaming
// reader over an open file, the tree parser, and the policy on external
// resources. A descriptor comes from a storage and is not trusted: it is read
// from an already opened descriptor, so libxml2 never resolves a file name
// for it, and no DTD or entity it names is ever fetched.
#pragma once

#include <memory>
#include <string>

#include <libxml/tree.h>
#include <libxml/xmlreader.h>

namespace ovrin {

// A read-only descriptor of a regular file, closed on destruction; -1 when
// the file cannot be opened or is not a regular file.
class tFileHandle {
 public:
  explicit tFileHandle(const std::string& path);
  ~tFileHandle();
  tFileHandle(const tFileHandle&) = delete;
  tFileHandle& operator=(const tFileHandle&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// While one lives, libxml2 loads no external resource (DTD, entity, schema
// include) at all, or, with allowLocalFiles, only local files. Scopes nest;
// the previous loader and policy are restored on destruction.
class tExternalLoadScope {
 public:
  explicit tExternalLoadScope(bool allowLocalFiles);
  ~tExternalLoadScope();
  tExternalLoadScope(const tExternalLoadScope&) = delete;
  tExternalLoadScope& operator=(const tExternalLoadScope&) = delete;

 private:
  xmlExternalEntityLoader previousLoader_;
  bool previousAllow_;
};

// libxml2's streaming reader over one file. Parser messages go to the debug
// log, never to the console; no external resource is loaded while it lives.
class tXmlStreamReader {
 public:
  // Raises tInfoXmlReader::XmlReaderError "unable to open file " + path.
  explicit tXmlStreamReader(const std::string& path);
  ~tXmlStreamReader();
  tXmlStreamReader(const tXmlStreamReader&) = delete;
  tXmlStreamReader& operator=(const tXmlStreamReader&) = delete;

  // Moves to the next node; false at the end of the document and at the
  // first parse error (what was read before it stays valid).
  bool Next();
  // True when the current node is the start of an element (or an empty element).
  bool AtElement() const;
  // The qualified name of the current node.
  std::string Name() const;
  xmlTextReaderPtr Get() const { return reader_; }

 private:
  tExternalLoadScope noExternalLoads_;
  tFileHandle file_;
  xmlTextReaderPtr reader_;
};

struct XmlDocDeleter {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
typedef std::unique_ptr<xmlDoc, XmlDocDeleter> tXmlDocHolder;

// Parses a whole file with the tree parser under the default parser limits;
// null when it cannot be opened or is not well-formed. Messages go to the
// process-wide structured error handler.
tXmlDocHolder ParseXmlFile(const std::string& path);

// The options for every descriptor parse: no network, no entity
// substitution, no DTD loading, default size and depth limits.
extern const int DESCRIPTOR_PARSE_OPTIONS;

}  // namespace ovrin
