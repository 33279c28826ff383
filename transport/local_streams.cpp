#include "transport/local_streams.h"

namespace ovrin {

tLocalInStream::~tLocalInStream() {
  if (rdbuf()->is_open()) rdbuf()->close();
}

void tLocalInStream::close() {
  if (!rdbuf()->close()) setstate(std::ios_base::failbit);
}

void tLocalInStream::open() {
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
