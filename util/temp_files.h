// Uniquely named temporary files and directories, and guards that remove them.
// The temporary directory is DUMP_TMP_D of the panel configuration, else the
// backup manager's own tmp directory.
#pragma once

#include <string>

namespace ovrin {

// Creates an empty file `dir`/`prefix`XXXXXX and returns its path; the caller
// owns the file. Raises CantCreateTempFile.
std::string TAV_getTempFileName(const std::string& dir, const std::string& prefix);
// Creates a directory (mode 0700) named the same way; raises CantCreateTempDir.
std::string TAV_makeTempFileDirectory(const std::string& dir, const std::string& prefix);
// The template used by both: dir (or the temporary directory), "/", prefix, "XXXXXX".
std::string initTempName(const std::string& dir, const std::string& prefix);

// The temporary directory itself.
std::string GetTempDirectory();
// A new temporary file in the temporary directory; the caller owns it.
std::string GetTempFilePath();
// A new temporary directory in the temporary directory; the caller owns it.
std::string GetTempDirPath();

// Removes its file when destroyed; failures are logged, never raised.
// Movable, not copyable: a moved-from guard removes nothing.
class TempFileGuard {
 public:
  explicit TempFileGuard(const std::string& path) : path_(path) {}
  TempFileGuard(TempFileGuard&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  TempFileGuard& operator=(TempFileGuard&& other) noexcept;
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  ~TempFileGuard();
  const std::string& Path() const { return path_; }

 private:
  void Remove() noexcept;
  std::string path_;
};

// Removes its directory tree (or a symbolic link of that name) when destroyed;
// failures are logged, never raised.
class TempDirGuard {
 public:
  explicit TempDirGuard(const std::string& path) : path_(path) {}
  TempDirGuard(TempDirGuard&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  TempDirGuard(const TempDirGuard&) = delete;
  TempDirGuard& operator=(const TempDirGuard&) = delete;
  ~TempDirGuard();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace ovrin
