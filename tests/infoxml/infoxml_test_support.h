// Helpers of the descriptor tests: a scratch repository, sample and hostile descriptors.
#pragma once

#include <memory>
#include <string>

#include "tests/support/test_support.h"
#include "transport/transport.h"

namespace ovrin {

// A descriptor in the form the sample schema describes.
inline const char* ExampleDescriptor() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<client guid=\"2f3c0d1e-0000-4000-8000-00000000c001\" "
         "name=\"c1\">\n  <description>Weekly dump of <b>c1</b></description>\n  <cid path=\".\">\n    <content-file>"
         "backup_user_1001011200.tgz</content-file>\n  </cid>\n  <domain guid=\"2f3c0d1e-0000-4000-8000-00000000d001\" "
         "name=\"example.test\">\n    <cid path=\"domains/example.test\">\n      <content-file>"
         "backup_example.test_htdocs_1001011200.tgz</content-file>\n    </cid>\n  </domain>\n</client>\n";
}

// Nine levels of entities, each ten of the one below: &l9; would expand to hundreds of megabytes.
inline std::string EntityBomb(const std::string& body) {
  std::string doc = "<?xml version=\"1.0\"?><!DOCTYPE client [<!ENTITY l0 \"lollollollollollollollollol\">";
  for (int i = 1; i <= 9; ++i) {
    doc += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) doc += "&l" + std::to_string(i - 1) + ";";
    doc += "\">";
  }
  return doc + "]>" + body;
}

// `inner` wrapped in `depth` nested domain elements.
inline std::string Nested(int depth, const std::string& inner) {
  std::string doc;
  for (int i = 0; i < depth; ++i) doc += "<domain guid=\"d\">";
  doc += inner;
  for (int i = 0; i < depth; ++i) doc += "</domain>";
  return doc;
}

struct DescriptorRepo {
  dktest::TempDir root;
  std::unique_ptr<tRepositoryTransport> transport{tRepositoryTransport::Get(root.path())};
  std::string dir() const { return root.path(); }
  void Put(const std::string& name, const std::string& content) { dktest::WriteFile(root / name, content); }
};

}  // namespace ovrin
