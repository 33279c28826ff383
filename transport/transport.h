// One small file-system vocabulary over a repository root: a local directory,
// a directory on an FTP server, or a sub-tree of either. Every name given to
// an operation is relative to the root (leading '/' and '\\' are ignored).
//
// Failures: an operation lets escape only the kinds its comment names
// (StreamError, TransportException); every other failure is wrapped into a
// TransportException by the implementation.
#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "errors/error_model.h"
#include "errors/loggable_exceptions.h"
#include "repository/backup_records.h"
#include "transport/storage_lock.h"

namespace ovrin {

typedef int64_t tavrepo_int64_t;

// What a listing told of an entry's kind; Unknown when it did not say (a
// link, say), so that only a direct check can tell.
enum class EntryKind { Unknown, File, Dir };

// One entry of an extended listing.
struct FileInfo : public CreationDateMixin {
  std::string name;           // the entry's own name
  std::string path;           // listed directory joined with name by one '/'
  tavrepo_int64_t size = 0;   // bytes; 0 for directories and unknown sizes
  EntryKind kind = EntryKind::Unknown;
};

// One entry of a plain listing, with the kind the listing itself told.
struct DirEntry {
  std::string name;
  EntryKind kind = EntryKind::Unknown;
};

// A stream handed out by a transport, already open. The caller reads it,
// calls close() and deletes it; deleting only releases the local file.
class irepostream : public std::ifstream {
 public:
  ~irepostream() override = default;
  virtual void close() = 0;
  virtual void open() = 0;  // a file that cannot be opened sets failbit, never throws
  virtual bool is_open() = 0;
};

// Written data is stored by close(); deleting the stream without close()
// stores nothing on a remote storage.
class orepostream : public std::ofstream {
 public:
  ~orepostream() override = default;
  virtual void close() = 0;
  virtual void open() = 0;
  virtual bool is_open() = 0;
};

class tRepositoryTransport {
 public:
  static const char* StreamError(bool codeName);          // "Stream error: %1%"
  static const char* PathIsAbsoluteError(bool codeName);  // "Path is absolute: %1%"

  // Makes the transport for `url`: "ftp://..." or "ftps://..." an FTP transport, "local:PATH"
  // or anything else a local one. The caller owns the result. Nothing is
  // connected before Init. Raises std::out_of_range for an empty url.
  static tRepositoryTransport* Get(const std::string& url);
  // Wraps `transport` in a chroot transport confined to `root`. The caller
  // owns both; `transport` must outlive the result.
  static tRepositoryTransport* Chroot(tRepositoryTransport* transport, const std::string& root);

  virtual ~tRepositoryTransport();

  // Called exactly once, before any operation.
  virtual void Init(const std::string& login, const std::string& password, bool passive,
                    unsigned long timeout) = 0;
  // An open input stream; a missing file gives a stream with failbit set (local)
  // or a TransportException (FTP). Caller owns the stream.
  virtual irepostream* GetFile(const std::string& name) = 0;
  // An open output stream; parent directories are created as needed. Caller owns it.
  virtual orepostream* PutFile(const std::string& name) = 0;
  // Stores the whole of `in` under `name`; failures as StreamError "name:\n<text>".
  virtual void PutFile(std::istream& in, const std::string& name);
  virtual void Copy(const std::string& src, tRepositoryTransport& dst, const std::string& dstName);
  // Behaves like `rm -f`: a missing name is not an error.
  virtual void Delete(const std::string& name) = 0;
  virtual void Move(const std::string& src, tRepositoryTransport& dst, const std::string& dstName);
  // Creates one directory; an existing directory is fine, a missing parent is not.
  virtual void CreateDir(const std::string& name) = 0;
  // Removes a directory (local: recursively; a symbolic link itself, never its
  // target). A missing directory is not an error.
  virtual void DeleteDir(const std::string& name) = 0;
  // Appends the entry names of `dir`; a missing dir raises status 1.
  virtual void ListDir(const std::string& dir, std::vector<std::string>& names) = 0;
  virtual void ListDirEx(const std::string& dir, std::vector<FileInfo>& infos) = 0;
  // As ListDir, with each entry's kind where the listing tells it without a
  // look at the entry (Unknown otherwise, and always for links). This
  // default gives ListDir's names, all of them Unknown.
  virtual void ListDirKinds(const std::string& dir, std::vector<DirEntry>& entries);
  // True when a non-directory entry of that name exists.
  virtual bool IsExist(const std::string& name) = 0;
  virtual bool IsDirExist(const std::string& name) = 0;
  // A local directory whose sub-trees ReceiveDir takes into the repository.
  virtual const std::string& GetReceivingDir() = 0;
  virtual void ReceiveDir(const std::string& dir) = 0;
  virtual time_t GetCreationDate(const std::string& name) = 0;
  // A local path at which the file's content can be read (status 1 when missing).
  virtual std::string GetLocalFile(const std::string& name) = 0;
  // A local path holding the file, or the directory with (a selection of) its entries.
  virtual std::string GetLocalDirFiles(const std::string& name, const std::vector<std::string>* files) = 0;
  // Size in bytes; the local transport gives 0 for an unreadable size.
  virtual tavrepo_int64_t GetFileSize(const std::string& name) = 0;
  virtual const std::string& GetUrl() const { return url; }

