#include "cli/diagnostics.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/platform.h"
#include "codec/input_runs.h"

namespace tessaly {
namespace {

// The line's own text on either side of what it quotes: the program's
// messages and the system's error texts fit with room to spare.
constexpr std::size_t part_size = 512;

// Writes "base64: ", the message (before, the typed text, after), then,
// for a system error, ": " (when there is a message) and its text; then
// ends the process. Every line is built here, once, and the platform
// writes it as the stream needs.
[[noreturn]] void report(std::int32_t status, const int* error, const char* before,
                         const typed_argument* typed, const char* after, bool has_message) {
  char head[part_size];
  char tail[part_size];
  std::snprintf(head, sizeof head, "%s: %s", program_name, before);
  std::snprintf(tail, sizeof tail, "%s%s%s\n", after, error != nullptr && has_message ? ": " : "",
                error != nullptr ? std::strerror(*error) : "");
  write_line_quoting(stderr, head, typed, tail);
  // A read that nobody will use may take as long as its medium likes, and
  // the runtime's exit would wait on it where it closes the input.
  if (read_left_behind()) end_process_at_once(status);
  std::exit(status);
}

void format_message(char (&message)[part_size], const char* format, std::va_list args) {
  message[0] = '\0';
  if (format != nullptr) std::vsnprintf(message, sizeof message, format, args);
}

// The format's text before and after its "%s" is taken as it stands.
[[noreturn]] void report_quoting(std::int32_t status, const int* error, const char* format,
                                 const typed_argument& typed) {
  const char* conversion = std::strstr(format, "%s");
  if (conversion == nullptr) report(status, error, format, nullptr, "", true);
  char before[part_size];
  std::snprintf(before, sizeof before, "%.*s", static_cast<int>(conversion - format), format);
  report(status, error, before, &typed, conversion + 2, true);
}

}  // namespace

void fatal(std::int32_t status, const char* format, ...) {
  char message[part_size];
  std::va_list args;
  va_start(args, format);
  format_message(message, format, args);
  va_end(args);
  report(status, nullptr, message, nullptr, "", format != nullptr);
}

void fatal_errno(std::int32_t status, const char* format, ...) {
  // Building the message may itself change errno.
  const int saved = errno;
  char message[part_size];
  std::va_list args;
  va_start(args, format);
  format_message(message, format, args);
  va_end(args);
  report(status, &saved, message, nullptr, "", format != nullptr);
}

void fatal_quoting(std::int32_t status, const char* format, const typed_argument& typed) {
  report_quoting(status, nullptr, format, typed);
}

void fatal_errno_quoting(std::int32_t status, const char* format, const typed_argument& typed) {
  const int saved = errno;
  report_quoting(status, &saved, format, typed);
}

}  // namespace tessaly
