// The command-line scanner: short options clustered in the classic way
// ("-dw10"), long options with "=" or a separate argument, unique prefixes
// of long names, and "--" to end the options.
#pragma once

#include <cstdint>

namespace tessaly {

struct long_option {
  const char* name;  // without "--"; null ends the table
  std::int32_t has_arg;  // 0: none, 1: required
  std::int32_t* flag;  // when set, a match stores val there and returns 0
  std::int32_t val;
};

// Order matters: an abbreviation takes the first row it is a prefix of.
inline constexpr long_option long_options[] = {
    {"decode", 0, nullptr, 'd'},
    {"wrap", 1, nullptr, 'w'},
    {"ignore-garbage", 0, nullptr, 'i'},
    {"string", 1, nullptr, 's'},
    {"help", 0, nullptr, 'h'},
    {"version", 0, nullptr, 'v'},
    {nullptr, 0, nullptr, 0},
};

inline constexpr char short_options[] = "hvdis:w:";

// Scanner state, kept between calls.
extern std::int32_t opt_index;  // next argv element; afterwards the first operand
extern char* opt_arg;  // argument of the option just returned, or null
extern std::int32_t opt_letter;  // the short option character just examined
extern std::int32_t opt_reset;  // non-zero: drop any cluster in progress
extern const char* opt_place;  // rest of the cluster being scanned

// Returns the next option's letter, '?' after printing a diagnostic to
// standard error, or -1 when the options end.
std::int32_t next_option(int argc, char* const* argv);

// Puts the scanner back to its state at start-up, for a new scan.
void reset_option_scanner();

}  // namespace tessaly
