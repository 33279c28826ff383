#include "repository/dump_files.h"

#include "log/debug_log.h"
#include "repository/naming.h"
#include "util/strings.h"

namespace ovrin {

namespace {

bool IsArchive(const std::string& name) {
  return EndsWith(name, ".zip") || EndsWith(name, ".tar") || EndsWith(name, ".tgz");
}

// The label among `labels` that a file name carries as "_<label>." before its
// last dot; null when it carries none. Every '_' is tried, so labels holding
// '_' or '.' match as they would one at a time.
const std::string* FileLabel(const std::string& name, const std::set<std::string>& labels) {
  const size_t lastDot = name.rfind('.');
  if (lastDot == std::string::npos) return nullptr;
  for (size_t sep = name.find('_'); sep != std::string::npos && sep < lastDot; sep = name.find('_', sep + 1)) {
    auto it = labels.find(name.substr(sep + 1, lastDot - sep - 1));
    if (it != labels.end()) return &*it;
  }
  return nullptr;
}

// The label among `labels` that a sidecar directory name ends with after
// "info_"; null when none.
const std::string* SidecarLabel(const std::string& name, const std::set<std::string>& labels) {
  for (size_t mark = name.find(INFO_MARK); mark != std::string::npos; mark = name.find(INFO_MARK, mark + 1)) {
    auto it = labels.find(name.substr(mark + INFO_MARK.size()));
    if (it != labels.end()) return &*it;
  }
  return nullptr;
}

std::string LabelsText(const std::set<std::string>& labels) {
  if (labels.size() == 1) return "label '" + *labels.begin() + "'";
  return std::to_string(labels.size()) + " labels";
}

void FindSidecars(tRepositoryTransport& transport, const std::string& dir, const std::string& prefix,
                  const std::set<std::string>& labels, const std::string& base, DumpFilesByLabel& found) {
  LogMsg("Search discovered by " + LabelsText(labels) + " and prefix '" + prefix + "' in dir " + dir);
  std::vector<std::string> entries;
  transport.ListDir(dir, entries);
  std::set<std::string> seen;
  for (const std::string& entry : entries) {
    if (!FileMatchToPrefix(entry, prefix)) continue;
    const std::string* label = SidecarLabel(entry, labels);
    // One sidecar directory per dump: the first that matches.
    if (!label || !seen.insert(*label).second) continue;
    const std::string rel = JoinPath(base, entry);
    LogMsg("Found discovered dir " + rel);
    found[*label].push_back(rel);
  }
}

}  // namespace

void FindDumpFiles(tRepositoryTransport& transport, const std::string& dir, const std::string& prefix,
                   const std::set<std::string>& labels, const std::string& base, bool searchDiscovered,
                   DumpFilesByLabel& found, bool skipArchives, bool recurse, bool collectFiles, bool skipXml) {
  LogMsg("Search info xml and discovered by " + LabelsText(labels) + " and prefix '" + prefix + "' in dir " + dir);
  std::vector<std::string> entries;
  transport.ListDir(dir, entries);
  for (const std::string& entry : entries) {
    if (searchDiscovered && entry == DISCOVERED) {
      FindSidecars(transport, JoinPath(dir, entry), prefix, labels, JoinPath(base, entry), found);
      continue;
    }
    const std::string full = JoinPath(dir, entry);
    const std::string* label = FileMatchToPrefix(entry, prefix) ? FileLabel(entry, labels) : nullptr;
    if (label && transport.IsExist(full)) {
      if (skipXml && EndsWith(entry, ".xml")) continue;
      if (skipArchives && IsArchive(entry)) continue;
      if (collectFiles) {
        const std::string rel = JoinPath(base, entry);
        LogMsg("Found file " + rel);
        found[*label].push_back(rel);
      }
    } else if (recurse && transport.IsDirExist(full)) {
      // Object and group directories alternate on the way down, so sidecar
      // directories are looked for every second level; a "phosting" directory
      // holds its own sidecar even right below an object directory.
      const bool childSearchesDiscovered = !searchDiscovered || entry == "phosting";
      FindDumpFiles(transport, full, prefix, labels, JoinPath(base, entry), childSearchesDiscovered, found,
                    skipArchives, true, true, false);
    }
  }
}

}  // namespace ovrin
