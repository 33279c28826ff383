#include "transport/dry_run_transport.h"

#include <utility>

#include "util/strings.h"

namespace ovrin {

namespace {

// The one spelling of a name: no leading or trailing separators, no empty
// components, so that "a//b/" and "/a/b" are remembered as one entry.
std::string Normalise(const std::string& name) {
  std::string out;
  std::string part;
  auto flush = [&]() {
    if (!part.empty() && part != ".") out = out.empty() ? part : out + "/" + part;
    part.clear();
  };
  for (char c : name) {
    if (c == '/' || c == '\\') {
      flush();
    } else {
      part += c;
    }
  }
  flush();
  return out;
}

// Names in listings are either bare or joined with the listed directory.
std::string ListedPath(const std::string& dir, const std::string& entry) {
  const size_t slash = entry.rfind('/');
  return JoinPath(dir, slash == std::string::npos ? entry : entry.substr(slash + 1));
}

// Moves into `out` the entries of `listed` that `gone` does not call deleted.
template <class Entry, class Gone>
void KeepUndeleted(std::vector<Entry>& listed, std::vector<Entry>& out, Gone gone) {
  for (Entry& entry : listed) {
    if (!gone(entry)) out.push_back(std::move(entry));
  }
}

}  // namespace

tDryRunTransport::tDryRunTransport(tRepositoryTransport& inner, Sink sink)
    : tRepositoryTransport(inner.GetUrl()), inner(inner), sink(std::move(sink)) {}

tDryRunTransport::~tDryRunTransport() = default;

bool tDryRunTransport::IsGone(const std::string& name) const {
  std::string path = Normalise(name);
  while (!path.empty()) {
    if (gone.count(path)) return true;
    path = PathBranch(path);
  }
  return false;
}

void tDryRunTransport::Record(const std::string& name) {
  const std::string path = Normalise(name);
  if (path.empty() || IsGone(path)) return;
  gone.insert(path);
  sink(path);
}

void tDryRunTransport::RefuseWrite(const std::string& name) const {
  throw OVRIN_EXCEPTION(TransportException, "dry run: nothing is written (" + name + ")", 0);
}

void tDryRunTransport::RefuseGone(const std::string& name) const {
  if (IsGone(name)) throw OVRIN_EXCEPTION(TransportException, "dry run: " + name + " is deleted", 1);
}

void tDryRunTransport::Init(const std::string& login, const std::string& password, bool passive,
                            unsigned long timeout) {
  inner.Init(login, password, passive, timeout);
}

irepostream* tDryRunTransport::GetFile(const std::string& name) {
  RefuseGone(name);
  return inner.GetFile(name);
}

orepostream* tDryRunTransport::PutFile(const std::string& name) {
  RefuseWrite(name);
  return nullptr;
}

void tDryRunTransport::PutFile(std::istream& /*in*/, const std::string& name) { RefuseWrite(name); }

void tDryRunTransport::Copy(const std::string& src, tRepositoryTransport& /*dst*/, const std::string& /*dstName*/) {
  RefuseWrite(src);
}

void tDryRunTransport::Delete(const std::string& name) {
  if (IsGone(name) || !(inner.IsExist(name) || inner.IsDirExist(name))) return;
  Record(name);
}

void tDryRunTransport::Move(const std::string& src, tRepositoryTransport& /*dst*/, const std::string& /*dstName*/) {
  RefuseWrite(src);
}

void tDryRunTransport::CreateDir(const std::string& name) { RefuseWrite(name); }

void tDryRunTransport::DeleteDir(const std::string& name) {
  if (IsGone(name) || !inner.IsDirExist(name)) return;
  Record(name);
}

void tDryRunTransport::ListDir(const std::string& dir, std::vector<std::string>& names) {
  RefuseGone(dir);
  std::vector<std::string> listed;
  inner.ListDir(dir, listed);
  KeepUndeleted(listed, names, [&](const std::string& entry) { return IsGone(ListedPath(dir, entry)); });
}

void tDryRunTransport::ListDirEx(const std::string& dir, std::vector<FileInfo>& infos) {
  RefuseGone(dir);
  std::vector<FileInfo> listed;
  inner.ListDirEx(dir, listed);
  KeepUndeleted(listed, infos, [&](const FileInfo& info) { return IsGone(JoinPath(dir, info.name)); });
}

void tDryRunTransport::ListDirKinds(const std::string& dir, std::vector<DirEntry>& entries) {
  RefuseGone(dir);
  std::vector<DirEntry> listed;
  inner.ListDirKinds(dir, listed);
  KeepUndeleted(listed, entries, [&](const DirEntry& entry) { return IsGone(ListedPath(dir, entry.name)); });
}

bool tDryRunTransport::IsExist(const std::string& name) { return !IsGone(name) && inner.IsExist(name); }

bool tDryRunTransport::IsDirExist(const std::string& name) { return !IsGone(name) && inner.IsDirExist(name); }

const std::string& tDryRunTransport::GetReceivingDir() { return inner.GetReceivingDir(); }

void tDryRunTransport::ReceiveDir(const std::string& dir) { RefuseWrite(dir); }

time_t tDryRunTransport::GetCreationDate(const std::string& name) {
  RefuseGone(name);
  return inner.GetCreationDate(name);
}

std::string tDryRunTransport::GetLocalFile(const std::string& name) {
  RefuseGone(name);
  return inner.GetLocalFile(name);
}

std::string tDryRunTransport::GetLocalDirFiles(const std::string& name, const std::vector<std::string>* files) {
  RefuseGone(name);
  return inner.GetLocalDirFiles(name, files);
}

tavrepo_int64_t tDryRunTransport::GetFileSize(const std::string& name) {
  RefuseGone(name);
  return inner.GetFileSize(name);
}

bool tDryRunTransport::GetLocalPath(const std::string& name, std::string& path) {
  return inner.GetLocalPath(name, path);
}

bool tDryRunTransport::PlaceFile(const std::string& /*localPath*/, const std::string& name) {
  RefuseWrite(name);
  return false;
}

void tDryRunTransport::PutLocalFile(const std::string& /*localPath*/, const std::string& name) { RefuseWrite(name); }

bool tDryRunTransport::DownloadInto(const std::string& name, int fd) {
  RefuseGone(name);
  return inner.DownloadInto(name, fd);
}

void tDryRunTransport::DeleteEmptyDir(const std::string& name) {
  if (IsGone(name) || !inner.IsDirExist(name)) return;
  std::vector<std::string> left;
  ListDir(name, left);
  if (!left.empty()) throw OVRIN_EXCEPTION(TransportException, "directory " + name + " is not empty", 0);
  Record(name);
}

std::unique_ptr<tStorageLock> tDryRunTransport::LockWriters() { return inner.LockWriters(); }

}  // namespace ovrin
