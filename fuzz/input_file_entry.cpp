#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_entries.h"

namespace ovrin {

FuzzInputFile::FuzzInputFile(const uint8_t* data, size_t size, const char* suffix) {
  const char* tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/dkfuzz.XXXXXX";
  if (!mkdtemp(&templ[0])) throw std::runtime_error("cannot create a temporary directory");
  dir_ = templ;
  path_ = dir_ + "/input" + suffix;
  FILE* file = std::fopen(path_.c_str(), "wb");
  if (!file || (size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
    rmdir(dir_.c_str());
    throw std::runtime_error("cannot write the fuzz input file");
  }
}

FuzzInputFile::~FuzzInputFile() {
  unlink(path_.c_str());
  rmdir(dir_.c_str());
}

}  // namespace ovrin
