#include "transport/ftp_connection.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "log/progress.h"
#include "util/strings.h"

namespace ovrin {

const char* tFtpConnection::InvalidPath(bool codeName) {
  return codeName ? "tFtpConnection::InvalidPath" : "Invalid path: %1%";
}

const char* tFtpConnection::FileOpenError(bool codeName) {
  return codeName ? "tFtpConnection::FileOpenError" : "Unable to open file %1%: %2%";
}

const char* tFtpConnection::InvalidCredentials(bool codeName) {
  return codeName ? "tFtpConnection::InvalidCredentials" : "Invalid credentials: %1%";
}

namespace {

const unsigned long DEFAULT_TIMEOUT = 600;

// Transfer blocks of files: libcurl's defaults (16 KiB down) and stdio's
// buffer cost a callback and a system call for every few kilobytes.
const long TRANSFER_BLOCK = 512 * 1024;

// A NUL would cut the text short once it becomes a C string, and CR or LF
// would end the FTP command early and start another one.
bool HoldsControlBreak(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// What the listing callbacks collect into.
struct NameListing {
  FtpLineJoiner joiner;
  std::vector<std::string> names;
};

struct InfoListing {
  FtpLineJoiner joiner;
  std::vector<FtpFileInfo> infos;
};

// Owns a command list handed to the handle; the handle forgets it before the
// list is freed, whether or not the transfer succeeded.
class CommandList {
 public:
  CommandList(CURL* handle, CURLoption option) : handle_(handle), option_(option) {}
  ~CommandList() {
    curl_easy_setopt(handle_, option_, static_cast<curl_slist*>(nullptr));
    curl_slist_free_all(list_);
  }
  CommandList(const CommandList&) = delete;
  CommandList& operator=(const CommandList&) = delete;

  // Returns the result of handing the list (with `command` added) to the handle.
  CURLcode Append(const std::string& command) {
    curl_slist* grown = curl_slist_append(list_, command.c_str());
    if (!grown) return CURLE_OUT_OF_MEMORY;
    list_ = grown;
    return curl_easy_setopt(handle_, option_, list_);
  }

 private:
  CURL* handle_;
  CURLoption option_;
  curl_slist* list_ = nullptr;
};

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
typedef std::unique_ptr<FILE, FileCloser> FilePtr;

// Where DownloadInto writes, and the first write failure.
struct FdSink {
  int fd;
  int error = 0;
};

size_t WriteToFd(void* data, size_t size, size_t count, void* userdata) {
  FdSink* sink = static_cast<FdSink*>(userdata);
  const char* at = static_cast<const char*>(data);
  size_t left = size * count;
  while (left > 0) {
    ssize_t written = ::write(sink->fd, at, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      sink->error = errno;
      return 0;  // libcurl ends the transfer with its write error
    }
    at += written;
    left -= static_cast<size_t>(written);
  }
  return size * count;
}

// The server's reply lines of one action, as libcurl hands them on.
struct ReplyLines {
  std::vector<std::string> lines;
};

size_t CollectReply(char* data, size_t size, size_t count, void* userdata) {
  std::string line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  static_cast<ReplyLines*>(userdata)->lines.push_back(line);
  return size * count;
}

// The number of the last "213" reply (the answer to SIZE), "" when none.
std::string StoredSize(const std::vector<std::string>& lines) {
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (BeginsWith(*it, "213 ")) return it->substr(4);
  }
  return "";
}

// Some servers cut long listings short and say so only in the final reply
// ("226 Output truncated to 10000 matches"). A partial listing would let
// rotation and existence checks act on dumps they cannot see.
bool ListingTruncated(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (!BeginsWith(line, "226")) continue;
    std::string lower = line;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("truncated") != std::string::npos) return true;
  }
  return false;
}

