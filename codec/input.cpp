#include "codec/input.h"

#include <cerrno>
#include <climits>

#include <sys/stat.h>
#include <sys/types.h>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

#if !defined(_WIN32)
// The build asks for 64-bit offsets (_FILE_OFFSET_BITS): without them a
// 32-bit build would give -1 for every file or position past 2 GiB.
static_assert(sizeof(off_t) >= 8, "file offsets must be 64-bit");
#endif

namespace tessaly {
namespace {

std::ptrdiff_t read_descriptor(int fd, void* buffer, std::size_t size) {
#if defined(_WIN32)
  const auto count = static_cast<unsigned>(size < INT_MAX ? size : INT_MAX);
  return _read(fd, buffer, count);
#else
  for (;;) {
    const ssize_t got = read(fd, buffer, size < SSIZE_MAX ? size : SSIZE_MAX);
    if (got >= 0 || errno != EINTR) return got;
  }
#endif
}

input_reader stand_in = nullptr;

int descriptor_of(std::FILE* stream) {
#if defined(_WIN32)
  return _fileno(stream);
#else
  return fileno(stream);
#endif
}

}  // namespace

void use_input_reader(input_reader reader) { stand_in = reader; }

std::ptrdiff_t read_available(std::FILE* input, void* buffer, std::size_t size) {
  if (stand_in != nullptr) return stand_in(input, buffer, size);
  // The streams are the input's only reader, so nothing waits in the
  // stream's own buffer when its descriptor is read directly.
  const int fd = descriptor_of(input);
  if (fd >= 0) return read_descriptor(fd, buffer, size);
  const std::size_t got = std::fread(buffer, 1, size, input);
  if (got == 0 && std::ferror(input)) return -1;
  return static_cast<std::ptrdiff_t>(got);
}

long long file_bytes_left(std::FILE* stream) {
  const int fd = descriptor_of(stream);
  const int saved = errno;
  long long left = -1;
#if defined(_WIN32)
  struct _stati64 st;
  if (fd >= 0 && _fstati64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG) {
    const long long at = _lseeki64(fd, 0, SEEK_CUR);
    if (at >= 0) left = st.st_size > at ? st.st_size - at : 0;
  }
#else
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0) {
    if (S_ISBLK(st.st_mode)) {
      left = LLONG_MAX;
    } else if (S_ISREG(st.st_mode)) {
      const off_t at = lseek(fd, 0, SEEK_CUR);
      if (at >= 0) left = st.st_size > at ? st.st_size - at : 0;
    }
  }
#endif
  errno = saved;
  return left;
}

int processors_to_run_on() {
#if defined(_WIN32)
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) == 0) return 1;
  int count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count;
#elif defined(__linux__)
  cpu_set_t set;
  const int saved = errno;
  const bool known = sched_getaffinity(0, sizeof set, &set) == 0;
  errno = saved;
  return known ? CPU_COUNT(&set) : 1;
#else
  const long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<int>(count) : 1;
#endif
}

}  // namespace tessaly
