// The transport of a repository kept in a directory of an FTP server. Reading
// and writing go through local temporary files; a local receiving directory,
// made on first use, holds downloaded copies and trees waiting for upload.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "transport/ftp_connection.h"
#include "transport/transport.h"

namespace ovrin {

// Reads a remote file from a local copy that open() downloads.
class tFtpInStream : public irepostream {
 public:
  // Opens nothing. `connection` is the transport's and must outlive the stream.
  tFtpInStream(tFtpConnection* connection, std::string url, std::string login, std::string password);
  // Closes the local copy and removes it.
  ~tFtpInStream() override;
  // Closes the local copy (failbit on failure) and removes it.
  void close() override;
  // Downloads into a new temporary file and opens it; a failed download raises
  // (CurlException, tFtpConnection errors) and leaves no temporary file; a copy
  // that cannot be opened sets failbit.
  void open() override;
  bool is_open() override;

 private:
  std::string url;
  std::string login;
  std::string password;
  std::string tempFile;
  tFtpConnection* connection;
};

// Collects written data in a temporary file and stores it on the server at close().
class tFtpOutStream : public orepostream {
 public:
  // Opens nothing. `connection` is the transport's and must outlive the stream.
  tFtpOutStream(tFtpConnection* connection, std::string url, std::string login, std::string password);
  // Uploads nothing; removes the temporary file.
  ~tFtpOutStream() override;
  // Uploads the collected data, then removes the temporary file (also when the
  // upload fails). A stream that failed while writing, or whose local file
  // cannot be closed, uploads nothing and gets failbit. A failed upload raises
  // TransportException with the status of the libcurl code.
  void close() override;
  // Creates (truncates) a new temporary file; failure sets failbit.
  void open() override;
  bool is_open() override;

 private:
  void RemoveTempFile();

  std::string url;
  std::string login;
  std::string password;
  std::string tempFile;
  tFtpConnection* connection;
};

class tRepositoryFtp : public tRepositoryTransport {
 public:
  // Stores NormalizeRepoUrl(url) ("ftp://host/path" or "ftps://host/path", no
  // credentials); std::out_of_range for "".
  explicit tRepositoryFtp(const std::string& url);
  // Deletes the connection and removes the receiving directory; never raises.
  ~tRepositoryFtp() override;
  tRepositoryFtp(const tRepositoryFtp&) = delete;
  tRepositoryFtp& operator=(const tRepositoryFtp&) = delete;

  // Makes the connection; a timeout of 0 means 600 seconds. Nothing is sent yet.
  void Init(const std::string& login, const std::string& password, bool passive,
            unsigned long timeout) override;

  // Every operation below that talks to the server reports its failures as
  // TransportException: status 2 to 7 from the libcurl code, 0 for the rest.
  // A name holding CR, LF or NUL is refused before anything is sent.

  // Downloads the file first; a missing file raises.
  irepostream* GetFile(const std::string& name) override;
  // The upload happens at the stream's close(); deleting it unclosed stores nothing.
  // Parent directories are not created.
  orepostream* PutFile(const std::string& name) override;
  using tRepositoryTransport::PutFile;
  // Appends the content of `name` to the open local descriptor `fd`, without
  // a local copy in between. Returns false, with errno set, when writing to
  // `fd` failed; server failures raise TransportException.
  bool DownloadInto(const std::string& name, int fd) override;
  // Uploads the local file `localPath` to `name`.
  void PutLocalFile(const std::string& localPath, const std::string& name) override;
  // A file that is not there afterwards (also one that never was) is fine.
  void Delete(const std::string& name) override;
  // An existing directory is fine; a missing parent is not.
  void CreateDir(const std::string& name) override;
  // Removes an empty directory (not recursive); a missing directory is fine.
  void DeleteDir(const std::string& name) override;
  // The names the server gives for a name listing, without "." and ".."
  // (which some servers list); nothing is appended on failure.
  void ListDir(const std::string& dir, std::vector<std::string>& names) override;
  // One record per parsable listing line; date as the listing's text.
  void ListDirEx(const std::string& dir, std::vector<FileInfo>& infos) override;
  // Lists the parent: true for a listed name that is not a directory.
  bool IsExist(const std::string& name) override;
  // False when the server will not enter it; connection failures raise.
  bool IsDirExist(const std::string& name) override;
  // A fresh local directory, made on first use and removed with the transport.
  const std::string& GetReceivingDir() override;
  // Uploads the sub-tree `dir` of the receiving directory, emptying it on the way.
  // PathIsAbsoluteError for a path with a root name ("//host/...").
  void ReceiveDir(const std::string& dir) override;
  // Always 0: the server is not asked for dates.
  time_t GetCreationDate(const std::string& name) override;
  // The local copy in the receiving directory, downloaded once; an existing
  // copy is returned as is. A failed download leaves no copy behind.
  std::string GetLocalFile(const std::string& name) override;
  // The local copy of a file, or of a directory with the given entries (all
  // when `files` is null), recursively. Status 1 when neither exists.
  std::string GetLocalDirFiles(const std::string& name, const std::vector<std::string>* files) override;
  // Always raises TransportException status 0.
  tavrepo_int64_t GetFileSize(const std::string& name) override;

 private:
  // Prepares the connection for one action on `name`.
  void Connect(const std::string& name);
  tFtpConnection& Connection();

  std::unique_ptr<tFtpConnection> connection;
  std::string login;
  std::string password;
  std::unique_ptr<std::string> receivingDir;
};

// Sends the local tree `base`/`rel` to `rel` on `ftp`, removing each local
// entry once it has been stored.
void SendDirToFtp(tRepositoryFtp* ftp, const std::string& base, const std::string& rel);

}  // namespace ovrin
