#include "hostlib/users.h"

#include <cerrno>
#include <cstring>

#include <pwd.h>

#include "hostlib/messlog.h"

uid_t get_user_id(const char* name) {
  errno = 0;
  struct passwd* entry = getpwnam(name);
  if (!entry) {
    messlog2(0, 0, "Unable to find uid for user %s: %s", name, std::strerror(errno));
    return 0;
  }
  return entry->pw_uid;
}
