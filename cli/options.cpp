#include "cli/options.h"

#include <cstdio>
#include <cstring>

#include "cli/platform.h"

namespace tessaly {

std::int32_t opt_index = 1;
char* opt_arg = nullptr;
std::int32_t opt_letter = 0;
std::int32_t opt_reset = 0;
const char* opt_place = "";

namespace {

constexpr char no_cluster[] = "";

// The message and the long option as the user typed it, after its "--".
std::int32_t complain(const char* message, const typed_argument& option) {
  write_line_quoting(stderr, message, &option, "\n");
  return '?';
}

std::int32_t complain_short(const char* message, char letter) {
  std::fprintf(stderr, "%s '-%c'\n", message, letter);
  return '?';
}

bool is_prefix(const long_option& row, const char* text, std::size_t n) {
  return std::strncmp(row.name, text, n) == 0;
}

// The argument is "--" followed by t, and t is not empty.
std::int32_t scan_long_option(const char* t, int argc, char* const* argv) {
  const typed_argument typed{argc, argv, opt_index, 2};
  const char* equals = std::strchr(t, '=');
  const bool has_value = equals != nullptr && equals != t;
  const std::size_t n = has_value ? static_cast<std::size_t>(equals - t)
                                  : std::strlen(t);
  if (has_value) opt_arg = const_cast<char*>(equals + 1);
  ++opt_index;

  const long_option* match = long_options;
  while (match->name != nullptr && !is_prefix(*match, t, n)) ++match;
  if (match->name == nullptr) return complain("illegal long option --", typed);

  if (std::strcmp(t, match->name) != 0) {
    for (const long_option* row = match + 1; row->name != nullptr; ++row)
      if (is_prefix(*row, t, n))
        return complain("ambiguous long option --", typed);
  }
  if (match->has_arg == 1 && !has_value) {
    if (opt_index >= argc)
      return complain("this long option needs an argument --", typed);
    opt_arg = argv[opt_index++];
  }
  if (match->has_arg == 0 && has_value)
    return complain("this long option does not take an argument --", typed);
  if (match->flag != nullptr) {
    *match->flag = match->val;
    return 0;
  }
  return match->val;
}

std::int32_t scan_short_option(int argc, char* const* argv) {
  const char c = *opt_place++;
  opt_letter = static_cast<signed char>(c);
  const char* spec = c == ':' ? nullptr : std::strchr(short_options, c);
  const bool at_end = *opt_place == '\0';

  if (spec == nullptr) {
    // A "-" inside a cluster ends the options; the whole argument becomes
    // the first operand.
    if (c == '-') return -1;
    if (at_end) ++opt_index;
    return complain_short("illegal option", c);
  }
  if (spec[1] != ':') {
    if (at_end) ++opt_index;
    return c;
  }
  if (!at_end) {
    opt_arg = const_cast<char*>(opt_place);
    ++opt_index;
  } else if (++opt_index < argc) {
    opt_arg = argv[opt_index++];
  } else {
    opt_place = no_cluster;
    return complain_short("option requires an argument", c);
  }
  opt_place = no_cluster;
  return c;
}

}  // namespace

std::int32_t next_option(int argc, char* const* argv) {
  opt_arg = nullptr;
  if (opt_reset != 0 || *opt_place == '\0') {
    opt_reset = 0;
    const char* arg = opt_index < argc ? argv[opt_index] : nullptr;
    if (arg == nullptr || arg[0] != '-') {
      opt_place = no_cluster;
      return -1;
    }
    opt_place = arg + 1;
    if (arg[1] == '\0') {  // "-" alone is the operand for standard input
      opt_place = no_cluster;
      return -1;
    }
    if (arg[1] == '-') {
      opt_place = no_cluster;
      if (arg[2] == '\0') {
        ++opt_index;
        return -1;
      }
      return scan_long_option(arg + 2, argc, argv);
    }
  }
  return scan_short_option(argc, argv);
}

void reset_option_scanner() {
  opt_index = 1;
  opt_arg = nullptr;
  opt_letter = 0;
  opt_reset = 0;
  opt_place = no_cluster;
}

}  // namespace tessaly
