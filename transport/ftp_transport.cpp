#include "transport/ftp_transport.h"

#include <algorithm>
#include <cstdio>

#include <boost/filesystem.hpp>

#include "log/debug_log.h"
#include "transport/failure_wrap.h"
#include "util/strings.h"
#include "util/temp_files.h"

namespace fs = boost::filesystem;

namespace ovrin {

namespace {

// Runs one server operation and reports every failure as a TransportException
// starting with `prefix`: libcurl failures with the status of their code,
// anything else with status 0. Transport errors of nested operations pass as they are.
template <class Body>
auto FtpOperation(const std::string& prefix, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const TransportException&) {
    throw;
  } catch (const CurlException& e) {
    LogMsg(e);
    throw OVRIN_EXCEPTION(TransportException, prefix + e.what(), GetTransportStatus(e));
  } catch (...) {
    throw OVRIN_EXCEPTION(TransportException, prefix + LogCurrentFailure(), 0);
  }
}

void RemoveQuietly(const std::string& path) {
  if (path.empty()) return;
  boost::system::error_code ec;
  fs::remove(path, ec);
  if (ec) LogMsg("Unable to delete file '" + path + "': " + ec.message());
}

// An entry name from a server listing is used as a local path component only
// when it cannot leave the directory it was listed in.
bool IsPlainEntry(const std::string& entry) {
  return !entry.empty() && entry != "." && entry != ".." && entry.find('/') == std::string::npos &&
         entry.find('\\') == std::string::npos;
}

bool LeavesTree(const std::string& rel) {
  std::vector<std::string> parts;
  Split(rel, parts, "/");
  return std::find(parts.begin(), parts.end(), "..") != parts.end();
}

}  // namespace

// --- Streams ------------------------------------------------------------------

tFtpInStream::tFtpInStream(tFtpConnection* connection, std::string url, std::string login, std::string password)
    : url(std::move(url)), login(std::move(login)), password(std::move(password)), connection(connection) {}

tFtpInStream::~tFtpInStream() {
  if (rdbuf()->is_open()) rdbuf()->close();
  RemoveQuietly(tempFile);
}

void tFtpInStream::close() {
  if (!rdbuf()->close()) setstate(std::ios_base::failbit);
  RemoveQuietly(tempFile);
  tempFile.clear();
}

void tFtpInStream::open() {
  const std::string path = GetTempFilePath();
  try {
    connection->Init(url, login, password);
    connection->DownloadFile(path);
  } catch (...) {
    RemoveQuietly(path);
    throw;
  }
  if (rdbuf()->open(path, std::ios_base::in | std::ios_base::binary)) {
    clear();
    tempFile = path;
  } else {
    RemoveQuietly(path);
    setstate(std::ios_base::failbit);
  }
}

bool tFtpInStream::is_open() { return rdbuf()->is_open(); }

tFtpOutStream::tFtpOutStream(tFtpConnection* connection, std::string url, std::string login, std::string password)
    : url(std::move(url)), login(std::move(login)), password(std::move(password)), connection(connection) {}

tFtpOutStream::~tFtpOutStream() {
  if (rdbuf()->is_open()) rdbuf()->close();
  RemoveTempFile();
}

void tFtpOutStream::RemoveTempFile() {
  RemoveQuietly(tempFile);
  tempFile.clear();
}

void tFtpOutStream::close() {
  // Data that did not all reach the local file must not be stored as if complete.
  const bool writeFailed = fail() || bad();
  if (!rdbuf()->close()) setstate(std::ios_base::failbit);
  if (tempFile.empty()) return;
  if (writeFailed || fail()) {
    setstate(std::ios_base::failbit);
    RemoveTempFile();
    return;
  }
  try {
    FtpOperation("unable to write file " + url + ": ", [&] {
      connection->Init(url, login, password);
      connection->UploadFile(tempFile);
    });
  } catch (...) {
    setstate(std::ios_base::failbit);
    RemoveTempFile();
    throw;
  }
  RemoveTempFile();
}

void tFtpOutStream::open() {
  const std::string path = GetTempFilePath();
  if (rdbuf()->open(path, std::ios_base::out | std::ios_base::trunc | std::ios_base::binary)) {
    clear();
    tempFile = path;
  } else {
    RemoveQuietly(path);
    setstate(std::ios_base::failbit);
  }
}

bool tFtpOutStream::is_open() { return rdbuf()->is_open(); }

// --- Transport ----------------------------------------------------------------

tRepositoryFtp::tRepositoryFtp(const std::string& url) : tRepositoryTransport(NormalizeRepoUrl(url)) {}

tRepositoryFtp::~tRepositoryFtp() {
  try {
    connection.reset();
  } catch (...) {
    LogError("Transport: Unexpected error at deleting FTP connection");
  }
  if (!receivingDir) return;
  const std::string& path = *receivingDir;
  try {
    boost::system::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) {
      fs::remove_all(path, ec);
      if (ec) {
        LogError("Unexpected error at deleting directory '" + path + "'");
        LogError(ec.message());
      }
    }
  } catch (const std::exception& e) {
    LogError("Unexpected error at deleting directory '" + path + "'");
    LogError(e.what());
  } catch (...) {
    LogError("Unexpected error at deleting directory '" + path + "'");
  }
}

