// The FTP client of the transports: one libcurl easy handle performing one
// action at a time. Before each action Init names the object's full URL and
// the credentials; Init resets the handle, while libcurl may keep the control
// connection open between actions.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "transport/ftp_listing.h"

namespace ovrin {

class tFtpConnection {
 public:
  static const char* InvalidPath(bool codeName);    // "Invalid path: %1%"
  static const char* FileOpenError(bool codeName);  // "Unable to open file %1%: %2%"
  // "Invalid credentials: %1%"; a login or password that would break the
  // command channel.
  static const char* InvalidCredentials(bool codeName);

  // A timeout of 0 means 600 seconds (or DUMPKEEP_TEST_FTP_TIMEOUT, for
  // tests). The time-out bounds each silence: connecting, waiting for one
  // reply, a transfer in which no byte moves; never a transfer's length.
  // A URL "ftps://..." asks for explicit TLS on control and data connections
  // (always passive), verified against the system's trust store or the CA
  // file named by DUMPKEEP_FTPS_CA_FILE. Makes no libcurl call.
  tFtpConnection(bool passive, unsigned long timeout);
  ~tFtpConnection();
  tFtpConnection(const tFtpConnection&) = delete;
  tFtpConnection& operator=(const tFtpConnection&) = delete;

  // Raises InvalidPath when `url` holds CR, LF or NUL, which would end an FTP
  // command early and start another one.
  static void CheckUrl(const std::string& url);

  // libcurl's global initialisation; a failure raises CurlException (status 0).
  static void Prepare();

  // Prepares the handle for one action on `url`. A URL, login or password
  // holding CR or LF raises InvalidPath / InvalidCredentials before anything
  // is sent. CurlException when the handle cannot be made or set up.
  void Init(const std::string& url, const std::string& login, const std::string& password);

  // Appends the names of the directory `url` (a '/' is added when missing).
  // CurlException on any failure, CURLE_PARTIAL_FILE for a listing the server
  // says it cut short (and nothing is appended); std::out_of_range for an
  // empty url.
  void List(std::vector<std::string>& names);
  // Appends the parsed long listing of the directory `url`; unparsable lines
  // are skipped. Failures as for List.
  void ListEx(std::vector<FtpFileInfo>& infos);
  // True when `url` names a directory the server lets us enter; false when it
  // refuses; connection and login failures raise CurlException.
  bool IsDirExist();
  // Creates the directory `url` inside its (existing) parent.
  void CreateDir();
  // Removes the empty directory `url`.
  void DeleteDir();
  // Removes the file `url`; CurlException when the server refuses.
  void DeleteFile_();
  // Stores the local file at `url`, then asks the server for its size
  // (SIZE): a stored size other than the local one fails the action with
  // CURLE_UPLOAD_FAILED. A transfer that fails once data has gone out leaves
  // no file at `url`: the cut-short copy is deleted (on a new connection,
  // as far as the server lets us; that failure is only logged).
  // FileOpenError when the local file cannot be read.
  void UploadFile(const std::string& localPath);
  // Fetches `url` into `localPath` (created or truncated). FileOpenError when
  // it cannot be written; after a failed transfer the partial local file is
  // removed, so a later step never takes it for a complete copy.
  void DownloadFile(const std::string& localPath);
  // Downloads `url`, appending it to the open descriptor `fd` (not closed).
  // Returns false, with errno set, when writing to `fd` failed; server
  // failures raise CurlException.
  bool DownloadInto(int fd);

  // The server path of an FTP URL, always beginning with '/'. InvalidPath when
  // the URL has no "//" or no '/' after it.
  static std::string GetFileName(std::string url);
  // The text after the last '/' that is not the final character. InvalidPath when none.
  static std::string GetShortFileName(const std::string& url);
  static void SplitFileInfo(const std::string& text, std::vector<FtpFileInfo>& infos);

  // libcurl callbacks; `userdata` is described at each use.
  static size_t ListingRead(void* data, size_t size, size_t count, void* userdata);
  static size_t ListingReadEx(void* data, size_t size, size_t count, void* userdata);
  static size_t IsExistRead(void* data, size_t size, size_t count, void* userdata);
  static size_t FileRead(void* data, size_t size, size_t count, void* userdata);
  static size_t FileWrite(void* data, size_t size, size_t count, void* userdata);

 private:
  void InitCredentials();
  void CheckCurlRes(CURLcode code);
  // Runs the transfer with the handle as set up; the result is not checked.
  CURLcode Perform();
  // Sets `url` to name a directory (trailing '/'); std::out_of_range for "".
  void MakeDirUrl();
  // Points the handle at the parent directory of `url` and sends `command` +
  // the short name there, without a transfer.
  void RunInParent(const std::string& command);
  // CURLE_PARTIAL_FILE when a final reply says the listing was truncated.
  void CheckListingComplete(const std::vector<std::string>& replies);
  // Lists the directory `url` (names only, or the long form), handing the
  // bytes to `read` with `listing`; a truncated listing fails.
  void RunListing(bool namesOnly, size_t (*read)(void*, size_t, size_t, void*), void* listing);
  // Deletes the file `url` after a failed upload; never raises.
  void RemovePartialUpload();

  CURL* handle;
  std::string url;
  std::string urlWithAuth;
  bool passive;
  unsigned long timeout;
  std::string login;
  std::string password;
  std::string auth;
  bool authInUrl;
};

// `login` + ":" + `password` as libcurl takes it. When the login holds ':',
// both parts are percent-escaped and must travel inside the URL (`authInUrl`).
void GetAuthStr(const std::string& login, const std::string& password, std::string& auth, bool& authInUrl);
// The URL handed to libcurl for `url` ("ftp://" or "ftps://"): always
// "ftp://", the host part as written and the path percent-encoded except for
// '/' and unreserved characters, so that '%', '#', '?', ';', blanks and
// non-ASCII bytes stay part of the name.
std::string GetCurlUrl(const std::string& url);
// Whether `url` asks for FTP over TLS.
bool IsFtpsUrl(const std::string& url);
// "ftp://" + auth + "@" + the rest of `url` after its "ftp://" prefix.
std::string GetUrlWithAuth(const std::string& url, const std::string& auth);
// libcurl's text for `code`.
std::string get_curl_error_msg(CURLcode code);

}  // namespace ovrin
