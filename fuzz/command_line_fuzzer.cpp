// The option scanner and the whole program on random argument vectors and
// input. The scan runs in this process, where it is guided by coverage; it
// also predicts the outcome, which a forked child running the program must
// then show: help, version, a diagnostic with status 1, or a normal run
// whose output, for standard input or -s, the reference gives exactly.
//
// Input: one control byte, then NUL-separated arguments; the last piece is
// standard input.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/diagnostics.h"
#include "cli/driver.h"
#include "cli/options.h"
#include "cli/texts.h"
#include "codec/kernels.h"
#include "fuzz/fuzz_input.h"
#include "tests/reference/reference_codec.h"
#include "tests/support/memory_stream.h"

namespace {

enum class outcome { help, version, hint, bad_wrap, run };

struct prediction {
  outcome kind = outcome::run;
  std::string scanner_text;  // what the scanner wrote to standard error
  std::string bad_wrap_text;
  bool decode_mode = false;
  bool ignore_garbage = false;
  std::int32_t wrap_width = 76;
  const char* input_string = nullptr;
  int operand = 0;  // index of the input name in argv, or 0 for "-"
};

// The driver's reading of the options, from its rules.
prediction predict(int argc, char** argv) {
  prediction p;
  collected_output scanner_errors;
  std::FILE* const saved = stderr;
  stderr = open_collected_output(scanner_errors);
  tessaly::reset_option_scanner();
  for (bool scanning = true; scanning;) {
    const std::int32_t option = tessaly::next_option(argc, argv);
    switch (option) {
      case -1:
        scanning = false;
        break;
      case 'd': p.decode_mode = true; break;
      case 'i': p.ignore_garbage = true; break;
      case 's': p.input_string = tessaly::opt_arg; break;
      case 'w': {
        char* end = nullptr;
        const long value = std::strtol(tessaly::opt_arg, &end, 10);
        if (value < 0 || *end != '\0') {
          p.kind = outcome::bad_wrap;
          p.bad_wrap_text = tessaly::opt_arg;
          scanning = false;
        } else {
          p.wrap_width = value > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(value);
        }
        break;
      }
      case 'h': p.kind = outcome::help; scanning = false; break;
      case 'v': p.kind = outcome::version; scanning = false; break;
      default: p.kind = outcome::hint; scanning = false; break;
    }
  }
  std::fclose(stderr);
  stderr = saved;
  p.scanner_text = scanner_errors.bytes;
  if (tessaly::opt_index < argc && std::strcmp(argv[tessaly::opt_index], "-") != 0)
    p.operand = tessaly::opt_index;
  tessaly::reset_option_scanner();
  return p;
}

std::string read_all(int fd) {
  std::string all;
  lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<std::size_t>(n));
  return all;
}

int memory_file(std::string_view contents) {
  const int fd = memfd_create("fuzz", 0);
  if (fd < 0 || write(fd, contents.data(), contents.size()) != static_cast<ssize_t>(contents.size()))
    std::abort();
  lseek(fd, 0, SEEK_SET);
  return fd;
}

struct child_result {
  int status;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// The program's own exit() ends the child here, before libFuzzer's exit
// handler can take it for a fault of this target.
void leave_child(int status, void*) {
  std::fflush(nullptr);
  _exit(status);
}

child_result run_child(int argc, char** argv, std::string_view input, bool full_output,
                       const char* directory, const tessaly::codec_kernel& kernel) {
  const int in = memory_file(input);
  const int out = full_output ? open("/dev/full", O_WRONLY) : memory_file({});
  const int err = memory_file({});
  const pid_t pid = fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    on_exit(leave_child, nullptr);
    alarm(20);  // a hang shows as a signal
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(directory) != 0) _exit(99);
    tessaly::use_kernel(kernel);
    std::exit(tessaly::run_program(argc, argv));
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  child_result r{WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus),
                 full_output ? std::string() : read_all(out), read_all(err)};
  close(in);
  close(out);
  close(err);
  return r;
}

[[noreturn]] void fail(const char* what, const child_result& r) {
  std::fprintf(stderr, "command line: %s\nstatus %d\nstdout %zu bytes\nstderr: %s\n", what,
               r.status, r.out.size(), r.err.c_str());
  std::abort();
}

bool is_one_diagnostic(const std::string& err, std::string_view start) {
  // The start may hold line breaks of its own (a file name can).
  return err.compare(0, start.size(), start) == 0 && err.size() > start.size() + 1 &&
         err.back() == '\n' && err.find('\n', start.size()) == err.size() - 1;
}

