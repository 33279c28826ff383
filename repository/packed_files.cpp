// Locating the split parts of an exported dump file.
#include "repository/packed_files.h"

#include <algorithm>

#include "errors/loggable_exceptions.h"
#include "repository/naming.h"

namespace ovrin {

void GetFileParts(tRepositoryTransport& transport, std::string fileSpec, std::vector<std::string>& parts) {
  std::string dir;
  std::string fileName;
  DecomposeUrl(fileSpec, dir, fileName);
  if (fileName.empty()) throw OVRIN_EXCEPTION(RepositoryException, "name of exporting file is empty", 0);
  // Parts without their base are not an exported file: the base carries the
  // archive header, so the parts alone cannot be joined into anything usable.
  if (!transport.IsExist(fileSpec))
    throw OVRIN_EXCEPTION(RepositoryException, "file '" + fileSpec + "' does not exists", 1);

  std::vector<std::string> entries;
  transport.ListDir(dir, entries);
  std::vector<FilePart> found;
  for (const std::string& entry : entries) {
    FilePart part;
    if (IsSplittedPart(fileName, entry, part.number)) {
      part.name = entry;
      found.push_back(part);
    }
  }
  // stable_sort keeps the base ahead of a look-alike "name0" of the same number.
  std::stable_sort(found.begin(), found.end(), PartLess());
  for (const FilePart& part : found) parts.push_back(dir + part.name);
}

}  // namespace ovrin
