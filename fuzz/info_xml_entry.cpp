// Descriptor reader: reads an untrusted descriptor through the local
// transport. Beyond not crashing: a rejected descriptor is reported through the
// reader's own exceptions (anything else escapes and is reported), and content
// paths come from the input.
#include <stdexcept>
#include <string>

#include "errors/error_model.h"
#include "fuzz/fuzz_entries.h"
#include "infoxml/info_xml_reader.h"
#include "transport/local_transport.h"

namespace ovrin {

void FuzzInfoXml(const uint8_t* data, size_t size) {
  FuzzInputFile input(data, size, ".xml");
  const std::string& path = input.Path();
  const std::string dir = path.substr(0, path.rfind('/'));
  tRepositoryLocal transport(dir);
  tInfoXmlReader reader(&transport, path.substr(dir.size() + 1));
  try {
    reader.ReadObject();
  } catch (const std::exception&) {
  }
  try {
    reader.ReadDescription();
  } catch (const std::exception&) {
  }
  try {
    reader.ReadContent();
    for (const Cid& cid : reader.Content()) FuzzCheck(cid.path.size() <= size, "content path longer than input");
  } catch (const std::exception&) {
  }
  IsSigned(path);
}

}  // namespace ovrin
