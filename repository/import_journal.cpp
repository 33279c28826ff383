#include "repository/import_journal.h"

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <sstream>

#include <sys/stat.h>

#include "log/debug_log.h"
#include "repository/import_staging.h"
#include "repository/naming.h"
#include "transport/failure_wrap.h"
#include "transport/transport.h"
#include "util/strings.h"

namespace ovrin {

namespace {

const std::string JOURNAL_HEADER = "dumpkeep import journal 1";
// The last line of a journal stored whole. Nothing is placed before the
// journal is, so one without it names nothing that exists yet.
const std::string JOURNAL_END = "end";
const std::string JOURNAL_SUFFIX = ".journal";

// This host's part of a journal's name: journals of other hosts sharing the
// storage are theirs to undo.
std::string HostTag() {
  char name[256] = {0};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  std::string tag;
  for (const char* p = name; *p; ++p) {
    const char c = *p;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    tag += plain ? c : '-';
  }
  return tag.empty() ? "localhost" : tag;
}

// A path is one word of a journal line: '%', blanks and control bytes go as %XX.
std::string Encode(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (c == '%' || c <= ' ' || c == 0x7f) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Decode(const std::string& word, std::string& path) {
  path.clear();
  for (size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      path += word[i];
      continue;
    }
    const int high = i + 1 < word.size() ? HexValue(word[i + 1]) : -1;
    const int low = i + 2 < word.size() ? HexValue(word[i + 2]) : -1;
    if (high < 0 || low < 0) return false;
    path += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

// Runs one undo step; a failure is logged and the undo goes on.
template <class Step>
void UndoStep(const std::string& what, Step&& step) {
  try {
    step();
  } catch (...) {
    LogError("Unable to undo " + what + ": " + LogCurrentFailure());
  }
}

std::string ReadWhole(tRepositoryTransport& storage, const std::string& name) {
  std::unique_ptr<irepostream> in(storage.GetFile(name));
  if (!in || !*in) throw OVRIN_EXCEPTION(TransportException, "unable to read " + name, 0);
  std::ostringstream text;
  text << in->rdbuf();
  in->close();
  return text.str();
}

}  // namespace

tImportJournal::tImportJournal(tRepositoryTransport& storage, const std::string& runName)
    : storage_(storage), name_(STAGING_AREA + "/" + HostTag() + "." + runName + JOURNAL_SUFFIX) {}

tImportJournal::~tImportJournal() {
  if (written_ && !committed_) {
    LogMsg("Undoing the import recorded in " + name_);
    Undo(storage_, entries_);
    UndoStep("journal " + name_, [&] { storage_.Delete(name_); });
  }
  RemoveStagingAreaDirs(storage_, createdArea_);
}

void tImportJournal::AddDir(const std::string& path) { entries_.push_back(Entry{'D', path, ""}); }

void tImportJournal::AddFile(const std::string& path, const std::string& identity) {
  entries_.push_back(Entry{'F', path, identity});
}

std::string tImportJournal::Text() const {
  std::string text = JOURNAL_HEADER + "\n";
  for (const Entry& entry : entries_) {
    text += std::string(1, entry.kind) + " " + Encode(entry.path);
    if (!entry.identity.empty()) text += " " + Encode(entry.identity);
    text += "\n";
  }
  return text + JOURNAL_END + "\n";
}

void tImportJournal::Write() {
  createdArea_ = EnsureStagingArea(storage_);
  // From here on a partly stored journal must be undone too: it names only
  // what did not exist.
  written_ = true;
  std::istringstream in(Text());
  storage_.PutFile(in, name_);
  LogVerboseMsg("Import journal " + name_ + " holds " + std::to_string(entries_.size()) + " entries");
}

void tImportJournal::Commit() {
  storage_.Delete(name_);
  committed_ = true;
}

std::string tImportJournal::LocalIdentity(const std::string& localPath) {
  // A rename keeps all four; a file put in its place gets another inode, or
  // the same one again with, almost surely, another size or time.
  struct stat st;
  if (::lstat(localPath.c_str(), &st) != 0) return "";
  return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(st.st_ino)) + ":" +
         std::to_string(static_cast<long long>(st.st_size)) + ":" +
         std::to_string(static_cast<long long>(st.st_mtim.tv_sec)) + "." +
         std::to_string(static_cast<long long>(st.st_mtim.tv_nsec));
}

std::vector<tImportJournal::Entry> tImportJournal::Parse(const std::string& text) {
  std::vector<Entry> entries;
  std::vector<std::string> lines;
  Split(text, lines, "\n");
  if (lines.empty() || lines.front() != JOURNAL_HEADER) {
    LogError("Import journal without its header; nothing undone");
    return entries;
  }
  if (lines.back() != JOURNAL_END) {
    LogMsg("Import journal stored only in part: its import had placed nothing");
    return entries;
  }
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    std::vector<std::string> words;
    Split(lines[i], words, " ");
    Entry entry;
    // A journal is read back from the storage: a line that is not one of ours,
    // or a path that could leave the storage, is passed over.
    if (words.size() < 2 || words.size() > 3 || words[0].size() != 1 || (words[0] != "D" && words[0] != "F") ||
        !Decode(words[1], entry.path) || (words.size() == 3 && !Decode(words[2], entry.identity)) ||
        entry.path.empty() || BeginsWith(entry.path, "/") || HasParentReference(entry.path)) {
      LogError("Import journal line passed over: " + lines[i]);
      continue;
    }
    entry.kind = words[0][0];
    entries.push_back(entry);
  }
  return entries;
}

void tImportJournal::Undo(tRepositoryTransport& storage, const std::vector<Entry>& entries) {
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const Entry& entry = *it;
    if (entry.kind == 'F') {
      UndoStep("file " + entry.path, [&] {
        std::string local;
        if (!entry.identity.empty() && storage.GetLocalPath(entry.path, local)) {
          const std::string found = LocalIdentity(local);
          if (found.empty()) return;
          if (found != entry.identity) {
            LogMsg("Keeping " + entry.path + ": not the file the import placed there");
            return;
          }
        }
        storage.Delete(entry.path);
      });
      continue;
    }
    UndoStep("directory " + entry.path, [&] {
      if (PathLeaf(PathBranch(entry.path)) == DISCOVERED && storage.IsDirExist(entry.path)) {
        std::vector<std::string> items;
        storage.ListDir(entry.path, items);
        for (const std::string& item : items) {
          if (BeginsWith(item, D_ITEM_STATUS + "_")) storage.Delete(JoinPath(entry.path, item));
        }
      }
      storage.DeleteEmptyDir(entry.path);
    });
  }
}

