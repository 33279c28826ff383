// Dump naming rules. The input holds up to three lines: a prefix, a label and
// a free path. The free path goes through every name test and name part; the
// prefix and label are used to build names by the rules, which must then be
// recognised and parse back to the same label.
#include <stdexcept>
#include <string>
#include <vector>

#include "errors/error_model.h"
#include "fuzz/fuzz_entries.h"
#include "repository/naming.h"

namespace ovrin {

namespace {

bool Has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

void ProbeFreePath(const std::string& path, const std::string& other) {
  unsigned number = 0;
  FileMatchToPrefix(path, other);
  DiscoveredMatchToLabel(path, other);
  DirMatchToLabel(path, other);
  InfoXmlMatchToLabel(path, other);
  FileMatchToLabel(path, other);
  IsFtpDumpName(path);
  IsSplittedPart(other, path, number);
  HasMinorType(path, other);
  GetDumpPrefix(path);
  GetInfoXmlDir(path);
  GetDiscoveredDir(path);
  PathBeginsWith(other, path);
  HasParentReference(path);
  SortPaths({path, other, path + "/" + other});
  std::string head, value, dumpName, item;
  if (IsDiscoveredPath(path, other, head, value)) {
    FuzzCheck(head + other + "_" + value == path, "sidecar path does not recombine");
  }
  if (IsAnyDiscoveredPath(path, dumpName, item, value)) {
    FuzzCheck(Has(path, dumpName + "/" + item + "_" + value), "sidecar parts are not in the path");
  }
  try {
    GetDumpLabel(path);
  } catch (const std::exception&) {
  }
  try {
    GetInfoXmlsLabel(path);
  } catch (const std::exception&) {
  }
  try {
    GetObjectTypeGroupDir(path);
    GetObjectTypeSearchDirs(path);
  } catch (const std::exception&) {
  }
}

void CheckBuiltNames(const std::string& prefix, const std::string& label) {
  if (Has(prefix, "/") || Has(label, "/")) return;
  const std::string infoXml = prefix + "_info_" + label + ".xml";
  FuzzCheck(InfoXmlMatchToLabel(infoXml, label), "descriptor name does not match its label");
  FuzzCheck(FileMatchToPrefix(infoXml, prefix), "descriptor name does not match its prefix");
  if (!Has(label, "info_")) {
    FuzzCheck(GetInfoXmlsLabel("dir/" + infoXml) == label, "descriptor label does not parse back");
  }
  if (!Has(label, ".") && !Has(label, "_")) {
    const std::string archive = prefix + "_" + label + ".tar";
    FuzzCheck(GetDumpLabel("dir/" + archive) == label, "archive label does not parse back");
    FuzzCheck(FileMatchToLabel(archive, label), "archive name does not match its label");
  }
  if (!Has(prefix, "\n") && !Has(prefix, "\r")) {
    FuzzCheck(IsFtpDumpName(prefix + "_1234567890.tgz"), "exported dump name not recognised");
  }
  unsigned number = 1;
  FuzzCheck(IsSplittedPart(prefix, prefix, number) && number == 0, "the first part not recognised");
  FuzzCheck(IsSplittedPart(prefix, prefix + "17", number) && number == 17, "a numbered part not recognised");
  FuzzCheck(PathBeginsWith(prefix, prefix + "/" + label), "a path below its base not recognised");
  FuzzCheck(HasParentReference(prefix + "/../" + label), "a parent reference not found");
  std::string head, value;
  const std::string sidecar = GetDiscoveredDir("dir/" + infoXml) + "/" + D_ITEM_OWNER + "_" + label;
  // The first "owner_" after the sidecar directory ends the item, so the
  // descriptor name may not hold one of its own.
  if (!Has(prefix, DISCOVERED) && !Has(infoXml, D_ITEM_OWNER + "_")) {
    FuzzCheck(IsDiscoveredPath(sidecar, D_ITEM_OWNER, head, value) && value == label, "sidecar value does not parse back");
  }
}

}  // namespace

void FuzzNaming(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> fields;
  size_t begin = 0;
  while (fields.size() < 2) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) break;
    fields.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  fields.push_back(text.substr(begin < text.size() ? begin : text.size()));
  while (fields.size() < 3) fields.push_back("");
  ProbeFreePath(fields[2], fields[1]);
  ProbeFreePath(fields[0], fields[2]);
  CheckBuiltNames(fields[0], fields[1]);
}

}  // namespace ovrin