  // Capabilities that not every storage has; each states its answer where
  // the storage lacks it, so no caller needs to know the storage's kind.

  // True, with `path` set, when `name` is a path of this host's file system
  // (a local directory storage); false, `path` untouched, for a remote one.
  virtual bool GetLocalPath(const std::string& name, std::string& path);
  // Moves the local file `localPath` into the storage as `name`, whose parent
  // must exist. Never replaces an entry: false, with nothing changed, when one
  // of that name exists. The local file is gone once this returns true.
  // This default checks and then stores with PutLocalFile, which a storage
  // without a way to refuse replacement cannot do atomically.
  virtual bool PlaceFile(const std::string& localPath, const std::string& name);
  // Stores the local file `localPath` as `name`; failures as PutFile(in, name).
  // This default copies it through PutFile(in, name); a remote storage sends
  // it as it is.
  virtual void PutLocalFile(const std::string& localPath, const std::string& name);
  // Appends the content of `name` to the open local descriptor `fd`. False,
  // with errno set, when writing to `fd` failed; a file that cannot be read
  // raises (InputStreamException for a local one). This default reads it
  // through GetFile; a remote storage writes what it receives straight in.
  virtual bool DownloadInto(const std::string& name, int fd);
  // Removes the directory `name` only when it is empty; a missing directory
  // is fine, a non-empty one is left and raises TransportException. This
  // default is DeleteDir, which must then refuse non-empty directories.
  virtual void DeleteEmptyDir(const std::string& name);
  // Waits until no other process of this host writes to this storage and
  // holds that turn until the result is destroyed (or the process dies).
  // This default locks a file in the temporary directory named after the
  // storage's URL, so it orders the writers of one host only.
  virtual std::unique_ptr<tStorageLock> LockWriters();

  // url + "/" + name without its leading '\\' and '/' characters.
  std::string GetFullPath(const std::string& name) const;
  // Calls CreateDir for every directory above `name`, top-most first.
  void CreateParentDirs(const std::string& name);

 protected:
  explicit tRepositoryTransport(const std::string& url) : url(url) {}
  std::string url;
};

// --- Storage URLs -----------------------------------------------------------

// The login of "ftp://login@host/path" or "ftps://..." (text before the last '@'), "" when none.
std::string GetUrlLogin(const std::string& url);
// The URL without its login; "" when the URL ends with '@'.
std::string GetUrlPlace(const std::string& url);
// Splits a URL or path into its directory part (ending with '/') and last component.
void DecomposeUrl(const std::string& url, std::string& base, std::string& name);
// DecomposeUrl over several URLs that must share one base (else UrleDecomposingError).
void DecomposeUrls(const std::vector<std::string>& urls, std::string& base, std::vector<std::string>& names);
// `url` with one trailing '/' or '\\' removed; std::out_of_range for "".
std::string NormalizeRepoUrl(const std::string& url);

// Maps the libcurl code of a CurlException to a TransportException status.
int GetTransportStatus(const CurlException& e);

}  // namespace ovrin
