// Streams on local files. Both are constructed closed; open() opens the file in
// binary mode and reports a failure only through failbit.
#pragma once

#include <string>

#include "transport/transport.h"

namespace ovrin {

class tLocalInStream : public irepostream {
 public:
  // Does not open the file.
  explicit tLocalInStream(std::string path) : path(std::move(path)) {}
  // Closes the file if still open; never touches it otherwise.
  ~tLocalInStream() override;
  // Sets failbit when closing fails.
  void close() override;
  // Opens for binary reading; failure (also for anything but a regular
  // file, which is never opened) sets failbit, success clears the state.
  void open() override;
  bool is_open() override;

 private:
  std::string path;
};

class tLocalOutStream : public orepostream {
 public:
  // Does not open (and so does not create or truncate) the file.
  explicit tLocalOutStream(std::string path) : path(std::move(path)) {}
  ~tLocalOutStream() override;
  // Flushes and closes; a failed flush or close sets failbit.
  void close() override;
  // Creates or truncates for binary writing; failure sets failbit.
  void open() override;
  bool is_open() override;

 private:
  std::string path;
};

}  // namespace ovrin
