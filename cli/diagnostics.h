// How the program reports an error: one line on standard error, prefixed
// with the program's name, with or without the system's text for errno and
// a quoted argument, then the end of the process.
#pragma once

#include <cstdint>

#include "cli/platform.h"

#if defined(__GNUC__) || defined(__clang__)
#define TESSALY_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define TESSALY_PRINTF_FORMAT(f, a)
#endif

namespace tessaly {

inline constexpr char program_name[] = "base64";

// "base64: " and the formatted message.
[[noreturn]] void fatal(std::int32_t status, const char* format, ...)
    TESSALY_PRINTF_FORMAT(2, 3);

// "base64: ", the formatted message, ": " and the system's text for the
// errno in force when it was called.
[[noreturn]] void fatal_errno(std::int32_t status, const char* format, ...)
    TESSALY_PRINTF_FORMAT(2, 3);

// As fatal and fatal_errno, for a message that quotes what the user typed:
// the format's one conversion, "%s", stands for it, and a console shows it
// as typed (see write_line_quoting).
[[noreturn]] void fatal_quoting(std::int32_t status, const char* format,
                                const typed_argument& typed);
[[noreturn]] void fatal_errno_quoting(std::int32_t status, const char* format,
                                      const typed_argument& typed);

}  // namespace tessaly
