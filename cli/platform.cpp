#include "cli/platform.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tessaly {

#if defined(_WIN32)

void guard_standard_streams() {}

void set_binary_mode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

std::FILE* open_text_stream(const char* text) {
  std::FILE* stream = nullptr;
  const errno_t error = tmpfile_s(&stream);
  if (error != 0) {
    errno = error;
    return nullptr;
  }
  if (stream == nullptr) return nullptr;
  std::fputs(text, stream);
  std::rewind(stream);
  return stream;
}

#else

void guard_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Opened against its use: a read of 0 or a write of 1 and 2 fails
    // with EBADF, just as on the closed descriptor.
    const int spare = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (spare != -1 && spare != fd) {
      dup2(spare, fd);
      close(spare);
    }
  }
}

void set_binary_mode(std::FILE*) {}

std::FILE* open_text_stream(const char* text) {
  // A stream over the argument itself: no temporary file, so no writable
  // directory is needed and nothing is copied.
  return fmemopen(const_cast<char*>(text), std::strlen(text), "rb");
}

#endif

}  // namespace tessaly