// libcurl's trace in debug mode goes to the diagnostic log, never to the
// standard streams; the password of the login never reaches the log.
int TraceToLog(CURL*, curl_infotype type, char* data, size_t size, void*) {
  const char* prefix = nullptr;
  switch (type) {
    case CURLINFO_TEXT: prefix = "* "; break;
    case CURLINFO_HEADER_IN: prefix = "< "; break;
    case CURLINFO_HEADER_OUT: prefix = "> "; break;
    default: return 0;
  }
  std::string text(data, size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (type == CURLINFO_HEADER_OUT && BeginsWith(text, "PASS ")) text = "PASS ******";
  LogMsg(std::string("Curl: ") + prefix + text);
  return 0;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// Every character that could end or split the user part of a URL travels
// percent-escaped; libcurl decodes it again before sending USER and PASS.
std::string EscapeForUrl(const std::string& text, bool keepSlash = false) {
  static const char hex[] = "0123456789ABCDEF";
  std::string escaped;
  for (unsigned char c : text) {
    if (IsUnreserved(c) || (keepSlash && c == '/')) {
      escaped += static_cast<char>(c);
    } else {
      escaped += '%';
      escaped += hex[c >> 4];
      escaped += hex[c & 0x0F];
    }
  }
  return escaped;
}

const char FTP_SCHEME[] = "ftp://";
const char FTPS_SCHEME[] = "ftps://";

// Where the operator names the CA file that signs a private server's
// certificate; without it the system's trust store decides.
const char CA_FILE_VARIABLE[] = "DUMPKEEP_FTPS_CA_FILE";
// Replaces the default time-out of 600 s, so that tests can watch a stall
// end without waiting ten minutes. Not meant for operators.
const char TEST_TIMEOUT_VARIABLE[] = "DUMPKEEP_TEST_FTP_TIMEOUT";

unsigned long DefaultTimeout() {
  const char* text = std::getenv(TEST_TIMEOUT_VARIABLE);
  if (text && *text) {
    char* end = nullptr;
    const unsigned long seconds = std::strtoul(text, &end, 10);
    if (end && *end == '\0' && seconds > 0) return seconds;
  }
  return DEFAULT_TIMEOUT;
}

}  // namespace

std::string GetCurlUrl(const std::string& url) {
  const size_t schemeEnd = url.find("://");
  const size_t hostStart = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
  const size_t pathStart = url.find('/', hostStart);
  // TLS is asked for on the ordinary port (see Init), so libcurl always sees
  // a plain FTP URL; its own "ftps" would mean TLS from the first byte.
  const bool hasPath = pathStart != std::string::npos;
  const std::string host = url.substr(hostStart, hasPath ? pathStart - hostStart : std::string::npos);
  const std::string path = hasPath ? url.substr(pathStart) : "";
  return FTP_SCHEME + host + EscapeForUrl(path, true);
}

bool IsFtpsUrl(const std::string& url) { return BeginsWith(url, FTPS_SCHEME); }

void GetAuthStr(const std::string& login, const std::string& password, std::string& auth, bool& authInUrl) {
  if (login.find(':') == std::string::npos) {
    // libcurl splits CURLOPT_USERPWD at its first ':', so the password may hold anything.
    auth = login + ":" + password;
    authInUrl = false;
    return;
  }
  auth = EscapeForUrl(login) + ":" + EscapeForUrl(password);
  authInUrl = true;
}

std::string GetUrlWithAuth(const std::string& url, const std::string& auth) {
  const std::string scheme = "ftp://";
  std::string rest = BeginsWith(url, scheme) ? url.substr(scheme.size()) : url;
  return scheme + auth + "@" + rest;
}

namespace {

// Logs the progress of one transfer through libcurl's progress callback,
// which libcurl calls at least once a second while the transfer runs (also
// while it stalls), and turns the callback off again when it ends.
class TransferProgress {
 public:
  TransferProgress(CURL* handle, const std::string& what, bool upload, int64_t total)
      : handle_(handle), progress_(what, total), upload_(upload) {
    curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, Callback);
    curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
  }
  ~TransferProgress() {
    curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, static_cast<void*>(nullptr));
  }
  TransferProgress(const TransferProgress&) = delete;
  TransferProgress& operator=(const TransferProgress&) = delete;

 private:
  static int Callback(void* data, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow) {
    TransferProgress* self = static_cast<TransferProgress*>(data);
    const curl_off_t total = self->upload_ ? ulTotal : dlTotal;
    // A download learns its size from the server's reply; 0 means not (yet) known.
    if (!self->upload_ && total > 0) self->progress_.SetTotal(total);
    self->progress_.Update(self->upload_ ? ulNow : dlNow);
    return 0;
  }

  CURL* handle_;
  tProgress progress_;
  bool upload_;
};

}  // namespace

std::string get_curl_error_msg(CURLcode code) { return curl_easy_strerror(code); }

tFtpConnection::tFtpConnection(bool passive, unsigned long timeout)
    : handle(nullptr),
      passive(passive),
      timeout(timeout == 0 ? DefaultTimeout() : timeout),
      authInUrl(false) {}

tFtpConnection::~tFtpConnection() {
  if (handle) curl_easy_cleanup(handle);
}

void tFtpConnection::CheckUrl(const std::string& url) {
  if (HoldsControlBreak(url)) throw OVRIN_ERROR(InvalidPath) % url;
}

