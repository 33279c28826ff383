// A transport that deletes nothing: it stands in front of a real one for the
// dry run of a deleting command. Every deletion is handed to a sink and
// remembered, and from then on the deleted entry (and everything below a
// deleted directory) is gone from what this transport reports, so a command
// that plans its later deletions from what its earlier ones left sees what it
// would see in a real run.
//
// Edge behaviour: deleting a name that does not exist (or is already gone)
// reports nothing, as a real deletion of it changes nothing. A directory is
// reported once and stands for everything in it. Every operation that would
// write raises TransportException (status 0); reads of gone entries behave
// as for missing ones (IsExist/IsDirExist false, listings without them,
// ListDir of a gone directory raises status 1).
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "transport/transport.h"

namespace ovrin {

class tDryRunTransport : public tRepositoryTransport {
 public:
  typedef std::function<void(const std::string&)> Sink;

  // `inner` must outlive this transport; `sink` receives each deleted name,
  // without leading '/', in the order of the deletions.
  tDryRunTransport(tRepositoryTransport& inner, Sink sink);
  ~tDryRunTransport() override;

  // True when `name` or one of its parent directories was deleted here.
  bool IsGone(const std::string& name) const;

  void Init(const std::string& login, const std::string& password, bool passive,
            unsigned long timeout) override;
  irepostream* GetFile(const std::string& name) override;
  orepostream* PutFile(const std::string& name) override;
  void PutFile(std::istream& in, const std::string& name) override;
  void Copy(const std::string& src, tRepositoryTransport& dst, const std::string& dstName) override;
  void Delete(const std::string& name) override;
  void Move(const std::string& src, tRepositoryTransport& dst, const std::string& dstName) override;
  void CreateDir(const std::string& name) override;
  void DeleteDir(const std::string& name) override;
  void ListDir(const std::string& dir, std::vector<std::string>& names) override;
  void ListDirEx(const std::string& dir, std::vector<FileInfo>& infos) override;
  void ListDirKinds(const std::string& dir, std::vector<DirEntry>& entries) override;
  bool IsExist(const std::string& name) override;
  bool IsDirExist(const std::string& name) override;
  const std::string& GetReceivingDir() override;
  void ReceiveDir(const std::string& dir) override;
  time_t GetCreationDate(const std::string& name) override;
  std::string GetLocalFile(const std::string& name) override;
  std::string GetLocalDirFiles(const std::string& name, const std::vector<std::string>* files) override;
  tavrepo_int64_t GetFileSize(const std::string& name) override;
  bool GetLocalPath(const std::string& name, std::string& path) override;
  bool PlaceFile(const std::string& localPath, const std::string& name) override;
  void PutLocalFile(const std::string& localPath, const std::string& name) override;
  bool DownloadInto(const std::string& name, int fd) override;
  void DeleteEmptyDir(const std::string& name) override;
  std::unique_ptr<tStorageLock> LockWriters() override;

 private:
  void Record(const std::string& name);
  void RefuseWrite(const std::string& name) const;
  void RefuseGone(const std::string& name) const;

  tRepositoryTransport& inner;
  Sink sink;
  std::set<std::string> gone;  // normalised names
};

}  // namespace ovrin
