// Parsing of FTP directory listings: long listings in Unix and Windows styles,
// and the joining of listing data that arrives in arbitrary chunks.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "repository/backup_records.h"
#include "transport/transport.h"

namespace ovrin {

// One parsed long-listing line. The date is kept as the listing's own text
// (SetDateTimeStr); its time_t part stays 0.
struct FtpFileInfo : public CreationDateMixin {
  std::string name;
  tavrepo_int64_t size = 0;  // bytes; 0 when the line gives no size
  EntryKind kind = EntryKind::Unknown;  // from the type letter or "<DIR>"
};

// Unix "ls -l" style: mode, link count, owner, group (optional), size, date
// ("Jan 10 12:00", "Dec  1  2023" or "2024-01-10 12:00") and, after one
// blank, the whole rest of the line as the name (blanks and tabs kept). A
// symbolic link "name -> target" gives its own name, kind Unknown and the
// size the server lists for the link. Returns false and leaves `info`
// unchanged when the line does not match (or its size does not fit 64 bits).
bool InitFromUnixLs(const std::string& line, FtpFileInfo& info);
// Windows "dir" style: date text is what precedes the first run of three or
// more blanks; a line without a size (e.g. "<DIR>") gets size 0. Returns false
// when the line does not match.
bool InitFromWinDir(const std::string& line, FtpFileInfo& info);
// Parses every non-empty line of `text` (lines end at '\n' or '\r') and
// appends what either style accepts; other lines are logged and skipped.
void SplitFileInfo(const std::string& text, std::vector<FtpFileInfo>& infos);

// Collects listing data delivered in pieces and hands on only whole lines, so
// a name split across two pieces is never taken for two entries.
class FtpLineJoiner {
 public:
  // The text received so far up to and including its last line end; the
  // unfinished tail is kept for the next call. "" when no line is complete.
  std::string Take(const char* data, size_t size);
  // The kept tail (possibly ""), once the transfer has ended; resets the joiner.
  std::string Finish();

 private:
  std::string pending_;
};

}  // namespace ovrin
