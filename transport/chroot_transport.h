// A transport confined to one sub-directory of another transport.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "transport/transport.h"

namespace ovrin {

// Every name is taken relative to `root` inside the inner transport; results
// and failures of the inner transport pass through unchanged (listings keep
// the inner transport's paths, which begin with `root`). Made only by
// tRepositoryTransport::Chroot.
class tRepositoryTransportChroot : public tRepositoryTransport {
 public:
  // Leaves the inner transport alone; it stays usable.
  ~tRepositoryTransportChroot() override;

  // `root` joined with `name`: the name inside the inner transport.
  std::string GetRealPath(const std::string& name) const;
  // `path` joined with `root`: where the inner transport keeps the confined root.
  std::string GetRootedPath(const std::string& path) const;

  void Init(const std::string& login, const std::string& password, bool passive,
            unsigned long timeout) override;
  irepostream* GetFile(const std::string& name) override;
  orepostream* PutFile(const std::string& name) override;
  void PutFile(std::istream& in, const std::string& name) override;
  // Only the source is confined; the destination is named through `dst` itself.
  void Copy(const std::string& src, tRepositoryTransport& dst, const std::string& dstName) override;
  void Delete(const std::string& name) override;
  // Only the source is confined; the destination is named through `dst` itself.
  void Move(const std::string& src, tRepositoryTransport& dst, const std::string& dstName) override;
  void CreateDir(const std::string& name) override;
  void DeleteDir(const std::string& name) override;
  void ListDir(const std::string& dir, std::vector<std::string>& names) override;
  void ListDirEx(const std::string& dir, std::vector<FileInfo>& infos) override;
  void ListDirKinds(const std::string& dir, std::vector<DirEntry>& entries) override;
  bool IsExist(const std::string& name) override;
  bool IsDirExist(const std::string& name) override;
  // The inner receiving directory joined with `root`; computed once.
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
  // The inner storage's lock: a sub-tree shares its storage's writers.
  std::unique_ptr<tStorageLock> LockWriters() override;

 private:
  friend class tRepositoryTransport;
  tRepositoryTransportChroot(tRepositoryTransport* inner, const std::string& root);

  tRepositoryTransport* inner;  // not owned
  std::string root;
  std::unique_ptr<std::string> receivingDir;  // null until first asked for
};

}  // namespace ovrin
