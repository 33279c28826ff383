// Exported dumps stored as a base file plus numbered split parts.
#pragma once

#include <string>
#include <vector>

#include "transport/transport.h"

namespace ovrin {

struct FilePart {
  std::string name;
  unsigned number = 0;
};

struct PartLess {
  bool operator()(const FilePart& a, const FilePart& b) const { return a.number < b.number; }
};

// Fills `parts` with the paths of every part of the exported file `fileSpec`
// (the base file is part 0), in part order. The base file must exist
// (RepositoryException status 1 "file '...' does not exists").
void GetFileParts(tRepositoryTransport& transport, std::string fileSpec, std::vector<std::string>& parts);

}  // namespace ovrin
