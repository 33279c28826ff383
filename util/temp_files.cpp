#include "util/temp_files.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

#include <boost/filesystem.hpp>

#include "errors/error_kinds.h"
#include "hostlib/ovr_conf.h"
#include "log/debug_log.h"
#include "log/product_paths.h"

namespace ovrin {

std::string GetTempDirectory() {
  const char* configured = ovrConfGet("DUMP_TMP_D");
  return configured ? configured : files::getTmpDir();
}

std::string initTempName(const std::string& dir, const std::string& prefix) {
  std::string name = dir.empty() ? GetTempDirectory() : dir;
  if (name.empty() || name.back() != '/') name += "/";
  return name + prefix + "XXXXXX";
}

std::string TAV_getTempFileName(const std::string& dir, const std::string& prefix) {
  const std::string templ = initTempName(dir, prefix);
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  int fd = mkstemp(buffer.data());
  if (fd < 0) throw OVRIN_ERROR(CantCreateTempFile) % templ % std::strerror(errno);
  ::close(fd);
  return buffer.data();
}

std::string TAV_makeTempFileDirectory(const std::string& dir, const std::string& prefix) {
  const std::string templ = initTempName(dir, prefix);
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw OVRIN_ERROR(CantCreateTempDir) % templ % std::strerror(errno);
  return buffer.data();
}

std::string GetTempFilePath() {
  std::string path = TAV_getTempFileName("", "repo_transport_tmp_");
  LogMsg("Created temp file: " + path);
  return path;
}

std::string GetTempDirPath() { return TAV_makeTempFileDirectory("", "repo_transport_tmp_"); }

TempFileGuard& TempFileGuard::operator=(TempFileGuard&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

TempFileGuard::~TempFileGuard() { Remove(); }

void TempFileGuard::Remove() noexcept {
  if (path_.empty()) return;
  try {
    boost::system::error_code ec;
    boost::filesystem::remove(path_, ec);
    if (ec) LogMsg("Unable to delete file '" + path_ + "': " + ec.message());
  } catch (const std::exception& e) {
    LogMsg("Unable to delete file '" + path_ + "': " + e.what());
  } catch (...) {
    LogMsg("Unable to delete file '" + path_ + "': unknown error");
  }
  path_.clear();
}

TempDirGuard::~TempDirGuard() {
  if (path_.empty()) return;
  try {
    boost::system::error_code ec;
    if (boost::filesystem::exists(boost::filesystem::symlink_status(path_, ec))) {
      boost::filesystem::remove_all(path_, ec);
      if (ec) LogMsg("Unable to delete directory '" + path_ + "': " + ec.message());
    }
  } catch (const std::exception& e) {
    LogMsg("Unable to delete directory '" + path_ + "': " + e.what());
  } catch (...) {
    LogMsg("Unable to delete directory '" + path_ + "': unknown error");
  }
}

}  // namespace ovrin
