// The factory that picks a transport class from a repository URL.
#include "log/debug_log.h"
#include "transport/chroot_transport.h"
#include "transport/ftp_transport.h"
#include "transport/local_transport.h"
#include "transport/transport.h"
#include "util/strings.h"

namespace ovrin {

namespace {

const char FTP_PREFIX[] = "ftp://";
const char FTPS_PREFIX[] = "ftps://";
const char LOCAL_PREFIX[] = "local:";

}  // namespace

tRepositoryTransport* tRepositoryTransport::Get(const std::string& url) {
  LogMsg("Transport: Get repository transport " + url);
  // The prefix tests see the URL without its trailing separators; the
  // transports get the URL itself.
  size_t end = url.find_last_not_of("\\/");
  const std::string trimmed = end == std::string::npos ? std::string() : url.substr(0, end + 1);
  if (BeginsWith(trimmed, FTP_PREFIX) || BeginsWith(trimmed, FTPS_PREFIX)) return new tRepositoryFtp(url);
  std::string path = url;
  if (BeginsWith(trimmed, LOCAL_PREFIX)) path.erase(0, sizeof(LOCAL_PREFIX) - 1);
  return new tRepositoryLocal(path);
}

tRepositoryTransport* tRepositoryTransport::Chroot(tRepositoryTransport* transport, const std::string& root) {
  return new tRepositoryTransportChroot(transport, root);
}

}  // namespace ovrin
