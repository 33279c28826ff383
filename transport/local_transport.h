// The transport of a repository that is a directory of this machine.
#pragma once

#include <string>
#include <vector>

#include "transport/transport.h"

namespace ovrin {

class tRepositoryLocal : public tRepositoryTransport {
 public:
  // Stores NormalizeRepoUrl(url); std::out_of_range for "". Touches nothing.
  explicit tRepositoryLocal(const std::string& url);

  // Only logs: a local directory needs no credentials.
  void Init(const std::string& login, const std::string& password, bool passive,
            unsigned long timeout) override;
  // A missing or unreadable file gives a stream with failbit set, not an error.
  irepostream* GetFile(const std::string& name) override;
  // Creates the parent directories; an uncreatable file gives failbit set.
  orepostream* PutFile(const std::string& name) override;
  using tRepositoryTransport::PutFile;
  // Removes a file, a symbolic link (never its target) or an empty directory;
  // a missing name is fine, a non-empty directory is an error.
  void Delete(const std::string& name) override;
  // An existing directory is fine; a missing parent or a non-directory is an error.
  void CreateDir(const std::string& name) override;
  // Removes the whole tree; a symbolic link is removed itself, its target and
  // links inside the tree are never followed. A missing name is fine.
  void DeleteDir(const std::string& name) override;
  // Status 1 "Dir is not exists DIR" when missing; nothing is appended on failure.
  void ListDir(const std::string& dir, std::vector<std::string>& names) override;
  // As ListDir; an entry whose date or size cannot be read, and one that is
  // neither a regular file nor a directory, is logged and left out.
  void ListDirEx(const std::string& dir, std::vector<FileInfo>& infos) override;
  // As ListDir; the kinds come from the directory entries themselves, so no
  // entry is looked at (a link and a file system that gives no kinds: Unknown).
  void ListDirKinds(const std::string& dir, std::vector<DirEntry>& entries) override;
  // True for a regular file (or a link to one); false for directories,
  // dangling links, FIFOs, sockets and devices, which no dump consists of.
  bool IsExist(const std::string& name) override;
  bool IsDirExist(const std::string& name) override;
  // The root itself: whatever is placed there is already in the repository.
  const std::string& GetReceivingDir() override;
  // Nothing to do (see GetReceivingDir).
  void ReceiveDir(const std::string& dir) override;
  // The modification time; a missing name raises TransportException.
  time_t GetCreationDate(const std::string& name) override;
  // The full path; status 1 "File 'NAME' not found" unless a file exists.
  std::string GetLocalFile(const std::string& name) override;
  // The full path of a file or directory (`files` is ignored); status 1 when missing.
  std::string GetLocalDirFiles(const std::string& name, const std::vector<std::string>* files) override;
  // 0 (logged) when the size cannot be read, e.g. for a directory or a missing name.
  tavrepo_int64_t GetFileSize(const std::string& name) override;

  // The full path; always true.
  bool GetLocalPath(const std::string& name, std::string& path) override;
  // A rename that refuses to replace; across file systems a copy into a file
  // that must not exist yet, then the local file is removed.
  bool PlaceFile(const std::string& localPath, const std::string& name) override;
  // rmdir: a missing directory is fine, a non-empty one raises.
  void DeleteEmptyDir(const std::string& name) override;
  // Locks the root directory itself, so every path that leads to it shares
  // the lock. Raises when the root cannot be opened.
  std::unique_ptr<tStorageLock> LockWriters() override;
};

}  // namespace ovrin
