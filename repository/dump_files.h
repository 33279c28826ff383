// The files that make up dumps of one directory: descriptors, archives and
// content files named <prefix>_..._<label>.<ext> in the directory and below
// it, and the sidecar directories .discovered/<prefix>_info_<label>.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "transport/transport.h"

namespace ovrin {

// Paths relative to the searched directory, per label, in walk order.
typedef std::map<std::string, std::vector<std::string>> DumpFilesByLabel;

// Walks `dir` once and files every entry under the label among `labels` that
// it belongs to, so the files of many dumps cost one walk instead of one walk
// per dump. Per label the result is the same as a search for that label alone:
//  - `searchDiscovered`: the directory's ".discovered" is searched for the
//    label's sidecar directory (the first that matches);
//  - a matching entry is filed unless it is a descriptor and `skipXml` is
//    set, an archive (.zip, .tar, .tgz) and `skipArchives` is set, or
//    `collectFiles` is unset;
//  - `recurse`: other sub-directories are walked as well, their sidecars
//    looked for every second level (and in every "phosting" directory).
// `base` is prepended to every filed path. Labels without files get no key.
// Transport failures pass through.
void FindDumpFiles(tRepositoryTransport& transport, const std::string& dir, const std::string& prefix,
                   const std::set<std::string>& labels, const std::string& base, bool searchDiscovered,
                   DumpFilesByLabel& found, bool skipArchives, bool recurse, bool collectFiles, bool skipXml);

}  // namespace ovrin
