#include "transport/ftp_listing.h"

#include <boost/lexical_cast.hpp>
#include <boost/regex.hpp>

#include "log/debug_log.h"
#include "util/strings.h"

namespace ovrin {

namespace {

// Mode, link count, owner, group (some servers leave it out), size, date
// ("Jan 10 12:00", "Dec  1  2023" or "2024-01-10 12:00"), one blank, and the
// name: everything up to the line end, blanks and tabs included.
const boost::regex& UnixLsPattern() {
  static const boost::regex pattern(
      "[-bcdlps][-rwxsStTlL]{9}[+@.]?[ \\t]+\\d+[ \\t]+\\S+(?:[ \\t]+\\S+)?[ \\t]+(\\d+)[ \\t]+"
      "((?:[A-Za-z]{3}[ \\t]+\\d{1,2}[ \\t]+(?:\\d{1,2}:\\d{2}|\\d{4}))|(?:\\d{4}-\\d{2}-\\d{2}[ \\t]+\\d{1,2}:\\d{2}))"
      " (.+)");
  return pattern;
}

const char LINK_ARROW[] = " -> ";

const boost::regex& WinDirPattern() {
  static const boost::regex pattern(
      "(.+?)[[:space:]]{3,}.*?(([[:digit:]]|\\,|\\.)*)[[:space:]]+(.+?)");
  return pattern;
}

// The listing comes from the server and is not trusted: a size that does not
// fit 64 bits must not escape as an exception from the parser.
bool ReadSize(const std::string& digits, tavrepo_int64_t& size) {
  try {
    size = boost::lexical_cast<tavrepo_int64_t>(digits);
    return true;
  } catch (const boost::bad_lexical_cast&) {
    return false;
  }
}

// A hostile line can make the backtracking patterns give up with an
// exception; such a line is simply not a listing line.
bool MatchLine(const std::string& line, boost::smatch& match, const boost::regex& pattern) {
  try {
    return boost::regex_match(line, match, pattern);
  } catch (const std::runtime_error& e) {
    LogMsg(std::string("Listing line left out: ") + e.what());
    return false;
  }
}

}  // namespace

bool InitFromUnixLs(const std::string& line, FtpFileInfo& info) {
  boost::smatch match;
  if (!MatchLine(line, match, UnixLsPattern())) return false;
  tavrepo_int64_t size = 0;
  if (!ReadSize(match[1].str(), size)) return false;
  std::string name = match[3].str();
  if (line[0] == 'l') {
    // A link is listed by its own name: "name -> target".
    const size_t arrow = name.find(LINK_ARROW);
    if (arrow != std::string::npos) name.erase(arrow);
  }
  if (name.empty()) return false;
  info.name = name;
  info.size = size;
  info.SetDateTimeStr(match[2].str());
  // The mode's type letter; a link ('l') may lead anywhere.
  info.kind = line[0] == 'd' ? EntryKind::Dir : line[0] == '-' ? EntryKind::File : EntryKind::Unknown;
  return true;
}

bool InitFromWinDir(const std::string& line, FtpFileInfo& info) {
  boost::smatch match;
  if (!MatchLine(line, match, WinDirPattern())) return false;
  std::string digits;
  for (char c : match[2].str()) {
    if (is_digit(c)) digits += c;
  }
  tavrepo_int64_t size = 0;
  if (digits.empty() || !ReadSize(digits, size)) {
    size = 0;
    LogMsg("Unable to retreave file size from line '" + line + "'");
  }
  info.name = match[4].str();
  info.size = size;
  info.SetDateTimeStr(match[1].str());
  // A directory shows "<DIR>" where a file shows its size.
  const size_t dirMark = line.find("<DIR>");
  info.kind = EntryKind::Unknown;
  if (dirMark != std::string::npos && dirMark < static_cast<size_t>(match.position(4))) {
    info.kind = EntryKind::Dir;
  } else if (!digits.empty()) {
    info.kind = EntryKind::File;
  }
  return true;
}

namespace {

// A line that opens with a Unix mode ("-rw-r--r--", "drwxr-x---", ...). When
// such a line is refused as a Unix line, the looser Windows pattern would
// take owner, group and size for part of the name.
bool HasUnixMode(const std::string& line) {
  if (line.size() < 10 || std::string("-bcdlps").find(line[0]) == std::string::npos) return false;
  return line.find_first_not_of("-rwxsStT", 1) >= 10;
}

}  // namespace

void SplitFileInfo(const std::string& text, std::vector<FtpFileInfo>& infos) {
  std::vector<std::string> lines;
  Split(text, lines, "\r\n");
  for (const std::string& line : lines) {
    FtpFileInfo info;
    if (InitFromUnixLs(line, info) || (!HasUnixMode(line) && InitFromWinDir(line, info))) {
      infos.push_back(info);
    } else {
      LogMsg("Unable to get file info from line '" + line + "'");
    }
  }
}

std::string FtpLineJoiner::Take(const char* data, size_t size) {
  pending_.append(data, size);
  size_t end = pending_.find_last_of("\r\n");
  if (end == std::string::npos) return "";
  std::string complete = pending_.substr(0, end + 1);
  pending_.erase(0, end + 1);
  return complete;
}

std::string FtpLineJoiner::Finish() {
  std::string rest;
  rest.swap(pending_);
  return rest;
}

}  // namespace ovrin
