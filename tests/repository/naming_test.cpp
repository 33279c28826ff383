// The naming rules of dumps, sidecars, exported files and object directories.
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

#include "repository/naming.h"
#include "tests/repository/repo_fixture.h"

namespace dktest {
namespace {

using namespace ovrin;

using S = const std::string&;

std::string YesNo(bool yes) { return yes ? "yes" : "no"; }

// Each rule applied to one or two arguments, its answer as text.
const std::map<std::string, std::function<std::string(S, S)>> kRules = {
    {"prefix", [](S a, S) { return GetDumpPrefix(a); }},
    {"label", [](S a, S) { return GetDumpLabel(a); }},
    {"infoLabel", [](S a, S) { return GetInfoXmlsLabel(a); }},
    {"groupDir", [](S a, S) { return GetObjectTypeGroupDir(a); }},
    {"prefix?", [](S a, S b) { return YesNo(FileMatchToPrefix(a, b)); }},
    {"dirLabel?", [](S a, S b) { return YesNo(DirMatchToLabel(a, b)); }},
    {"fileLabel?", [](S a, S b) { return YesNo(FileMatchToLabel(a, b)); }},
    {"min?", [](S a, S b) { return YesNo(HasMinorType(a, b)); }},
    {"ftp", [](S a, S) { return YesNo(IsFtpDumpName(a)); }},
    {"parent?", [](S a, S) { return YesNo(HasParentReference(a)); }},
    {"item", [](S a, S b) { std::string h, v; return IsDiscoveredPath(a, b, h, v) ? h + "|" + v : "-"; }},
    {"anyItem",
     [](S a, S) { std::string d, i, v; return IsAnyDiscoveredPath(a, d, i, v) ? d + "|" + i + "|" + v : "-"; }},
    {"sortPaths",
     [](S a, S) { std::istringstream in(a); return Join(SortPaths({std::istream_iterator<std::string>(in), {}})); }},
};

// Every naming rule on a table of names: the answer, or the refusal for a name it cannot parse.
TEST(NamingTest, Rules) {
  const std::string L = "1001011200", info = "clients/c1/backup_info_1001011200.xml", e = "Repository error: ";
  const struct { std::string rule, a, b, expected; } cases[] = {
      {"prefix", info, "", "backup"}, {"prefix", "a/b/nosep", "", "nosep"}, {"prefix", "a_b/c_info_1", "", "c"},
      {"label", "dir/x_y_1001011200.tgz3", "", L}, {"label", "dir/x_1001011200", "", L},
      {"label", "d/a.b_1001011200", "", e + "file name 'a.b_1001011200' not contains '_' [2]"},
      {"infoLabel", "a/backup_info_.xml", "", ""}, {"infoLabel", "a/x_info_y_info_1001011200.xml", "", L},
      {"infoLabel", "a/backup_1001011200.xml", "", e + "file name 'backup_1001011200.xml' not contains 'info_' [2]"},
      {"infoLabel", "a/backup_info_1.xml.bak", "", e + "file name 'backup_info_1.xml.bak' not ends with '.xml' [2]"},
      {"groupDir", "domain", "", "domains"}, {"groupDir", "mailbox", "", e + "unexpected object type 'mailbox' [0]"},
      {"prefix?", "backup_user_1", "backup", "yes"}, {"prefix?", "backupx_user_1", "backup", "no"},
      {"dirLabel?", "backup_1001011200", L, "yes"}, {"dirLabel?", "backup_10010112001", L, "no"},
      // A file's label ends at its last dot.
      {"fileLabel?", "x_1001011200.tgz3", L, "yes"}, {"fileLabel?", "x_1001011200_1001011200.tgz", L, "yes"},
      {"fileLabel?", "x_1001011200.tar.gz", L, "no"}, {"fileLabel?", "x_1001011200", L, "no"},
      {"fileLabel?", "x_1001011201.tgz", L, "no"}, {"fileLabel?", "x1001011200.tgz", L, "no"},
      {"min?", "domain", "client", "yes"}, {"min?", "client", "client", "yes"}, {"min?", "server", "domain", "no"},
      {"min?", "Client", "server", "no"}, {"ftp", "a_b_1001011200.tgz", "", "yes"}, {"ftp", "1001011200.tgz", "", "no"},
      {"ftp", "a_100101120.tgz", "", "no"}, {"ftp", "a_1001011200.zip", "", "no"},
      {"parent?", "../x", "", "yes"}, {"parent?", "clients/../../x", "", "yes"}, {"parent?", "a\\..\\b", "", "yes"},
      {"parent?", "a/..b/c..d", "", "no"},
      // The ".discovered" component must be whole, and the item is searched from it on.
      {"item", "c1/.discovered/backup_info_1/GUID_2f3c", "GUID", "c1/.discovered/backup_info_1/|2f3c"},
      {"item", ".discovered/g_c1", "g", ".discovered/|c1"}, {"item", "clients/x.discovered/d/GUID_g", "GUID", "-"},
      {"item", "clients/.discovered/d/size_1", "GUID", "-"}, {"item", "GUID_x/.discovered/d/size_1", "GUID", "-"},
      {"anyItem", "c1/.discovered/backup_info_1/size_1024", "", "backup_info_1|size|1024"},
      {"anyItem", ".discovered/d/owner_a_b", "", "d|owner|a_b"}, {"anyItem", ".discovered/backup_info_1", "", "-"},
      {"anyItem", ".discovered/d/noseparator", "", "-"}, {"anyItem", ".discovered", "", "-"},
      {"anyItem", "a.discovered/d/size_1", "", "-"}, {"sortPaths", "", "", ""},
      {"sortPaths", "a/b/c a b a/x", "", "a,b"}, {"sortPaths", "b/c a/b a/b a/bc b/c/d", "", "a/b,a/bc,b/c"},
  };
  for (const auto& c : cases) {
    const auto& rule = kRules.at(c.rule);
    const std::string answer = c.expected.rfind(e, 0) == 0 ? Refusal([&] { rule(c.a, c.b); }) : rule(c.a, c.b);
    EXPECT_EQ(answer, c.expected) << c.rule << " " << c.a << " " << c.b;
  }
}

// Object directories ("count:dirs") lie below group directories at any depth, never inside a sidecar,
// never a file; a type outside the table is refused; a descriptor is a file only.
TEST(NamingTest, LookupsInARepositoryTree) {
  LocalRepo r;
  for (const char* d : {"clients/c1/domains/d1", "resellers/r1/clients/c1", "clients/c2", "resellers/c1",
                        ".discovered/clients/c1", "domains/x/clients/c1", "clients/c1/backup_info_1003011200.xml"})
    Shell("mkdir -p '" + r.Path(d) + "'");
  r.Touch("clients/c3");
  r.Touch("clients/c1/backup_info_1002011200.xml");
  tRepositoryTransport& t = r.repo->Transport();
  const struct { std::string type; Words ids; std::string dir, expected; } cases[] = {
      {"client", {"c1", "c3"}, "", "3:clients/c1,domains/x/clients/c1,resellers/r1/clients/c1"},
      {"reseller", {"r1", "c1"}, "", "4:clients/c1,domains/x/clients/c1,resellers/c1,resellers/r1"},
      {"domain", {"d1"}, "", "1:clients/c1/domains/d1"}, {"server", {"c1"}, "", "1:"},
      // An empty directory gives the walk no entry to look the type up for.
      {"mailbox", {"c1"}, "clients/c2", "0:"},
  };
  for (const auto& c : cases) {
    Words found;
    SearchObjectDirs(t, c.type, c.ids, found, c.dir, 0);
    EXPECT_EQ(std::to_string(found.size()) + ":" + Join(Sorted(found)), c.expected) << c.type << c.dir;
  }
  Words found;
  EXPECT_EQ(Refusal([&] { SearchObjectDirs(t, "mailbox", {"c1"}, found, "", 0); }),
            "Repository error: unexpected object type 'mailbox' [0]");
  EXPECT_TRUE(HasInfoXml(t, "clients/c1", "backup", "1002011200"));
  EXPECT_FALSE(HasInfoXml(t, "clients/c1", "other", "1002011200"));
  EXPECT_FALSE(HasInfoXml(t, "clients/c1", "backup", "1001011200"));
  EXPECT_FALSE(HasInfoXml(t, "clients/c1", "backup", "1003011200"));
  // The index names the object directories of a GUID, never of a longer one.
  for (const char* item : {"g1_c1", "g1_c4", "g12_c2", "g1"}) r.Touch(std::string(".discovered/") + item, "");
  EXPECT_EQ(Sorted(GetDiscoveredNames(t, "g1")), (Words{"c1", "c4"}));
}

}  // namespace
}  // namespace dktest
