// The journal of one import: the record, kept on the storage the import
// writes to, of everything the import creates there, so that a failed import
// is undone exactly and one killed half way is undone by the next writer.
//
// The journal is stored before the first file lands and names, in the order
// of creation, every directory and file the import will create. An import
// never replaces anything, so undoing is deleting: the entries are taken
// backwards, a file is deleted (on a storage of this host only while it is
// still the very file the import placed there), a directory is removed only
// when it is empty, after the verdicts that listings recorded meanwhile for
// the dump being undone (status items in a sidecar directory the import
// created). Committing removes the journal, and the import stands.
#pragma once

#include <string>
#include <vector>

namespace ovrin {

class tRepositoryTransport;

class tImportJournal {
 public:
  // A journal named after `runName` for this host in the staging area of
  // `storage`; nothing is stored before Write.
  tImportJournal(tRepositoryTransport& storage, const std::string& runName);
  // Undoes the import unless it was committed, then removes the area
  // directories Write created, where empty. Never raises.
  ~tImportJournal();
  tImportJournal(const tImportJournal&) = delete;
  tImportJournal& operator=(const tImportJournal&) = delete;

  // Paths are relative to the storage root. `identity` tells the file from any
  // other of its name where the storage is of this host ("" when unknown).
  void AddDir(const std::string& path);
  void AddFile(const std::string& path, const std::string& identity);
  // Stores the journal; raises the storage's error when it cannot.
  void Write();
  // Removes the journal from the storage; raises when it cannot, and the
  // import is then undone like a failed one.
  void Commit();

  // The identity of a local file as AddFile wants it: device, inode, size and
  // modification time.
  static std::string LocalIdentity(const std::string& localPath);
  // Undoes every import this host left unfinished on `storage` and removes
  // their journals and staging directories. Call only while holding the
  // storage's writers' lock; failures are logged and never raised.
  static void RecoverAll(tRepositoryTransport& storage);

 private:
  struct Entry {
    char kind;  // 'D' directory, 'F' file
    std::string path;
    std::string identity;
  };

  static void Undo(tRepositoryTransport& storage, const std::vector<Entry>& entries);
  static std::vector<Entry> Parse(const std::string& text);
  std::string Text() const;

  tRepositoryTransport& storage_;
  std::string name_;
  std::vector<Entry> entries_;
  std::vector<std::string> createdArea_;
  bool written_ = false;
  bool committed_ = false;
};

}  // namespace ovrin