std::string help_output() {
  std::string text = "Usage: ";
  text += tessaly::program_name;
  text += " [OPTION]...  [FILE]\n";
  return text + tessaly::description + "\n\n" + tessaly::help_text;
}

std::string version_output() {
  return std::string(tessaly::display_name) + " " + tessaly::version_text + "\n" +
         tessaly::version_notice;
}

void check_outcome(const prediction& p, const child_result& r, std::string_view input,
                   char** argv) {
  const std::string hint = "Try `base64 --help' for more information.\n";
  switch (p.kind) {
    case outcome::help:
      if (r.status != 0 || !r.err.empty() || r.out != help_output()) fail("help", r);
      return;
    case outcome::version:
      if (r.status != 0 || !r.err.empty() || r.out != version_output()) fail("version", r);
      return;
    case outcome::hint:
      if (r.status != 1 || !r.out.empty() || r.err != p.scanner_text + hint) fail("hint", r);
      return;
    case outcome::bad_wrap:
      if (r.status != 1 || !r.out.empty() ||
          r.err != "base64: Invalid argument for wrap '" + p.bad_wrap_text + "' (expect nonzero integer)\n")
        fail("bad wrap value", r);
      return;
    case outcome::run:
      break;
  }
  if (p.input_string == nullptr && p.operand != 0) {
    // Nothing exists in the child's directory but "." and "..".
    if (r.status != 1 || !r.out.empty() ||
        !is_one_diagnostic(r.err, std::string("base64: ") + argv[p.operand] + ": "))
      fail("input file", r);
    return;
  }
  const std::string_view data = p.input_string != nullptr ? std::string_view(p.input_string) : input;
  if (!p.decode_mode) {
    if (r.status != 0 || !r.err.empty() || r.out != reference::encode(data, p.wrap_width))
      fail("encoding differs from the reference", r);
    return;
  }
  const reference::decoded want = reference::decode(data, p.ignore_garbage);
  if (r.out != want.out) fail("decoding differs from the reference", r);
  if (want.ok ? (r.status != 0 || !r.err.empty())
              : (r.status != 1 || r.err != "base64: invalid input\n"))
    fail("decoding status differs from the reference", r);
}

// The same run with standard output on a full device: a failure that
// shows, never status 0 when there was something to write.
void check_full_output(const prediction& p, const child_result& normal, const child_result& r) {
  const bool wrote = !normal.out.empty();
  if (r.status >= 128) fail("signal with a full output", r);
  if (!wrote) {
    if (r.status != normal.status || r.err != normal.err) fail("full output changed a run without output", r);
    return;
  }
  if (r.status != 1) fail("lost output reported as success", r);
  if (normal.status == 0 || p.kind == outcome::help || p.kind == outcome::version) {
    if (r.err != "base64: write error: No space left on device\n") fail("write error text", r);
  } else if (r.err != normal.err && r.err != "base64: write error: No space left on device\n") {
    fail("diagnostic with a full output", r);
  }
}

char directory_template[] = "/tmp/tessaly-fuzz-XXXXXX";
const char* empty_directory = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  empty_directory = mkdtemp(directory_template);
  if (empty_directory == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  fuzz_input in{bytes, size};
  const std::uint8_t control = in.take_byte();
  const std::string_view rest = in.rest();

  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t at; (at = rest.find('\0', start)) != std::string_view::npos && pieces.size() < 32;
       start = at + 1)
    pieces.emplace_back(rest.substr(start, at - start));
  const std::string_view input = rest.substr(start);

  std::vector<char*> argv{const_cast<char*>("base64")};
  for (std::string& piece : pieces) argv.push_back(piece.data());
  const int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  prediction p = predict(argc, argv.data());
  // Only the first operand is read; keep it inside the empty directory, so
  // that no run reads a real file such as a device without end.
  if (p.kind == outcome::run && p.operand != 0)
    for (char& c : pieces[static_cast<std::size_t>(p.operand - 1)])
      if (c == '/') c = '_';

  const auto kernels = tessaly::available_kernels();
  const tessaly::codec_kernel& kernel = *kernels[(control >> 1) % kernels.size()];
  const child_result normal = run_child(argc, argv.data(), input, false, empty_directory, kernel);
  if (normal.status >= 128) fail("ended by a signal", normal);
  check_outcome(p, normal, input, argv.data());
  if (control & 1)
    check_full_output(p, normal, run_child(argc, argv.data(), input, true, empty_directory, kernel));
  return 0;
}