void tRepositoryFtp::Init(const std::string& login, const std::string& password, bool passive,
                          unsigned long timeout) {
  LogMsg("Transport: Init credentials for user '" + login + "'");
  tFtpConnection::Prepare();
  connection.reset(new tFtpConnection(passive, timeout));
  this->login = login;
  this->password = password;
}

tFtpConnection& tRepositoryFtp::Connection() {
  if (!connection) throw OVRIN_EXCEPTION(TransportException, "FTP transport used before Init: " + url, 0);
  return *connection;
}

void tRepositoryFtp::Connect(const std::string& name) { Connection().Init(GetFullPath(name), login, password); }

irepostream* tRepositoryFtp::GetFile(const std::string& name) {
  LogMsg("Transport: Get file " + name);
  return FtpOperation("unable to read file " + name + ": ", [&]() -> irepostream* {
    const std::string full = GetFullPath(name);
    tFtpConnection::CheckUrl(full);
    std::unique_ptr<tFtpInStream> stream(new tFtpInStream(&Connection(), full, login, password));
    stream->open();
    return stream.release();
  });
}

orepostream* tRepositoryFtp::PutFile(const std::string& name) {
  LogMsg("Transport: Put file " + name);
  return FtpOperation("unable to write file " + name + ": ", [&]() -> orepostream* {
    const std::string full = GetFullPath(name);
    // Refused here rather than at close(), after the caller has written everything.
    tFtpConnection::CheckUrl(full);
    tFtpConnection::GetShortFileName(full);
    std::unique_ptr<tFtpOutStream> stream(new tFtpOutStream(&Connection(), full, login, password));
    stream->open();
    return stream.release();
  });
}

bool tRepositoryFtp::DownloadInto(const std::string& name, int fd) {
  LogMsg("Transport: Get file " + name);
  return FtpOperation("unable to read file " + name + ": ", [&] {
    const std::string full = GetFullPath(name);
    tFtpConnection::CheckUrl(full);
    Connect(name);
    return Connection().DownloadInto(fd);
  });
}

void tRepositoryFtp::PutLocalFile(const std::string& localPath, const std::string& name) {
  LogMsg("Transport: Put local file " + localPath + " to " + name);
  FtpOperation("unable to put local file " + localPath + " to " + name + ": ", [&] {
    Connect(name);
    Connection().UploadFile(localPath);
  });
}

void tRepositoryFtp::Delete(const std::string& name) {
  LogMsg("Transport: Delete file " + name);
  FtpOperation("unable to delete directory: ", [&] {
    Connect(name);
    try {
      Connection().DeleteFile_();
    } catch (const CurlException& e) {
      // The server refused the DELE; a name that is not there is what was asked for.
      if (e.status != CURLE_QUOTE_ERROR || IsExist(name) || IsDirExist(name)) throw;
      LogMsg("Transport: No file " + name + " to delete");
    }
  });
}

void tRepositoryFtp::CreateDir(const std::string& name) {
  LogMsg("Transport: Create dir " + name);
  FtpOperation("unable to create directory: ", [&] {
    Connect(name);
    try {
      Connection().CreateDir();
    } catch (const CurlException& e) {
      if (e.status != CURLE_QUOTE_ERROR || !IsDirExist(name)) throw;
      LogMsg("Transport: Dir " + name + " exists already");
    }
  });
}

void tRepositoryFtp::DeleteDir(const std::string& name) {
  LogMsg("Transport: Delete dir " + name);
  FtpOperation("unable to delete directory: ", [&] {
    Connect(name);
    try {
      Connection().DeleteDir();
    } catch (const CurlException& e) {
      if ((e.status != CURLE_QUOTE_ERROR && e.status != CURLE_REMOTE_ACCESS_DENIED) || IsDirExist(name)) throw;
      LogMsg("Transport: No dir " + name + " to delete");
    }
  });
}

void tRepositoryFtp::ListDir(const std::string& dir, std::vector<std::string>& names) {
  LogMsg("Transport: List dir " + dir);
  std::vector<std::string> listed;
  FtpOperation("unable to list directory: ", [&] {
    Connect(dir);
    Connection().List(listed);
  });
  // Some servers name the directory itself and its parent as well; walking
  // into those would never end.
  for (const std::string& name : listed) {
    if (name != "." && name != "..") names.push_back(name);
  }
}

void tRepositoryFtp::ListDirEx(const std::string& dir, std::vector<FileInfo>& infos) {
  LogMsg("Transport: List extended dir " + dir);
  std::vector<FtpFileInfo> records;
  FtpOperation("unable to list directory: ", [&] {
    Connect(dir);
    Connection().ListEx(records);
  });
  for (const FtpFileInfo& record : records) {
    if (!IsPlainEntry(record.name)) {
      LogMsg("Unable to get full name for file name '" + record.name + "'. Skip.");
      LogMsg("Error was: not a plain entry name");
      continue;
    }
    FileInfo info;
    info.SetDateTime(record);
    info.name = record.name;
    info.size = record.size;
    info.kind = record.kind;
    const std::string base = TrimTrailingSlashes(dir);
    info.path = base.empty() ? record.name : base + "/" + record.name;
    infos.push_back(info);
  }
}

