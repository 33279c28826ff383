// The staging area of imports: where an archive's members are extracted and
// checked before any of them enters the repository.
//
// On a storage of this host the area is ".discovered/.import" at the storage
// root: on the dumps' own file system, so members enter by rename, and inside
// the index directory, which every search for dumps passes over. Its name can
// never come from an archive, whose ".discovered" may hold only the sidecar
// directories of its own descriptors. For a remote storage the staging
// directory is a fresh one in this host's temporary directory. The journals of
// imports in progress live in the area on the storage in both cases.
#pragma once

#include <string>
#include <vector>

namespace ovrin {

class tRepositoryTransport;

// ".discovered/.import", relative to the storage root.
extern const std::string STAGING_AREA;

// Creates the area on `storage` where missing; returns the directories it
// created, parents first.
std::vector<std::string> EnsureStagingArea(tRepositoryTransport& storage);
// Removes `created` (as EnsureStagingArea returned it) where empty, children
// first; failures are logged.
void RemoveStagingAreaDirs(tRepositoryTransport& storage, const std::vector<std::string>& created);

// One import's staging directory, locked (flock) by its owner for as long as
// the object lives, so that a staging directory nobody holds is known to be
// left by a process that died.
class tImportStaging {
 public:
  // Makes a fresh staging directory for an import into `storage`. Raises
  // TransportException when it cannot.
  explicit tImportStaging(tRepositoryTransport& storage);
  // Removes the staging directory with whatever it still holds, then the
  // area directories this object created, where empty. Never raises.
  ~tImportStaging();
  tImportStaging(const tImportStaging&) = delete;
  tImportStaging& operator=(const tImportStaging&) = delete;

  // Local path of the staging directory.
  const std::string& Path() const { return path_; }
  // A name for the import, unique on this host; journals are named after it.
  std::string RunName() const;

  // Removes the staging directories of `storage` that no process holds any
  // more (left by killed imports). Never raises.
  static void RemoveAbandoned(tRepositoryTransport& storage);

 private:
  tRepositoryTransport& storage_;
  std::vector<std::string> createdArea_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace ovrin
