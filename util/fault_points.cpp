#include "util/fault_points.h"

#include <signal.h>

#include <cstdlib>
#include <cstring>

namespace ovrin {

void FaultPoint(const char* name) {
  // Only the first time: a test that lets the process go on wants it to run
  // to its end.
  static bool stopped = false;
  const char* wanted = std::getenv("DUMPKEEP_FAULT_POINT");
  if (!stopped && wanted && std::strcmp(wanted, name) == 0) {
    stopped = true;
    ::raise(SIGSTOP);
  }
}

}  // namespace ovrin
