#include <boost/lexical_cast.hpp>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "repository/archive.h"
#include "repository/naming.h"
#include "util/strings.h"

namespace ovrin {

namespace {

[[noreturn]] void WrongFormat(const std::string& text) {
  throw OVRIN_EXCEPTION(RepositoryException, "Dump has wrong format. " + text, 2);
}

void CheckSidecarName(const std::string& dumpName, const std::string& prefix, const std::string& label) {
  if (!FileMatchToPrefix(dumpName, prefix)) {
    WrongFormat("Discovered dir '" + dumpName + "' does not match to dump prefix '" + prefix + "'");
  }
  if (!DirMatchToLabel(dumpName, label)) {
    WrongFormat("Discovered dir '" + dumpName + "' does not match to dump label '" + label + "'");
  }
}

// A directory member: the sidecar root and other directories hold no content
// of their own; a dump's sidecar directory must belong to this dump.
void CheckDirectoryMember(const std::string& file, const std::string& prefix, const std::string& label) {
  const std::string dir = TrimTrailingSlashes(file);
  if (PathLeaf(PathBranch(dir)) == DISCOVERED) CheckSidecarName(PathLeaf(dir), prefix, label);
}

}  // namespace

void CheckImportedFiles(std::string infoXml, const std::vector<std::string>& files, const std::string& statusItem,
                        std::vector<std::string>& toDelete) {
  LogMsg("Check " + boost::lexical_cast<std::string>(files.size()) + " exported files match to name " + infoXml);
  const std::string prefix = GetDumpPrefix(infoXml);
  const std::string label = GetInfoXmlsLabel(infoXml);
  for (const std::string& file : files) {
    std::string dumpName, item, value;
    if (IsAnyDiscoveredPath(file, dumpName, item, value)) {
      CheckSidecarName(dumpName, prefix, label);
      if (item == statusItem) toDelete.push_back(file);
    } else if (EndsWith(file, "/")) {
      CheckDirectoryMember(file, prefix, label);
    } else {
      const std::string leaf = PathLeaf(file);
      if (!FileMatchToPrefix(leaf, prefix)) {
        WrongFormat("Archive file '" + file + "' does not match to dump prefix '" + prefix + "'");
      }
      if (!FileMatchToLabel(leaf, label)) {
        WrongFormat("Archive file '" + file + "' does not match to dump label '" + label + "'");
      }
    }
  }
  LogMsg("All files match to name " + infoXml);
}

bool IsPlainComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

std::string GetObjectId(const std::vector<std::string>& files) {
  const std::string key = D_ITEM_OBJECT_ID + "_";
  for (const std::string& file : files) {
    const std::string leaf = PathLeaf(file);
    if (!BeginsWith(leaf, key)) continue;
    const std::string id = leaf.substr(key.size());
    // The id names the directory the dump is unpacked into.
    if (!IsPlainComponent(id)) WrongFormat("Object id '" + id + "' is not a plain directory name");
    return id;
  }
  throw OVRIN_EXCEPTION(RepositoryException, " Dump not have object id", 2);
}

void CheckObjectType(const std::string& dumpType, const std::string& requesterType) {
  if (!HasMinorType(dumpType, requesterType)) {
    throw OVRIN_EXCEPTION(ImportException, " Dump does not match to type " + requesterType, 2);
  }
}

}  // namespace ovrin
