// Replays the kept fuzz inputs (inputs that once broke a parser, and the seed
// corpora) through the fuzz entry points, so a fault found by fuzzing stays
// fixed. An entry point aborts on a broken invariant; a directory expected to
// hold inputs that is missing or empty fails the test rather than passing with
// nothing replayed.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz/fuzz_entries.h"

namespace ovrin {
namespace {

namespace fs = std::filesystem;

typedef void (*EntryPoint)(const uint8_t*, size_t);

// The regular files below `dir`, sorted so that a failure is reproducible.
std::vector<fs::path> InputsIn(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs every input of `dir` through `entry`; the number of inputs replayed.
size_t Replay(const fs::path& dir, EntryPoint entry) {
  size_t count = 0;
  for (const fs::path& file : InputsIn(dir)) {
    SCOPED_TRACE(file.string());
    const std::string data = ReadAll(file);
    entry(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    ++count;
  }
  return count;
}

struct Target {
  const char* name;
  EntryPoint entry;
};

const Target kTargets[] = {
    {"ovr_conf", FuzzOvrConf}, {"ftp_listing", FuzzFtpListing}, {"url", FuzzUrl},
    {"naming", FuzzNaming},    {"info_xml", FuzzInfoXml},
};

const fs::path kSource = DUMPKEEP_SOURCE_DIR;

TEST(FuzzRegression, SeedCorporaReplayCleanly) {
  for (const Target& target : kTargets) {
    const fs::path dir = kSource / "fuzz" / "corpus" / target.name;
    EXPECT_GT(Replay(dir, target.entry), 0u) << "no seeds in " << dir;
  }
}

TEST(FuzzRegression, KeptInputsReplayCleanly) {
  // Inputs that once broke a parser, or that sit on the edge of what it
  // accepts; every target keeps at least one.
  for (const Target& target : kTargets) {
    const fs::path dir = kSource / "tests" / "data" / "fuzz" / target.name;
    EXPECT_GT(Replay(dir, target.entry), 0u) << "no kept inputs in " << dir;
  }
}

// Edge inputs every entry point must take without faults, whatever the corpus.
TEST(FuzzRegression, EdgeInputsReplayCleanly) {
  const std::vector<std::string> inputs = {
      "", "\n", "\r\n\r\n", std::string(1, '\0'), std::string("a\0b", 3), "@", "://", "_", ".", "/",
      std::string(4096, 'x'), std::string(300, '\n'), "\xff\xfe\xfd"};
  for (const Target& target : kTargets) {
    for (const std::string& input : inputs) {
      SCOPED_TRACE(std::string(target.name) + " / input of " + std::to_string(input.size()) + " bytes");
      target.entry(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
  }
}

}  // namespace
}  // namespace ovrin
