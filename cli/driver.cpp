#include "cli/driver.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/diagnostics.h"
#include "cli/options.h"
#include "cli/platform.h"
#include "cli/texts.h"
#include "codec/base64.h"

namespace tessaly {
namespace {

struct settings {
  bool decode_mode = false;
  bool ignore_garbage = false;
  std::int32_t wrap_width = 76;
  const char* input_string = nullptr;
  // The argument that holds input_string, perhaps after "-s" or "--string=".
  std::int32_t input_string_index = 0;
};

// Output that cannot be written is a failure, never a silent success.
void finish_output() {
  if (std::fflush(stdout) == EOF || std::ferror(stdout))
    fatal_errno(1, "%s", write_error);
}

void put_text(const char* text) {
  if (std::fputs(text, stdout) == EOF) fatal_errno(1, "%s", write_error);
}

[[noreturn]] void print_help() {
  if (std::printf(usage_format, program_name) < 0)
    fatal_errno(1, "%s", write_error);
  put_text(description);
  put_text("\n\n");
  put_text(help_text);
  finish_output();
  std::exit(0);
}

[[noreturn]] void print_version() {
  if (std::printf("%s %s\n", display_name, version_text) < 0)
    fatal_errno(1, "%s", write_error);
  put_text(version_notice);
  finish_output();
  std::exit(0);
}

// The argument of the option just scanned, as the user typed it: the end
// of the command-line argument that the scanner has just stepped past.
typed_argument typed_option_argument(int argc, char** argv) {
  const std::int32_t index = opt_index - 1;
  return {argc, argv, index, static_cast<int>(opt_arg - argv[index])};
}

// A column count: digits after optional white space and sign, nothing
// after them; beyond 32 bits it saturates, so a huge count means no wrap
// in practice and a huge negative one is still rejected.
std::int32_t parse_wrap_width(const char* text, const typed_argument& typed) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (value < 0 || *end != '\0') fatal_quoting(1, wrap_error_format, typed);
  return value > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(value);
}

settings scan_options(int argc, char** argv) {
  settings s;
  for (;;) {
    const std::int32_t option = next_option(argc, argv);
    switch (option) {
      case -1:
        return s;
      case 'd':
        s.decode_mode = true;
        break;
      case 'i':
        s.ignore_garbage = true;
        break;
      case 's':
        s.input_string = opt_arg;
        // The scanner has just stepped past the argument that holds it.
        s.input_string_index = opt_index - 1;
        break;
      case 'w':
        s.wrap_width = parse_wrap_width(opt_arg, typed_option_argument(argc, argv));
        break;
      case 'h':
        print_help();
      case 'v':
        print_version();
      default:
        std::fprintf(stderr, help_hint_format, program_name);
        std::exit(1);
    }
  }
}

// A failure of the input, named as the user typed it: the operand, or
// "-" for standard input when there is none.
[[noreturn]] void fail_on_input(int argc, char** argv, int operand) {
  if (operand < argc) fatal_errno_quoting(1, "%s", typed_argument{argc, argv, operand, 0});
  fatal_errno(1, "%s", "-");
}

// The input: the -s text, standard input, or the operand argv[operand]
// named name.
std::FILE* open_input(const settings& s, int argc, char** argv, int operand,
                      const char* name) {
  if (s.input_string != nullptr) {
    // Its bytes in the code page would be another text: "?" and look-alikes.
    if (!argument_is_exact(argc, argv, s.input_string_index))
      fatal(1, "%s", unrepresentable_text_error);
    errno = 0;
    std::FILE* stream = open_text_stream(s.input_string);
    if (stream == nullptr) fatal_errno(1, "%s", temporary_file_error);
    return stream;
  }
  if (std::strcmp(name, "-") == 0) {
    set_binary_mode(stdin);
    enlarge_pipe(stdin);
    return stdin;
  }
  std::FILE* stream = open_named_file(argc, argv, operand);
  if (stream == nullptr) fail_on_input(argc, argv, operand);
  return stream;
}

}  // namespace

int run_program(int argc, char** argv) {
  guard_standard_streams();
  const settings s = scan_options(argc, argv);
  const char* name = opt_index < argc ? argv[opt_index] : "-";
  std::FILE* input = open_input(s, argc, argv, opt_index, name);
  // Decoded bytes must pass unchanged; encoded text gets the platform's
  // line ends from the encoder itself.
  set_binary_mode(stdout);
  enlarge_pipe(stdout);
  // The streams write in pieces of many KiB: through the stream's own
  // small buffer, each would cost a second write call.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const line_end eol = text_lines_end_in_crlf ? line_end::crlf : line_end::lf;

  const stream_status status =
      s.decode_mode ? decode_stream(input, stdout, s.ignore_garbage)
                    : encode_stream(input, stdout, s.wrap_width, eol);
  switch (status) {
    case stream_status::ok:
      break;
    case stream_status::read_error:
      fail_on_input(argc, argv, opt_index);
    case stream_status::write_error:
      fatal_errno(1, "%s", write_error);
    case stream_status::invalid_input:
      fatal(1, "%s", invalid_input_error);
  }
  finish_output();
  if (input != stdin && std::fclose(input) == EOF) fail_on_input(argc, argv, opt_index);
  return 0;
}

}  // namespace tessaly