void tImportJournal::RecoverAll(tRepositoryTransport& storage) {
  try {
    std::vector<std::string> names;
    if (storage.IsDirExist(STAGING_AREA)) storage.ListDir(STAGING_AREA, names);
    const std::string mine = HostTag() + ".";
    for (const std::string& name : names) {
      if (!BeginsWith(name, mine) || !EndsWith(name, JOURNAL_SUFFIX)) continue;
      const std::string journal = JoinPath(STAGING_AREA, name);
      LogStep("Undoing the interrupted import recorded in " + journal);
      try {
        Undo(storage, Parse(ReadWhole(storage, journal)));
        storage.Delete(journal);
      } catch (...) {
        LogError("Unable to undo the import recorded in " + journal + ": " + LogCurrentFailure());
      }
    }
  } catch (...) {
    LogError("Unable to look for interrupted imports: " + LogCurrentFailure());
  }
  tImportStaging::RemoveAbandoned(storage);
  // An area left by a killed import goes too, and the index directory with it
  // when the import had made it (it is empty then); an area in use, or an
  // index with items, is not empty and stays.
  try {
    if (storage.IsDirExist(STAGING_AREA)) RemoveStagingAreaDirs(storage, {DISCOVERED, STAGING_AREA});
  } catch (...) {
    LogError("Unable to look at " + STAGING_AREA + ": " + LogCurrentFailure());
  }
}

}  // namespace ovrin
