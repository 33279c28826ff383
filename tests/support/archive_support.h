// Exported dump archives for the import tests: a dump tree written into a
// scratch directory and packed with the real tar, optionally compressed and
// cut into numbered parts.
#pragma once

#include <string>
#include <vector>

namespace dktest {

// One dump as an exported archive holds it, members relative to the dump's
// object directory.
struct ExportedDump {
  std::string type = "client";
  std::string guid = "2f3c0d1e-0000-4000-8000-00000000c001";
  std::string objectId = "c1";  // empty: no objectid_ item
  std::string prefix = "backup";
  std::string label = "1001011200";
  std::vector<std::string> contents = {"backup_user_1001011200.tgz"};
  std::vector<std::string> statuses;  // status items, e.g. "OK"
  bool descriptor = true;
  bool directoryMembers = false;  // also store the directories as members

  std::string Stem() const { return prefix + "_info_" + label; }
  std::string Descriptor() const { return Stem() + ".xml"; }
  std::string Sidecar() const { return ".discovered/" + Stem(); }
};

// Writes the dump's files below `dir`; returns the member names in archive order.
std::vector<std::string> WriteDumpTree(const std::string& dir, const ExportedDump& dump);
// The descriptor text of `dump`.
std::string DescriptorXml(const ExportedDump& dump);
// Packs exactly `members` (relative to `dir`, no recursion into directories)
// into `archive` with tar; gzip-compressed when asked.
void PackMembers(const std::string& dir, const std::vector<std::string>& members, const std::string& archive,
                 bool gzip);
// Writes `dump` into a scratch tree and packs it into `archive`.
void PackDump(const ExportedDump& dump, const std::string& archive, bool gzip);
// Cuts `archive` into `count` pieces: the file itself keeps the first, the
// others are archive1 .. archive<count-1>.
void SplitIntoParts(const std::string& archive, int count);

}  // namespace dktest
