#include "cli/diagnostics.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tessaly {

void fatal(std::int32_t status, const char* format, ...) {
  std::fprintf(stderr, "%s: ", program_name);
  if (format != nullptr) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
  }
  std::fputc('\n', stderr);
  std::exit(status);
}

void fatal_errno(std::int32_t status, const char* format, ...) {
  // Writing the prefix may itself change errno.
  const int saved = errno;
  std::fprintf(stderr, "%s: ", program_name);
  if (format != nullptr) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputs(": ", stderr);
  }
  std::fprintf(stderr, "%s\n", std::strerror(saved));
  std::exit(status);
}

}  // namespace tessaly
