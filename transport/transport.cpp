#include "transport/transport.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iomanip>
#include <memory>
#include <sstream>

#include <curl/curl.h>

#include "errors/system_error.h"
#include "log/debug_log.h"
#include "util/strings.h"
#include "util/temp_files.h"

namespace ovrin {

namespace {

// Bytes moved per read/write while copying a stream into a transport.
const std::streamsize COPY_CHUNK = 10240;

}  // namespace

const char* tRepositoryTransport::StreamError(bool codeName) {
  return codeName ? "tRepositoryTransport::StreamError" : "Stream error: %1%";
}

const char* tRepositoryTransport::PathIsAbsoluteError(bool codeName) {
  return codeName ? "tRepositoryTransport::PathIsAbsoluteError" : "Path is absolute: %1%";
}

tRepositoryTransport::~tRepositoryTransport() = default;

std::string tRepositoryTransport::GetFullPath(const std::string& name) const {
  size_t start = name.find_first_not_of("\\/");
  return url + "/" + (start == std::string::npos ? std::string() : name.substr(start));
}

void tRepositoryTransport::ListDirKinds(const std::string& dir, std::vector<DirEntry>& entries) {
  std::vector<std::string> names;
  ListDir(dir, names);
  for (std::string& name : names) entries.push_back(DirEntry{std::move(name), EntryKind::Unknown});
}

void tRepositoryTransport::CreateParentDirs(const std::string& name) {
  std::vector<std::string> parts;
  Split(name, parts, "/");
  std::string prefix;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    prefix = JoinPath(prefix, parts[i]);
    CreateDir(prefix);
  }
}

void tRepositoryTransport::PutFile(std::istream& in, const std::string& name) {
  LogMsg("Transport: Put file to " + name);
  std::unique_ptr<orepostream> out(PutFile(name));
  try {
    char buffer[COPY_CHUNK];
    for (;;) {
      in.read(buffer, COPY_CHUNK);
      std::streamsize got = in.gcount();
      if (got > 0) out->write(buffer, got);
      // A failed write of the last chunk, or of the close that stores the
      // data, must not pass for a stored file.
      if (out->fail() || out->bad()) throw OutputStreamException();
      if (in.bad()) throw InputStreamException();
      if (in.eof()) {
        out->close();
        if (out->fail() || out->bad()) throw OutputStreamException();
        return;
      }
      if (in.fail()) throw InputStreamException();
    }
  } catch (const InputStreamException& e) {
    throw OVRIN_ERROR(StreamError) % (name + ":\n" + e.what());
  } catch (const OutputStreamException& e) {
    throw OVRIN_ERROR(StreamError) % (name + ":\n" + e.what());
  }
}

void tRepositoryTransport::Copy(const std::string& src, tRepositoryTransport& dst, const std::string& dstName) {
  LogMsg("Transport: Copy from " + src + " to " + dstName);
  std::unique_ptr<irepostream> in(GetFile(src));
  // An unreadable source must be noticed before the destination is opened:
  // opening it truncates whatever is stored under dstName.
  if (!in->is_open() || in->fail()) {
    throw OVRIN_ERROR(StreamError) % (src + ":\n" + InputStreamException().what());
  }
  try {
    dst.PutFile(*in, dstName);
  } catch (...) {
    in->close();
    throw;
  }
  in->close();
}

void tRepositoryTransport::Move(const std::string& src, tRepositoryTransport& dst, const std::string& dstName) {
  LogMsg("Transport: Move from " + src + " to " + dstName);
  Copy(src, dst, dstName);
  Delete(src);
}

bool tRepositoryTransport::GetLocalPath(const std::string&, std::string&) { return false; }

bool tRepositoryTransport::PlaceFile(const std::string& localPath, const std::string& name) {
  LogMsg("Transport: Place file " + name);
  if (IsExist(name) || IsDirExist(name)) return false;
  PutLocalFile(localPath, name);
  std::remove(localPath.c_str());
  return true;
}

void tRepositoryTransport::PutLocalFile(const std::string& localPath, const std::string& name) {
  std::ifstream in(localPath.c_str(), std::ios::binary);
  if (!in.is_open()) throw OVRIN_ERROR(StreamError) % (localPath + ":\n" + InputStreamException().what());
  PutFile(in, name);
}

bool tRepositoryTransport::DownloadInto(const std::string& name, int fd) {
  std::unique_ptr<irepostream> in(GetFile(name));
  // A file that vanished since it was listed opens as a failed stream.
  if (!in || !*in) throw InputStreamException();
  std::vector<char> buffer(128 << 10);
  for (;;) {
    in->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = in->gcount();
    for (std::streamsize done = 0; done < got;) {
      const ssize_t written = ::write(fd, buffer.data() + done, static_cast<size_t>(got - done));
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) return false;
      done += written;
    }
    if (in->bad()) throw InputStreamException();
    if (in->eof()) break;
    if (in->fail()) throw InputStreamException();
  }
  in->close();
  return true;
}

void tRepositoryTransport::DeleteEmptyDir(const std::string& name) { DeleteDir(name); }

std::unique_ptr<tStorageLock> tRepositoryTransport::LockWriters() {
  // FNV-1a of the URL: one short, stable file name per storage.
  uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : GetUrl()) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  std::ostringstream name;
  name << GetTempDirectory() << "/dumpkeep_storage_" << std::hex << std::setw(16) << std::setfill('0') << hash
       << ".lock";
  return tStorageLock::OnFile(name.str());
}

int GetTransportStatus(const CurlException& e) {
  switch (e.status) {
    case CURLE_REMOTE_ACCESS_DENIED:  // 9
    case CURLE_LOGIN_DENIED:          // 67
      return 2;
    case CURLE_FTP_USER_PASSWORD_INCORRECT:  // 10
    case CURLE_FTP_WEIRD_PASS_REPLY:         // 11
      return 3;
    case CURLE_FTP_WEIRD_USER_REPLY:  // 12
      return 4;
    case CURLE_COULDNT_RESOLVE_HOST:  // 6
    case CURLE_FTP_CANT_GET_HOST:     // 15
      return 5;
    case CURLE_COULDNT_CONNECT:     // 7
    case CURLE_FTP_CANT_RECONNECT:  // 16
      return 6;
    default:
      return 7;
  }
}

}  // namespace ovrin
