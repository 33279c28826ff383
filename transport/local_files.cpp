#include "transport/local_files.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ovrin {

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int OpenRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = EINVAL;
  }
  if (error != 0) {
    ::close(fd);
    errno = error;
    return -1;
  }
  // Reads of a regular file never block; the flag goes for the sake of
  // whoever reads it through a stream.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

namespace {

// The most one kernel copy call is asked to move.
const size_t KERNEL_COPY_CHUNK = 1 << 30;
// Blocks of the copy the kernel cannot do: large enough that each read goes
// straight to the system, small enough to stay in the processor's cache.
const size_t COPY_BLOCK_SIZE = 128 << 10;

bool IsWriteSideError(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

// Errors of a kernel copy that only say it cannot copy between these two.
bool KernelCannotCopy(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF ||
         error == ETXTBSY;
}

}  // namespace

int CopyRest(int in, int out, bool& writing) {
  writing = false;
  for (;;) {
    const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, KERNEL_COPY_CHUNK, 0);
    if (copied > 0) continue;
    if (copied == 0) return 0;
    if (errno == EINTR) continue;
    if (KernelCannotCopy(errno)) break;
    writing = IsWriteSideError(errno);
    return errno;
  }
  // Both descriptors kept their offsets: the blocks go on from there.
  std::vector<char> buffer(COPY_BLOCK_SIZE);
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t written = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
      if (written < 0) {
        if (errno == EINTR) continue;
        writing = true;
        return errno;
      }
      done += written;
    }
  }
}

}  // namespace ovrin
