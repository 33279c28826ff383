// Replays the kept fuzz inputs (inputs that once broke a parser, and the seed
// corpora) through the fuzz entry points, so a fault found by fuzzing stays
// fixed. An entry point aborts on a broken invariant; a directory expected to
// hold inputs that is missing or empty fails the test rather than passing with
// nothing replayed.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz/fuzz_entries.h"
#include "tests/support/test_support.h"

namespace ovrin {
namespace {

typedef void (*EntryPoint)(const uint8_t*, size_t);

void Feed(EntryPoint entry, const std::string& data) {
  entry(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

const struct {
  const char* name;
  EntryPoint entry;
} kTargets[] = {
    {"ovr_conf", FuzzOvrConf}, {"ftp_listing", FuzzFtpListing}, {"url", FuzzUrl},
    {"naming", FuzzNaming},    {"info_xml", FuzzInfoXml},
};

// Every target has seeds and kept inputs (once breaking or on the edge of
// what it accepts); each replays cleanly, in sorted order for reproducibility.
TEST(FuzzRegression, SeedsAndKeptInputsReplayCleanly) {
  for (const auto& target : kTargets) {
    for (const std::string& dir : {dktest::SourceDir() + "/fuzz/corpus/" + target.name,
                                   dktest::SourceDir() + "/tests/data/fuzz/" + target.name}) {
      size_t replayed = 0;
      for (const std::string& file : dktest::ListTree(dir)) {
        if (file.back() == '/') continue;
        SCOPED_TRACE(dir + "/" + file);
        Feed(target.entry, dktest::ReadFile(dir + "/" + file));
        ++replayed;
      }
      EXPECT_GT(replayed, 0u) << "no inputs in " << dir;
    }
  }
}

// Edge inputs every entry point must take without faults, whatever the corpus.
TEST(FuzzRegression, EdgeInputsReplayCleanly) {
  const std::vector<std::string> inputs = {
      "", "\n", "\r\n\r\n", std::string(1, '\0'), std::string("a\0b", 3), "@", "://", "_", ".", "/",
      std::string(4096, 'x'), std::string(300, '\n'), "\xff\xfe\xfd"};
  for (const auto& target : kTargets) {
    for (const std::string& input : inputs) {
      SCOPED_TRACE(std::string(target.name) + " / input of " + std::to_string(input.size()) + " bytes");
      Feed(target.entry, input);
    }
  }
}

}  // namespace
}  // namespace ovrin
