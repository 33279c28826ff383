// FTP long-listing parsers. Beyond not crashing: a parsed name is part of
// its line and its size is not negative; the line joiner hands back exactly the
// bytes it was given whatever the chunking, and parsing the joined pieces
// gives the same entries as parsing the whole text.
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "transport/ftp_listing.h"

namespace ovrin {

namespace {

void CheckLine(const std::string& line) {
  FtpFileInfo unixInfo;
  if (InitFromUnixLs(line, unixInfo)) {
    FuzzCheck(line.find(unixInfo.name) != std::string::npos, "unix name is not part of its line");
    FuzzCheck(unixInfo.size >= 0, "negative unix size");
  }
  FtpFileInfo win;
  if (InitFromWinDir(line, win)) {
    FuzzCheck(line.find(win.name) != std::string::npos, "windows name is not part of its line");
    FuzzCheck(win.size >= 0, "negative windows size");
  }
}

bool SameEntries(const std::vector<FtpFileInfo>& a, const std::vector<FtpFileInfo>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].size != b[i].size) return false;
  }
  return true;
}

}  // namespace

void FuzzFtpListing(const uint8_t* data, size_t size) {
  // The first byte chooses where the text is cut into two chunks.
  size_t cut = size ? data[0] : 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (cut > text.size()) cut = text.size();

  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin) CheckLine(text.substr(begin, end - begin));
    begin = end + 1;
  }

  std::vector<FtpFileInfo> whole;
  SplitFileInfo(text, whole);

  FtpLineJoiner joiner;
  const std::string first = joiner.Take(text.data(), cut);
  const std::string second = joiner.Take(text.data() + cut, text.size() - cut);
  const std::string tail = joiner.Finish();
  FuzzCheck(first + second + tail == text, "the line joiner changed the data");
  std::vector<FtpFileInfo> pieces;
  SplitFileInfo(first, pieces);
  SplitFileInfo(second, pieces);
  SplitFileInfo(tail, pieces);
  FuzzCheck(SameEntries(whole, pieces), "chunked listing parses differently");
}

}  // namespace ovrin
