// The session directory of one run: it holds the log file and an "archives"
// subdirectory, both usable by the panel's administrative group.
#pragma once

#include <sys/types.h>

#include <string>

#include <boost/filesystem/path.hpp>

namespace ovrin {

class SessionFiles {
 public:
  // Creates `path` (and missing parents) and `path`/archives when missing,
  // owner 0, group of "ovradm", mode 0750. Raises UnableToCreateSession.
  explicit SessionFiles(const std::string& path);
  const std::string& getDir() const { return dir_; }
  // dir + "/migration.log".
  std::string getLogFileName() const { return dir_ + "/migration.log"; }

 private:
  std::string dir_;
};

// The current session; null outside a run.
extern SessionFiles* theSession;

// Creates the session and installs it in theSession for its lifetime. The
// directory and its content are left on disk.
class SessionLifetimeController {
 public:
  explicit SessionLifetimeController(const std::string& path);
  ~SessionLifetimeController();
  SessionLifetimeController(const SessionLifetimeController&) = delete;
  SessionLifetimeController& operator=(const SessionLifetimeController&) = delete;
};

// Creates `path` and every missing parent with `mode` and owner (uid, gid).
// An existing path yields 0; otherwise the result of the final chown.
int make_dir(const char* path, uid_t uid, gid_t gid, mode_t mode);
int make_dir(const std::string& path, uid_t uid, gid_t gid, mode_t mode);
int make_dir(const boost::filesystem::path& path, uid_t uid, gid_t gid, mode_t mode);

// Owns one C string from the C allocator and frees it. Raises InvalidHandle for null.
class CStringHandle {
 public:
  explicit CStringHandle(char* text);
  ~CStringHandle();
  CStringHandle(const CStringHandle&) = delete;
  CStringHandle& operator=(const CStringHandle&) = delete;
  char* get() const { return text_; }

 private:
  char* text_;
};

}  // namespace ovrin