void tFtpConnection::Prepare() {
  CURLcode rc = curl_global_init(0);
  if (rc != CURLE_OK) throw OVRIN_EXCEPTION(CurlException, std::to_string(static_cast<int>(rc)), 0);
}

void tFtpConnection::CheckCurlRes(CURLcode code) {
  if (code == CURLE_OK) return;
  const std::string text = get_curl_error_msg(code);
  LogMsg("Curl error (" + std::to_string(static_cast<int>(code)) + ") : " + text);
  throw OVRIN_EXCEPTION(CurlException, text, static_cast<int>(code));
}

void tFtpConnection::Init(const std::string& url, const std::string& login, const std::string& password) {
  LogVerboseMsg("Ftp init url " + url);
  CheckUrl(url);
  if (HoldsControlBreak(login) || HoldsControlBreak(password)) {
    throw OVRIN_ERROR(InvalidCredentials) % "login or password holds a line break";
  }
  if (!handle) {
    handle = curl_easy_init();
    if (!handle) throw OVRIN_EXCEPTION(CurlException, "unable to init curl", 0);
  } else {
    curl_easy_reset(handle);
  }
  // The time-out bounds silence, never length: connecting (greeting
  // included), each wait for a reply and each stretch of a transfer in which
  // not one byte moves. A transfer that keeps moving runs as long as it needs.
  const long seconds = static_cast<long>(timeout);
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, seconds));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_FTP_RESPONSE_TIMEOUT, seconds));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_ACCEPTTIMEOUT_MS, seconds * 1000L));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, seconds));

  this->url = url;
  this->login = login;
  this->password = password;
  GetAuthStr(login, password, auth, authInUrl);
  urlWithAuth = authInUrl ? GetUrlWithAuth(GetCurlUrl(url), auth) : "";

  const bool tls = IsFtpsUrl(url);
  if (tls) {
    // Explicit TLS (AUTH TLS) for the control and every data connection;
    // a server that refuses it fails the action, never a plain session.
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL)));
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS)));
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L));
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L));
    // Servers that hand out TLS 1.3 session tickets on data connections
    // drop uploads now and then with 426; TLS 1.2 stores them reliably.
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_SSLVERSION,
                                  static_cast<long>(CURL_SSLVERSION_TLSv1_2 | CURL_SSLVERSION_MAX_TLSv1_2)));
    const char* caFile = std::getenv(CA_FILE_VARIABLE);
    if (caFile && *caFile) CheckCurlRes(curl_easy_setopt(handle, CURLOPT_CAINFO, caFile));
  }
  // Active data connections get no TLS from this libcurl, so TLS sessions
  // are always passive.
  if (passive || tls) {
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_FTP_USE_EPSV, 0L));
  } else {
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_FTPPORT, "-"));
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_FTP_USE_EPRT, 0L));
  }
  if (theDebugLog && theDebugLog->isDebugMode()) {
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, TraceToLog));
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L));
  }
}

void tFtpConnection::InitCredentials() {
  // libcurl decodes the path it is given: the encoded form makes it walk to
  // and name exactly the entries the repository means.
  const std::string target = GetCurlUrl(url);
  if (login.empty()) {
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_URL, target.c_str()));
  } else if (!authInUrl) {
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_URL, target.c_str()));
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_USERPWD, auth.c_str()));
  } else {
    // Rebuilt from the current url so that a '/' added for a listing is kept.
    urlWithAuth = GetUrlWithAuth(target, auth);
    CheckCurlRes(curl_easy_setopt(handle, CURLOPT_URL, urlWithAuth.c_str()));
  }
}

CURLcode tFtpConnection::Perform() { return curl_easy_perform(handle); }

void tFtpConnection::CheckListingComplete(const std::vector<std::string>& replies) {
  if (!ListingTruncated(replies)) return;
  LogMsg("The server cut the listing of " + url + " short: " + replies.back());
  CheckCurlRes(CURLE_PARTIAL_FILE);
}

void tFtpConnection::MakeDirUrl() {
  if (url.at(url.size() - 1) != '/') url += '/';
}

void tFtpConnection::RunListing(bool namesOnly, size_t (*read)(void*, size_t, size_t, void*), void* listing) {
  MakeDirUrl();
  InitCredentials();
  ReplyLines replies;
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_DIRLISTONLY, namesOnly ? 1L : 0L));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, read));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_WRITEDATA, listing));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, CollectReply));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_HEADERDATA, &replies));
  CheckCurlRes(Perform());
  CheckListingComplete(replies.lines);
}