bool tRepositoryFtp::IsExist(const std::string& name) {
  LogMsg("Transport: Check exist file " + name);
  return FtpOperation("unable to check file existence: ", [&] {
    const std::string trimmed = TrimTrailingSlashes(name);
    const size_t slash = trimmed.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : trimmed.substr(0, slash + 1);
    const std::string shortName = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    // A server refuses to list a directory that is not there, which tells
    // nothing more than that the file is not there either.
    if (!parent.empty() && !IsDirExist(parent)) return false;
    std::vector<std::string> names;
    ListDir(parent, names);
    if (std::find(names.begin(), names.end(), shortName) == names.end()) return false;
    return !IsDirExist(name);
  });
}

bool tRepositoryFtp::IsDirExist(const std::string& name) {
  LogMsg("Transport: Check exist dir " + name);
  return FtpOperation("unable to check directory existence: ", [&] {
    Connect(name);
    return Connection().IsDirExist();
  });
}

const std::string& tRepositoryFtp::GetReceivingDir() {
  if (!receivingDir) receivingDir.reset(new std::string(GetTempDirPath()));
  return *receivingDir;
}

void tRepositoryFtp::ReceiveDir(const std::string& dir) {
  if (fs::path(dir).has_root_name()) throw OVRIN_ERROR(PathIsAbsoluteError) % dir;
  FtpOperation("unable to send directory to repository: ", [&] {
    // Sent entries are removed locally, so the walk must stay inside the receiving directory.
    if (LeavesTree(dir)) {
      throw OVRIN_EXCEPTION(TransportException,
                            "unable to send directory to repository: path leaves the receiving directory: " + dir, 0);
    }
    // The directory itself and those above it may be new on the server
    // (a first dump of an object); an existing one is fine.
    std::vector<std::string> components;
    Split(dir, components, "/");
    std::string path;
    for (const std::string& component : components) {
      path = path.empty() ? component : path + "/" + component;
      CreateDir(path);
    }
    SendDirToFtp(this, GetReceivingDir(), dir);
  });
}

time_t tRepositoryFtp::GetCreationDate(const std::string&) { return 0; }

std::string tRepositoryFtp::GetLocalFile(const std::string& name) {
  return FtpOperation("Unable to download remote file '" + name + "': ", [&] {
    tFtpConnection::CheckUrl(GetFullPath(name));
    const std::string local = JoinPath(GetReceivingDir(), name);
    if (fs::exists(local)) {
      LogMsg("Local file '" + local + "' already exist");
      return local;
    }
    // Init first: a name the connection refuses leaves nothing behind locally.
    Connect(name);
    fs::create_directories(fs::path(local).parent_path());
    Connection().DownloadFile(local);
    return local;
  });
}

std::string tRepositoryFtp::GetLocalDirFiles(const std::string& name, const std::vector<std::string>* files) {
  if (IsExist(name)) return GetLocalFile(name);
  if (!IsDirExist(name)) throw OVRIN_EXCEPTION(TransportException, "File or dir '" + name + "' not found", 1);
  const std::string local = JoinPath(GetReceivingDir(), name);
  FtpOperation("unable to make local directory '" + local + "': ", [&] { fs::create_directories(local); });
  std::vector<std::string> entries;
  if (files) {
    entries = *files;
  } else {
    std::vector<std::string> listed;
    ListDir(name, listed);
    for (const std::string& entry : listed) {
      if (IsPlainEntry(entry)) {
        entries.push_back(entry);
      } else {
        LogMsg("Transport: Skip listed entry '" + entry + "' of " + name);
      }
    }
  }
  for (const std::string& entry : entries) GetLocalDirFiles(name + "/" + entry, nullptr);
  return local;
}

tavrepo_int64_t tRepositoryFtp::GetFileSize(const std::string& name) {
  LogMsg("Transport: get file size of '" + name + "'");
  throw OVRIN_EXCEPTION(TransportException, "tRepositoryFtp::GetFileSize not implemented", 0);
}

void SendDirToFtp(tRepositoryFtp* ftp, const std::string& base, const std::string& rel) {
  const std::string localDir = JoinPath(base, rel);
  std::vector<std::string> entries;
  for (fs::directory_iterator it(localDir), end; it != end; ++it) {
    entries.push_back(it->path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  for (const std::string& entry : entries) {
    const std::string remote = rel.empty() ? entry : rel + "/" + entry;
    const std::string localEntry = localDir + "/" + entry;
    // A symbolic link is sent as a file and never descended into, so removing
    // what was sent can never reach outside the receiving directory.
    if (fs::is_directory(fs::symlink_status(localEntry))) {
      ftp->CreateDir(remote);
      SendDirToFtp(ftp, base, remote);
    } else {
      ftp->PutLocalFile(localEntry, remote);
    }
    fs::remove(localEntry);
  }
}

}  // namespace ovrin
