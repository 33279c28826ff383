#include "tests/support/archive_support.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/test_support.h"

namespace dktest {

std::string DescriptorXml(const ExportedDump& dump) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + dump.type + " guid=\"" + dump.guid +
                    "\" name=\"" + (dump.objectId.empty() ? "server" : dump.objectId) + "\">\n" +
                    "  <description>Dump of " + dump.type + "</description>\n  <cid path=\".\">\n";
  for (const std::string& name : dump.contents) xml += "    <content-file>" + name + "</content-file>\n";
  return xml + "  </cid>\n</" + dump.type + ">\n";
}

std::vector<std::string> WriteDumpTree(const std::string& dir, const ExportedDump& dump) {
  std::vector<std::string> members;
  if (dump.descriptor) {
    WriteFile(dir + "/" + dump.Descriptor(), DescriptorXml(dump));
    members.push_back(dump.Descriptor());
  }
  for (const std::string& name : dump.contents) {
    WriteFile(dir + "/" + name, "content of " + name + "\n");
    members.push_back(name);
  }
  std::vector<std::string> items = {"size_1024", "owner_2f3c0d1e-0000-4000-8000-000000000001", "ownertype_server",
                                    "GUID_" + dump.guid};
  if (!dump.objectId.empty()) items.push_back("objectid_" + dump.objectId);
  for (const std::string& status : dump.statuses) items.push_back("status_" + status);
  if (dump.directoryMembers) {
    members.push_back(".discovered/");
    members.push_back(dump.Sidecar() + "/");
  }
  for (const std::string& item : items) {
    WriteFile(dir + "/" + dump.Sidecar() + "/" + item, "");
    members.push_back(dump.Sidecar() + "/" + item);
  }
  return members;
}

void PackMembers(const std::string& dir, const std::vector<std::string>& members, const std::string& archive,
                 bool gzip) {
  TempDir scratch;
  std::ofstream list(scratch / "members", std::ios::binary);
  // --null: member names may hold any byte but NUL.
  for (const std::string& member : members) list << member << '\0';
  list.close();
  std::vector<std::string> args = {"-c", "--format=gnu", "--no-recursion", "--null", "-C", dir, "-f", archive,
                                   "-T", scratch / "members"};
  if (gzip) args.insert(args.begin(), "-z");
  RunResult result = Run("tar", args);
  if (result.code != 0) throw std::runtime_error("tar failed: " + result.err);
}

void PackDump(const ExportedDump& dump, const std::string& archive, bool gzip) {
  TempDir tree;
  PackMembers(tree.path(), WriteDumpTree(tree.path(), dump), archive, gzip);
}

void SplitIntoParts(const std::string& archive, int count) {
  const std::string data = ReadFile(archive);
  const size_t chunk = (data.size() + count - 1) / count;
  for (int n = 0; n < count; ++n) {
    const std::string piece = data.substr(std::min(data.size(), n * chunk), chunk);
    WriteFile(n == 0 ? archive : archive + std::to_string(n), piece);
  }
}

}  // namespace dktest
