// Replays inputs through the fuzz entry points, which abort on a broken invariant.
#include <cstdint>

#include "fuzz/fuzz_entries.h"
#include "tests/support/test_support.h"

using namespace ovrin;

// Every target has seeds and once-breaking inputs (none is a failure), and takes them and edge inputs cleanly.
TEST(FuzzRegression, KeptAndEdgeInputsReplayCleanly) {
  const struct { const char* name; void (*entry)(const uint8_t*, size_t); } targets[] = {
      {"ovr_conf", FuzzOvrConf}, {"ftp_listing", FuzzFtpListing}, {"url", FuzzUrl}, {"naming", FuzzNaming},
      {"info_xml", FuzzInfoXml}};
  const std::vector<std::string> edges = {"", "\n", "\r\n\r\n", std::string(1, '\0'), std::string("a\0b", 3), "@",
                                          "://", "_", ".", "/", std::string(4096, 'x'), std::string(300, '\n'),
                                          "\xff\xfe\xfd"};
  for (const auto& target : targets) {
    std::vector<std::string> inputs = edges;
    for (const std::string& dir : {dktest::SourceDir() + "/fuzz/corpus/" + target.name,
                                   dktest::SourceDir() + "/tests/data/fuzz/" + target.name}) {
      const size_t before = inputs.size();
      for (const std::string& file : dktest::ListTree(dir)) {
        if (file.back() != '/') inputs.push_back(dktest::ReadFile(dir + "/" + file));
      }
      EXPECT_GT(inputs.size(), before) << "no inputs in " << dir;
    }
    for (const std::string& input : inputs) target.entry(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
}