void tFtpConnection::List(std::vector<std::string>& names) {
  LogMsg("Ftp list dir");
  NameListing listing;
  RunListing(true, ListingRead, &listing);
  Split(listing.joiner.Finish(), listing.names, "\r\n");
  names.insert(names.end(), listing.names.begin(), listing.names.end());
  LogMsg("End ftp list dir");
}

void tFtpConnection::ListEx(std::vector<FtpFileInfo>& infos) {
  LogMsg("Ftp extended list dir");
  InfoListing listing;
  RunListing(false, ListingReadEx, &listing);
  ovrin::SplitFileInfo(listing.joiner.Finish(), listing.infos);
  infos.insert(infos.end(), listing.infos.begin(), listing.infos.end());
}

bool tFtpConnection::IsDirExist() {
  LogMsg("Ftp check dir exist");
  // Entering the directory is the test: libcurl walks the path with CWD and,
  // without a body, transfers nothing.
  MakeDirUrl();
  InitCredentials();
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_NOBODY, 1L));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, IsExistRead));
  CURLcode rc = Perform();
  if (rc == CURLE_OK) return true;
  if (rc == CURLE_REMOTE_ACCESS_DENIED || rc == CURLE_FTP_COULDNT_RETR_FILE) return false;
  CheckCurlRes(rc);
  return false;
}

void tFtpConnection::RunInParent(const std::string& command) {
  const std::string full = GetShortFileName(url);
  const std::string parent = url.substr(0, url.size() - full.size());
  const std::string shortName = TrimTrailingSlashes(full);
  // Commands given before the transfer run in the login directory, before
  // libcurl walks the URL's path; after it they run in the parent directory,
  // where the short name means what the URL means.
  url = parent;
  InitCredentials();
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_NOBODY, 1L));
  CommandList commands(handle, CURLOPT_POSTQUOTE);
  CheckCurlRes(commands.Append(command + " " + shortName));
  CheckCurlRes(Perform());
}

void tFtpConnection::CreateDir() {
  LogMsg("Ftp create dir");
  RunInParent("MKD");
}

void tFtpConnection::DeleteDir() {
  LogMsg("Ftp delete dir");
  RunInParent("RMD");
}

void tFtpConnection::DeleteFile_() {
  LogMsg("Ftp delete file");
  RunInParent("DELE");
}

void tFtpConnection::UploadFile(const std::string& localPath) {
  LogMsg("Ftp upload file from " + localPath + " to " + url);
  FilePtr file(std::fopen(localPath.c_str(), "rb"));
  struct stat st;
  if (!file || fstat(fileno(file.get()), &st) != 0) {
    throw OVRIN_ERROR(FileOpenError) % localPath % "for read";
  }
  const curl_off_t size = static_cast<curl_off_t>(st.st_size);
  LogMsg("File size: " + std::to_string(static_cast<long long>(size)));

  const std::string shortName = GetShortFileName(url);
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_DIRLISTONLY, 0L));
  // The server's size of the stored file must be the local size: a file the
  // server does not show, or shows cut short, fails the action. (A rename
  // request would do as a check, but some servers then refuse every later
  // command on the connection until the rename is completed.)
  CommandList check(handle, CURLOPT_POSTQUOTE);
  CheckCurlRes(check.Append("SIZE " + shortName));
  ReplyLines replies;
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, CollectReply));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_HEADERDATA, &replies));
  InitCredentials();
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_READFUNCTION, FileRead));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_READDATA, file.get()));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, size));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_UPLOAD_BUFFERSIZE, TRANSFER_BLOCK));
  // Whole blocks are read straight into libcurl's buffer, past stdio's own.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  CURLcode rc;
  {
    TransferProgress progress(handle, "upload to " + url, true, size);
    rc = Perform();
  }
  curl_off_t sent = 0;
  curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &sent);
  const std::string stored = StoredSize(replies.lines);
  if (rc == CURLE_OK && stored == std::to_string(static_cast<long long>(size))) return;
  if (rc == CURLE_OK) {
    LogMsg("Stored size of " + url + " is '" + stored + "', sent " + std::to_string(static_cast<long long>(size)));
    rc = CURLE_UPLOAD_FAILED;
  }
  // Once data went out the server holds a file cut short under the target's
  // name (an earlier file of that name is gone already): it must not be
  // taken for a whole one later.
  if (sent > 0 || rc == CURLE_UPLOAD_FAILED) RemovePartialUpload();
  CheckCurlRes(rc);
}

void tFtpConnection::RemovePartialUpload() {
  const std::string target = url;
  try {
    Init(target, login, password);
    RunInParent("DELE");
    LogMsg("Removed the incomplete upload " + target);
  } catch (const std::exception& e) {
    LogMsg("Unable to remove the incomplete upload " + target + ": " + e.what());
  }
  url = target;
}

