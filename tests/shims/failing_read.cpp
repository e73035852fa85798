// Preloaded into the program by the black-box tests to make its input
// awkward: after the number of bytes in TESSALY_FAIL_READ_AFTER, reading
// fails with EIO; with TESSALY_READ_PIECES=N, every read hands over 1 to N
// bytes (a repeatable pseudo-random count), as a slow producer would.
//
// It wraps read(), the call the program reads its input with, and its
// fortified form. Only descriptors other than standard output and error
// are touched.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace {

using read_function = ssize_t (*)(int, void*, std::size_t);

read_function real_read() {
  static const auto real = reinterpret_cast<read_function>(dlsym(RTLD_NEXT, "read"));
  return real;
}

long long setting(const char* name) {
  const char* text = std::getenv(name);
  return text == nullptr ? -1LL : std::atoll(text);
}

// Bytes still to deliver before the failure; negative: never fail.
long long& remaining() {
  static long long left = setting("TESSALY_FAIL_READ_AFTER");
  return left;
}

// The most bytes one read hands over; 0 or less: as many as asked.
std::size_t piece_limit() {
  static const long long most = setting("TESSALY_READ_PIECES");
  if (most <= 0) return 0;
  static unsigned seed = 1;
  seed = seed * 1103515245u + 12345u;  // any cheap, repeatable sequence
  return 1 + (seed >> 8) % static_cast<unsigned long long>(most);
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, std::size_t size) {
  if (fd == 1 || fd == 2 || size == 0) return real_read()(fd, buffer, size);
  const std::size_t most = piece_limit();
  if (most != 0 && size > most) size = most;
  long long& left = remaining();
  if (left >= 0 && size > static_cast<unsigned long long>(left)) {
    // Deliver what is left, then fail as a device error would, unless the
    // input ends first.
    if (left == 0) {
      errno = EIO;
      return -1;
    }
    size = static_cast<std::size_t>(left);
  }
  const ssize_t got = real_read()(fd, buffer, size);
  if (got > 0 && left >= 0) left -= got;
  return got;
}

// Where the build fortifies calls and knows the buffer's size, the
// program calls this instead of read().
extern "C" ssize_t __read_chk(int fd, void* buffer, std::size_t size, std::size_t buffer_size) {
  if (size > buffer_size) std::abort();
  return read(fd, buffer, size);
}
