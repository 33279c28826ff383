#include "repository/import_staging.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "repository/naming.h"
#include "transport/failure_wrap.h"
#include "transport/transport.h"
#include "util/strings.h"
#include "util/temp_files.h"

namespace fs = boost::filesystem;

namespace ovrin {

// Spelled out: the order in which constants of different files are made is
// not fixed, so DISCOVERED may not be there yet.
const std::string STAGING_AREA = ".discovered/.import";

namespace {

const std::string REMOTE_STAGING_PREFIX = "import_stage_";
const std::string STAGING_PREFIX = "stage_";

// The local directory that holds staging directories for `storage`, and
// the prefix of their names.
std::string StagingParent(tRepositoryTransport& storage, std::string& prefix) {
  std::string local;
  if (storage.GetLocalPath(STAGING_AREA, local)) {
    prefix = STAGING_PREFIX;
    return local;
  }
  prefix = REMOTE_STAGING_PREFIX;
  return GetTempDirectory();
}

void LogCleanUpFailure(const std::string& what) {
  LogError("Unable to remove " + what + ": " + LogCurrentFailure());
}

}  // namespace

std::vector<std::string> EnsureStagingArea(tRepositoryTransport& storage) {
  std::vector<std::string> created;
  for (const std::string& dir : {DISCOVERED, STAGING_AREA}) {
    if (storage.IsDirExist(dir)) continue;
    storage.CreateDir(dir);
    created.push_back(dir);
  }
  return created;
}

void RemoveStagingAreaDirs(tRepositoryTransport& storage, const std::vector<std::string>& created) {
  for (auto it = created.rbegin(); it != created.rend(); ++it) {
    try {
      storage.DeleteEmptyDir(*it);
    } catch (...) {
      // Another import's journal or staging directory, or the index, is there.
      LogMsg("Keeping " + *it + ": " + LogCurrentFailure());
      return;
    }
  }
}

tImportStaging::tImportStaging(tRepositoryTransport& storage) : storage_(storage) {
  std::string prefix;
  const std::string parent = StagingParent(storage, prefix);
  if (prefix == STAGING_PREFIX) createdArea_ = EnsureStagingArea(storage);
  try {
    const std::string path = TAV_makeTempFileDirectory(parent, prefix);
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || !FlockExclusive(fd, false)) {
      const int error = errno;
      if (fd >= 0) ::close(fd);
      fs::remove(path);
      throw OVRIN_EXCEPTION(TransportException,
                            " unable to lock the staging directory " + path + ": " + std::strerror(error), 0);
    }
    path_ = path;
    fd_ = fd;
  } catch (...) {
    RemoveStagingAreaDirs(storage, createdArea_);
    throw;
  }
  LogVerboseMsg("Staging directory " + path_);
}

tImportStaging::~tImportStaging() {
  try {
    boost::system::error_code ec;
    fs::remove_all(path_, ec);  // while the lock is still held
    if (ec) LogError("Unable to remove staging directory " + path_ + ": " + ec.message());
  } catch (...) {
    LogCleanUpFailure(path_);
  }
  if (fd_ >= 0) ::close(fd_);
  RemoveStagingAreaDirs(storage_, createdArea_);
}

std::string tImportStaging::RunName() const { return PathLeaf(path_); }

void tImportStaging::RemoveAbandoned(tRepositoryTransport& storage) {
  try {
    std::string prefix;
    const std::string parent = StagingParent(storage, prefix);
    boost::system::error_code ec;
    std::vector<fs::path> candidates;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
      if (BeginsWith(it->path().filename().string(), prefix)) candidates.push_back(it->path());
    }
    for (const fs::path& candidate : candidates) {
      // Only a real directory of that name is touched, never what a link leads to.
      const int fd = ::open(candidate.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) continue;
      if (FlockExclusive(fd, false)) {
        LogMsg("Removing staging directory " + candidate.string() + " left by an interrupted import");
        fs::remove_all(candidate, ec);
        if (ec) LogError("Unable to remove " + candidate.string() + ": " + ec.message());
      }
      ::close(fd);
    }
  } catch (...) {
    LogCleanUpFailure("abandoned staging directories");
  }
}

}  // namespace ovrin
