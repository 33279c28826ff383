#include "transport/local_streams.h"

#include <unistd.h>

#include "transport/local_files.h"

namespace ovrin {

tLocalInStream::~tLocalInStream() {
  if (rdbuf()->is_open()) rdbuf()->close();
}

void tLocalInStream::close() {
  if (!rdbuf()->close()) setstate(std::ios_base::failbit);
}

void tLocalInStream::open() {
  // Only a regular file is opened: a FIFO or a device would block the
  // reader or never end.
  const int probe = OpenRegularFile(path);
  if (probe < 0) {
    setstate(std::ios_base::failbit);
    return;
  }
  ::close(probe);
  if (rdbuf()->open(path, std::ios_base::in | std::ios_base::binary)) {
    clear();
  } else {
    setstate(std::ios_base::failbit);
  }
}

bool tLocalInStream::is_open() { return rdbuf()->is_open(); }

tLocalOutStream::~tLocalOutStream() {
  if (rdbuf()->is_open()) rdbuf()->close();
}

void tLocalOutStream::close() {
  if (!rdbuf()->close()) setstate(std::ios_base::failbit);
}

void tLocalOutStream::open() {
  if (rdbuf()->open(path, std::ios_base::out | std::ios_base::trunc | std::ios_base::binary)) {
    clear();
  } else {
    setstate(std::ios_base::failbit);
  }
}

bool tLocalOutStream::is_open() { return rdbuf()->is_open(); }

}  // namespace ovrin
