// Entry points of the fuzz targets. Each one feeds an arbitrary byte string to
// one parser and aborts when an invariant of its result does not hold. The
// libFuzzer drivers call them, and so does the regression replay test, which
// runs the kept inputs through the same code in the normal build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ovrin {

void FuzzOvrConf(const uint8_t* data, size_t size);
void FuzzFtpListing(const uint8_t* data, size_t size);
void FuzzUrl(const uint8_t* data, size_t size);
void FuzzNaming(const uint8_t* data, size_t size);
void FuzzInfoXml(const uint8_t* data, size_t size);

// Aborts, naming the broken invariant, when `ok` is false.
inline void FuzzCheck(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz invariant violated: %s\n", what.c_str());
  std::abort();
}

// The input written to a regular file in a fresh scratch directory, for the
// readers that take a path; both are removed on destruction.
class FuzzInputFile {
 public:
  FuzzInputFile(const uint8_t* data, size_t size, const char* suffix);
  ~FuzzInputFile();
  FuzzInputFile(const FuzzInputFile&) = delete;
  FuzzInputFile& operator=(const FuzzInputFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace ovrin
