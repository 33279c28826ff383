// Small file operations of this host's file system that the storages and
// the staging of imports share.
#pragma once

#include <string>

namespace ovrin {

// Renames `from` to `to` unless an entry (even a dangling link) is at `to`.
// Returns 0, EEXIST when an entry is there (nothing changed), or another
// errno value. On a file system that cannot refuse replacement it checks
// first and then renames.
int RenameNoReplace(const std::string& from, const std::string& to);

// Opens `path` for reading without ever blocking on a FIFO or a device and
// returns the descriptor only when it is a regular file (following links);
// -1 otherwise, with errno set (EINVAL for an entry of another kind).
int OpenRegularFile(const std::string& path);

// Copies what is left of `in` onto `out`, each from its current offset: by the
// kernel where it can copy between the two files, else in blocks. Returns 0,
// or the errno value of the first failure, with `writing` telling whether it
// was the writing of `out` that failed (a full disk, say) rather than the
// reading of `in`.
int CopyRest(int in, int out, bool& writing);

}  // namespace ovrin
