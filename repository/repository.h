// The handle through which every command works on one dump repository.
// It owns its transports and its files transaction; the catalogue,
// validation, export, import, deletion and rotation operations are members.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "repository/backup_records.h"
#include "transport/transport.h"

namespace ovrin {

class tFilesTransaction;

// The outcome of an import: the target descriptor path and 0 (imported) or
// 1 (a dump with that descriptor already existed; nothing was imported).
struct DumpImportResult {
  std::string text;
  int status = 0;
};

enum CompressionLevel { COMPRESSION_NONE = 0, COMPRESSION_FAST = 1, COMPRESSION_BEST = 9 };

// One problem a repository check found: the path concerned, relative to the
// repository root, its kind (see tRepository::CheckRepository) and, for
// missing content, the content files concerned.
struct RepositoryProblem {
  std::string path;
  std::string kind;
  std::vector<std::string> files;
};

class tRepository {
 public:
  static const char* StreamError(bool codeName);      // "Stream error: %1%"
  static const char* StreamPipeError(bool codeName);  // "Unable to copy streams: %1%"
  static const char* ArchiverError(bool codeName);    // "Archiver error: %1%"

  // Opens the storage `place` (a URL without login); errors of the transport
  // factory and of Init propagate and no repository is made.
  tRepository(const std::string& place, const std::string& login, const std::string& password,
              const std::string& subDir, bool passive);
  // Deletes the transaction and the transports; commits and rolls back nothing.
  ~tRepository();
  tRepository(const tRepository&) = delete;
  tRepository& operator=(const tRepository&) = delete;

  // Releases the process-wide state of the descriptor reader; called once before exit.
  static void Free();
  static unsigned long GetRequestTimeout();
  static void SetRequestTimeout(unsigned long timeout);

  tRepositoryTransport& Transport() { return *transport; }
  tRepositoryTransport& RootTransport() { return *rootTransport; }
  const std::string& LogPrefix() const { return logPrefix; }
  // From now on the repository deletes nothing: each deletion goes to
  // `sink` instead and the deleted entry is gone from what the repository
  // sees afterwards (see tDryRunTransport). Only the working transport is
  // covered, which every deletion and rotation works through. A second call
  // changes nothing.
  void BeginDryRun(std::function<void(const std::string&)> sink);

  // Transaction.
  void BeginTransaction();
  void CommitTransaction();
  void RollbackTransaction();
  bool IsTransactionStarted();
  // Records every path of `files` (the part after `base` when it begins with it).
  void AddFilesToTransaction(const std::string& base, const std::vector<std::string>& files);
  // Records `dirs` as created directories, in the given order (rollback
  // removes them in that order, after the files).
  void AddDirsToTransaction(const std::vector<std::string>& dirs);

  // Directories and files (paths relative to the repository root).
  void CreateDir(const std::string& dir);  // recorded in the transaction
  void DeleteDir(const std::string& dir);  // not recorded
  void ReceiveDir(const std::string& dir);
  void Put(const std::string& localFile, const std::string& path);
  void Get(const std::string& path, const std::string& localFile);
  std::string GetInfo(const std::string& path);
  void PutInfo(const std::string& path, const std::string& content);

  // Sidecar items and the repository index.
  void SetDiscoveredItem(const std::string& dir, const std::string& dumpName, const std::string& item,
                         const std::string& value);
  void SetDiscoveredItem(const std::string& infoXmlPath, const std::string& item, const std::string& value);
  std::vector<std::string> GetDiscoveredItems(const std::string& dir, const std::string& dumpName,
                                              const std::string& item);
  std::vector<std::string> GetDiscoveredItems(const std::string& infoXmlPath, const std::string& item);
  void CreateDiscovered(const std::string& dir, const std::string& dumpName, int64_t size,
                        const std::string& owner, const std::string& ownerType, const std::string& guid,
                        const std::string& objectId);
  void CreateRepositoryIndex(const std::string& item);

  // Catalogue.
  // `statuses`, when given, receives the values of the sidecar's status
  // items, taken from the same listing.
  BackupInfoUtil GetInitialBackupInfo(const std::string& sidecarDir, std::vector<std::string>* statuses = nullptr);
  void BackupsList(const std::string& type, const std::string& guid, const std::string& objectName,
                   BackupInfoList& list, bool brief);
  int64_t GetDiskUsage(const std::string& type, const std::string& guid, const std::string& ownerGuid);
  BackupInfo GetBackupInfo(const std::string& infoXmlPath, bool skipSignCheck);
  // The size is that of all parts of `file` in `listing` (of `file` alone
  // when the listing is empty); `partSizes`, when given, holds those sums by
  // base name already, for a listing of many dumps.
  BackupInfo GetBackupInfoFromFile(const FileInfo& file, bool validate, const std::vector<FileInfo>& listing,
                                   const std::map<std::string, int64_t>* partSizes = nullptr);
  void PackedBackupsList(const std::string& dir, const std::string& mask, BackupInfoList& list);
  BackupInfo GetPackedBackupInfo(const std::string& path);

