#include "codec/input.h"

#include <cerrno>
#include <climits>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
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

}  // namespace

void use_input_reader(input_reader reader) { stand_in = reader; }

std::ptrdiff_t read_available(std::FILE* input, void* buffer, std::size_t size) {
  if (stand_in != nullptr) return stand_in(input, buffer, size);
  // The streams are the input's only reader, so nothing waits in the
  // stream's own buffer when its descriptor is read directly.
#if defined(_WIN32)
  const int fd = _fileno(input);
#else
  const int fd = fileno(input);
#endif
  if (fd >= 0) return read_descriptor(fd, buffer, size);
  const std::size_t got = std::fread(buffer, 1, size, input);
  if (got == 0 && std::ferror(input)) return -1;
  return static_cast<std::ptrdiff_t>(got);
}

}  // namespace tessaly