void tFtpConnection::DownloadFile(const std::string& localPath) {
  LogMsg("Ftp download file from " + url + " to " + localPath);
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_DIRLISTONLY, 0L));
  InitCredentials();
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, FileWrite));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, TRANSFER_BLOCK));
  FilePtr file(std::fopen(localPath.c_str(), "wb"));
  if (!file) throw OVRIN_ERROR(FileOpenError) % localPath % "for write";
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  CURLcode rc = curl_easy_setopt(handle, CURLOPT_WRITEDATA, file.get());
  if (rc == CURLE_OK) {
    TransferProgress progress(handle, "download of " + url, false, -1);
    rc = Perform();
  }
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
  // Buffered data reaches the disk only at fclose; a failure there loses data too.
  if (std::fclose(file.release()) != 0 && rc == CURLE_OK) {
    LogMsg(std::string("Error: Unable to write file: ") + std::strerror(errno));
    rc = CURLE_WRITE_ERROR;
  }
  if (rc != CURLE_OK) {
    if (std::remove(localPath.c_str()) != 0 && errno != ENOENT) {
      LogMsg("Unable to delete file '" + localPath + "': " + std::strerror(errno));
    }
    CheckCurlRes(rc);
  }
}

bool tFtpConnection::DownloadInto(int fd) {
  LogMsg("Ftp download file from " + url + " to descriptor " + std::to_string(fd));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_DIRLISTONLY, 0L));
  InitCredentials();
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, TRANSFER_BLOCK));
  FdSink sink{fd};
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteToFd));
  CheckCurlRes(curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink));
  CURLcode rc;
  {
    TransferProgress progress(handle, "download of " + url, false, -1);
    rc = Perform();
  }
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
  if (sink.error != 0) {
    LogMsg(std::string("Error: Unable to write file: ") + std::strerror(sink.error));
    errno = sink.error;
    return false;
  }
  CheckCurlRes(rc);
  return true;
}

std::string tFtpConnection::GetFileName(std::string url) {
  size_t start = url.find("//");
  size_t slash = start == std::string::npos ? std::string::npos : url.find('/', start + 2);
  if (slash == std::string::npos) throw OVRIN_ERROR(InvalidPath) % url;
  std::string path = url.substr(slash + 1);
  return BeginsWith(path, "/") ? path : "/" + path;
}

std::string tFtpConnection::GetShortFileName(const std::string& url) {
  size_t pos = url.size() < 2 ? std::string::npos : url.rfind('/', url.size() - 2);
  if (pos == std::string::npos) throw OVRIN_ERROR(InvalidPath) % url;
  return url.substr(pos + 1);
}

void tFtpConnection::SplitFileInfo(const std::string& text, std::vector<FtpFileInfo>& infos) {
  ovrin::SplitFileInfo(text, infos);
}

size_t tFtpConnection::ListingRead(void* data, size_t size, size_t count, void* userdata) {
  NameListing* listing = static_cast<NameListing*>(userdata);
  Split(listing->joiner.Take(static_cast<const char*>(data), size * count), listing->names, "\r\n");
  return size * count;
}

size_t tFtpConnection::ListingReadEx(void* data, size_t size, size_t count, void* userdata) {
  InfoListing* listing = static_cast<InfoListing*>(userdata);
  ovrin::SplitFileInfo(listing->joiner.Take(static_cast<const char*>(data), size * count), listing->infos);
  return size * count;
}

size_t tFtpConnection::IsExistRead(void*, size_t size, size_t count, void*) { return size * count; }

size_t tFtpConnection::FileRead(void* data, size_t size, size_t count, void* userdata) {
  FILE* file = static_cast<FILE*>(userdata);
  size_t moved = std::fread(data, 1, size * count, file);
  if (moved < size * count && std::ferror(file)) {
    LogError(std::string("Error: Unable to read file: ") + std::strerror(errno));
    // Returning 0 would read as a regular end of file; abort the transfer instead.
    return CURL_READFUNC_ABORT;
  }
  return moved;
}

size_t tFtpConnection::FileWrite(void* data, size_t size, size_t count, void* userdata) {
  FILE* file = static_cast<FILE*>(userdata);
  size_t moved = std::fwrite(data, 1, size * count, file);
  if (moved < size * count) {
    LogError(std::string("Error: Unable to write file: ") + std::strerror(errno));
    return 0;
  }
  return moved;
}

}  // namespace ovrin