  // Validation.
  // `recordedStatuses`, when given, stands for the dump's status items as
  // just listed, so that the sidecar is not listed a second time.
  ValidationResults ValidateBackup(const std::string& infoXmlPath, bool skipSignCheck,
                                   const std::vector<std::string>* recordedStatuses = nullptr);
  ValidationResults ValidateBackup(const std::string& infoXmlPath, std::vector<std::string>& badContentDirs,
                                   bool skipSignCheck, const std::vector<std::string>* recordedStatuses = nullptr);
  ValidationResults ValidatePackedBackup(const std::string& path);

  // Check. Walks the whole tree once, reading only, and returns its problems
  // in walk order (directories in listing order, depth first):
  //   "descriptor-without-sidecar"  a descriptor without its sidecar directory
  //   "sidecar-without-descriptor"  a sidecar directory without its descriptor
  //   "descriptor-unreadable"       a descriptor that cannot be read or parsed
  //   "descriptor-invalid"          a descriptor that fails the schema
  //   "content-missing"             content files missing or empty (`files`)
  //   "index-entry-without-directory"  an index item naming no object directory
  //   "dump-directory-not-indexed"  an object directory with dumps whose id no index item names
  //   "import-leftover"             anything in the imports' staging area (journals, staging trees)
  //   "join-leftover"               a join's temporary file
  // Validation here ignores and records no verdict, and skips signatures.
  std::vector<RepositoryProblem> CheckRepository();

  // Export.
  void ExportToRepo(const std::string& infoPath, tRepository& destination, const std::string& dir,
                    const std::string& fileName, const std::string& extension, CompressionLevel level,
                    long long splitSize, std::vector<std::string>* outFiles, std::vector<long long>* outSizes);
  void PackFromRepo(tRepository& source, const std::string& workPath, const std::vector<std::string>* files,
                    const std::map<std::string, std::string>& additionalFiles, const std::string& dir,
                    const std::string& fileName, const std::string& extension, CompressionLevel level,
                    long long splitSize, std::vector<std::string>* outFiles, std::vector<long long>* outSizes);
  void PackedExport(const std::string& fileSpec, const std::string& destinationUrl, const std::string& password,
                    bool passive);
  void PackedExportToRepo(const std::string& fileSpec, tRepository& destination,
                          const std::string& destinationPath);

  // Import.
  DumpImportResult ImportFromRepo(tRepository& source, const std::string& fileSpec,
                                  const std::string& objectType, const std::string& objectGuid);
  void UnpackToRepo(const std::vector<std::string>& parts, tRepository& target, const std::string& dir,
                    std::vector<std::string>* outFiles, const std::vector<std::string>& includes,
                    const std::vector<std::string>& excludes);
  void UnpackToRepo(const std::string& fileSpec, tRepository& target, const std::string& dir,
                    std::vector<std::string>* outFiles);
  void Unpack(const std::string& fileSpec, const std::string& destination, std::vector<std::string>* outFiles);
  void CreateRepositoryIndexFromImported(const std::vector<std::string>& files);

  // Deletion.
  void DeleteBackup(const std::string& infoPath);
  // What deleting one structured dump removes, found before anything is
  // deleted. `entries` are relative to `dumpDir`.
  struct PlannedDeletion {
    std::string infoPath, label, prefix, dumpDir;
    bool partOfAnother = false;
    std::vector<std::string> entries;
  };
  // The deletions of several dumps, each what DeleteBackup would remove, with
  // one walk of the tree per directory instead of one per dump. Name errors
  // raise before anything is deleted.
  std::vector<PlannedDeletion> PlanBackupDeletions(const std::vector<std::string>& infoPaths);
  // Removes what `plan` found; entries already gone are no error.
  void DeletePlannedBackup(const PlannedDeletion& plan);
  void DeletePackedBackup(const std::string& fileSpec);

  // Rotation.
  void RotateFileBackup(const std::string& ownerGuid, const std::string& fileSpec, int count);
  void RotateStructuredBackup(const std::string& ownerGuid, const std::string& infoPath, int count);

 private:
  tRepositoryTransport* transport;      // owned; the chroot one or rootTransport itself
  tRepositoryTransport* rootTransport;  // owned
  tFilesTransaction* transaction;       // owned
  std::unique_ptr<tRepositoryTransport> dryRun;  // in front of realTransport once BeginDryRun was called
  tRepositoryTransport* realTransport = nullptr;
  std::string logPrefix;
  bool recordVerdicts = true;  // false while a check validates
  static unsigned long s_requestTimeout;
};

// Factories; the caller owns and deletes the result.
tRepository* GetRepository(const std::string& url, const std::string& password, bool passive, bool useSubDir);
tRepository* GetLocalRepository(bool useSubDir);

// Reads the description text of a descriptor.
void ReadPropsFromXml(tRepositoryTransport& transport, const std::string& infoXmlPath, std::string& description);

}  // namespace ovrin
