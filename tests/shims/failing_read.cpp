// Preloaded into the program by the black-box tests: after the number of
// bytes in TESSALY_FAIL_READ_AFTER, reading the input fails with EIO.
//
// It wraps fread, the call the program reads with, because glibc's stdio
// reaches read() through internal calls that no preloaded library can
// take over. The failure is the one stdio itself reports: a short count,
// the stream's error flag and errno.
#include <dlfcn.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace {

using fread_function = std::size_t (*)(void*, std::size_t, std::size_t, std::FILE*);

fread_function real_fread() {
  static const auto real = reinterpret_cast<fread_function>(dlsym(RTLD_NEXT, "fread"));
  return real;
}

// Bytes still to deliver before the failure; negative: never fail.
long long& remaining() {
  static long long left = [] {
    const char* text = std::getenv("TESSALY_FAIL_READ_AFTER");
    return text == nullptr ? -1LL : std::atoll(text);
  }();
  return left;
}

}  // namespace

extern "C" std::size_t fread(void* buffer, std::size_t size, std::size_t count,
                             std::FILE* stream) {
  long long& left = remaining();
  if (left < 0 || size == 0) return real_fread()(buffer, size, count, stream);
  if (size * count <= static_cast<unsigned long long>(left)) {
    const std::size_t got = real_fread()(buffer, size, count, stream);
    left -= static_cast<long long>(got * size);
    return got;
  }
  // Deliver what is left, then fail as a device error would, unless the
  // input ends first.
  const auto want = static_cast<std::size_t>(left);
  const std::size_t got = real_fread()(buffer, 1, want, stream);
  left -= static_cast<long long>(got);
  if (got == want) {
    stream->_flags |= _IO_ERR_SEEN;
    errno = EIO;
  }
  return got / size;
}
