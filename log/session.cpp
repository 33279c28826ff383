#include "log/session.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "errors/error_kinds.h"
#include "hostlib/users.h"

namespace ovrin {

SessionFiles* theSession = nullptr;

CStringHandle::CStringHandle(char* text) : text_(text) {
  if (!text_) throw Exc<&InvalidHandle>(BOOST_CURRENT_FUNCTION, "./handle", __LINE__);
}

CStringHandle::~CStringHandle() { std::free(text_); }

int make_dir(const char* path, uid_t uid, gid_t gid, mode_t mode) {
  struct stat st;
  if (::stat(path, &st) == 0) return 0;
  if (errno != ENOENT) return -1;
  CStringHandle copy(::strdup(path));
  char* slash = std::strrchr(copy.get(), '/');
  if (slash && slash != copy.get()) {
    *slash = '\0';
    make_dir(copy.get(), uid, gid, mode);
  }
  ::mkdir(path, mode);
  // mkdir is subject to the umask; the session must carry exactly `mode`.
  ::chmod(path, mode);
  return ::chown(path, uid, gid);
}

int make_dir(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
  CStringHandle copy(::strdup(path.c_str()));
  return make_dir(copy.get(), uid, gid, mode);
}

int make_dir(const boost::filesystem::path& path, uid_t uid, gid_t gid, mode_t mode) {
  return make_dir(path.string(), uid, gid, mode);
}

namespace {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

SessionFiles::SessionFiles(const std::string& path) : dir_(path) {
  // The group is looked up only when a directory is to be made, and once: on
  // a host without the account the look-up writes a console message, which
  // must not precede the result of a run that finds its session in place.
  bool lookedUp = false;
  gid_t ovradm = 0;
  auto group = [&] {
    if (!lookedUp) ovradm = static_cast<gid_t>(get_user_id("ovradm"));
    lookedUp = true;
    return ovradm;
  };
  if (!Exists(path)) make_dir(path, 0, group(), 0750);
  if (!IsDirectory(path)) throw OVRIN_ERROR(UnableToCreateSession) % "Unable to create session directory";
  const std::string archives = (boost::filesystem::path(path) / "archives").string();
  if (!Exists(archives)) make_dir(archives, 0, group(), 0750);
  if (!IsDirectory(archives)) {
    throw OVRIN_ERROR(UnableToCreateSession) % "Unable to create session archives directory";
  }
}

SessionLifetimeController::SessionLifetimeController(const std::string& path) {
  theSession = new SessionFiles(path);
}

SessionLifetimeController::~SessionLifetimeController() {
  delete theSession;
  theSession = nullptr;
}

}  // namespace ovrin
