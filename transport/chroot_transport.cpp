#include "transport/chroot_transport.h"

#include "util/strings.h"

namespace ovrin {

tRepositoryTransportChroot::tRepositoryTransportChroot(tRepositoryTransport* inner, const std::string& root)
    : tRepositoryTransport(JoinPath(inner->GetUrl(), root)), inner(inner), root(root) {}

tRepositoryTransportChroot::~tRepositoryTransportChroot() = default;

std::string tRepositoryTransportChroot::GetRealPath(const std::string& name) const { return JoinPath(root, name); }

std::string tRepositoryTransportChroot::GetRootedPath(const std::string& path) const {
  return JoinPath(path, root);
}

void tRepositoryTransportChroot::Init(const std::string& login, const std::string& password, bool passive,
                                      unsigned long timeout) {
  inner->Init(login, password, passive, timeout);
}

irepostream* tRepositoryTransportChroot::GetFile(const std::string& name) {
  return inner->GetFile(GetRealPath(name));
}

orepostream* tRepositoryTransportChroot::PutFile(const std::string& name) {
  return inner->PutFile(GetRealPath(name));
}

void tRepositoryTransportChroot::PutFile(std::istream& in, const std::string& name) {
  inner->PutFile(in, GetRealPath(name));
}

void tRepositoryTransportChroot::Copy(const std::string& src, tRepositoryTransport& dst,
                                      const std::string& dstName) {
  inner->Copy(GetRealPath(src), dst, dstName);
}

void tRepositoryTransportChroot::Delete(const std::string& name) { inner->Delete(GetRealPath(name)); }

void tRepositoryTransportChroot::Move(const std::string& src, tRepositoryTransport& dst,
                                      const std::string& dstName) {
  inner->Move(GetRealPath(src), dst, dstName);
}

void tRepositoryTransportChroot::CreateDir(const std::string& name) { inner->CreateDir(GetRealPath(name)); }

void tRepositoryTransportChroot::DeleteDir(const std::string& name) { inner->DeleteDir(GetRealPath(name)); }

void tRepositoryTransportChroot::ListDir(const std::string& dir, std::vector<std::string>& names) {
  inner->ListDir(GetRealPath(dir), names);
}

void tRepositoryTransportChroot::ListDirKinds(const std::string& dir, std::vector<DirEntry>& entries) {
  inner->ListDirKinds(GetRealPath(dir), entries);
}

void tRepositoryTransportChroot::ListDirEx(const std::string& dir, std::vector<FileInfo>& infos) {
  inner->ListDirEx(GetRealPath(dir), infos);
}

bool tRepositoryTransportChroot::IsExist(const std::string& name) { return inner->IsExist(GetRealPath(name)); }

bool tRepositoryTransportChroot::IsDirExist(const std::string& name) {
  return inner->IsDirExist(GetRealPath(name));
}

const std::string& tRepositoryTransportChroot::GetReceivingDir() {
  if (!receivingDir) receivingDir.reset(new std::string(GetRootedPath(inner->GetReceivingDir())));
  return *receivingDir;
}

void tRepositoryTransportChroot::ReceiveDir(const std::string& dir) { inner->ReceiveDir(GetRealPath(dir)); }

time_t tRepositoryTransportChroot::GetCreationDate(const std::string& name) {
  return inner->GetCreationDate(GetRealPath(name));
}

std::string tRepositoryTransportChroot::GetLocalFile(const std::string& name) {
  return inner->GetLocalFile(GetRealPath(name));
}

std::string tRepositoryTransportChroot::GetLocalDirFiles(const std::string& name,
                                                         const std::vector<std::string>* files) {
  return inner->GetLocalDirFiles(GetRealPath(name), files);
}

tavrepo_int64_t tRepositoryTransportChroot::GetFileSize(const std::string& name) {
  return inner->GetFileSize(GetRealPath(name));
}

bool tRepositoryTransportChroot::GetLocalPath(const std::string& name, std::string& path) {
  return inner->GetLocalPath(GetRealPath(name), path);
}

bool tRepositoryTransportChroot::PlaceFile(const std::string& localPath, const std::string& name) {
  return inner->PlaceFile(localPath, GetRealPath(name));
}

void tRepositoryTransportChroot::PutLocalFile(const std::string& localPath, const std::string& name) {
  inner->PutLocalFile(localPath, GetRealPath(name));
}

bool tRepositoryTransportChroot::DownloadInto(const std::string& name, int fd) {
  return inner->DownloadInto(GetRealPath(name), fd);
}

void tRepositoryTransportChroot::DeleteEmptyDir(const std::string& name) {
  inner->DeleteEmptyDir(GetRealPath(name));
}

std::unique_ptr<tStorageLock> tRepositoryTransportChroot::LockWriters() { return inner->LockWriters(); }

}  // namespace ovrin
