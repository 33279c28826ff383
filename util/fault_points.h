// Named points of long operations at which a test can catch the process.
// When the environment variable DUMPKEEP_FAULT_POINT names a point, the
// process stops itself (SIGSTOP) the first time it reaches it, so that a test can kill it
// there, exactly, instead of guessing a moment. Unset, a point costs one
// look at the environment.
#pragma once

namespace ovrin {

void FaultPoint(const char* name);

}  // namespace ovrin
