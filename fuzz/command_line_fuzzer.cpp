// The option scanner and the whole program on random argument vectors and
// input. The scan runs in this process, where it is guided by coverage; it
// also predicts the outcome, which the program must then show: help,
// version, a diagnostic with status 1, or a normal run whose output, for
// standard input or -s, the reference gives exactly. A run that returns
// goes on in this process too; one that ends the process (and every run
// on a full output) goes to a child.
//
// Input: one control byte, then NUL-separated arguments; the last piece is
// standard input.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <stdio_ext.h>
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

struct child_result {
  int status;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// The children come from a server forked once at start-up, which starts
// each with vfork: a fork of the fuzzer for each input copied its page
// tables, and both sides then faulted their pages in again, which took
// nearly all of the time. A child of vfork shares the server's memory
// instead, so what a run leaves there stays out of the fuzzer. The server
// and this process share the descriptors below; a request names the kernel
// and the output, and the arguments and input are in the shared files.
struct fork_server {
  int request = -1;   // to the server: one request_header a run
  int response = -1;  // from the server: the child's status
  int args = -1;      // the arguments after argv[0], each ended by a zero byte
  int in = -1;        // the child's standard input
  int out = -1;       // and its standard output unless that is /dev/full
  int err = -1;
};

struct request_header {
  std::uint32_t kernel;  // index into available_kernels()
  std::uint32_t full_output;
  std::uint32_t argc;
};

fork_server server;
const char* empty_directory = nullptr;

int memory_file() {
  const int fd = memfd_create("fuzz", 0);
  if (fd < 0) std::abort();
  return fd;
}

void put_file(int fd, std::string_view contents) {
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, contents.data(), contents.size(), 0) != static_cast<ssize_t>(contents.size()))
    std::abort();
}

std::string file_contents(int fd) {
  std::string all;
  char buffer[65536];
  for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, static_cast<off_t>(all.size()))) > 0;)
    all.append(buffer, static_cast<std::size_t>(n));
  return all;
}

bool read_exactly(int fd, void* data, std::size_t size) {
  auto* at = static_cast<char*>(data);
  while (size != 0) {
    const ssize_t n = read(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Set in a child while it runs the program; the server clears it again,
// since a child of vfork shares its memory.
bool in_child = false;

}  // namespace

// The program's exit() (linked with --wrap=exit) ends a child at once:
// none of the fuzzer's exit handlers run there, and none of the server's
// shared state is torn down.
extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status) {
  if (!in_child) __real_exit(status);
  std::fflush(nullptr);
  _exit(status);
}

namespace {

[[noreturn]] void run_in_child(const request_header& h, int argc, char** argv) {
  in_child = true;
  alarm(20);  // a hang shows as a signal
  const int out = h.full_output ? open("/dev/full", O_WRONLY) : server.out;
  if (dup2(server.in, 0) < 0 || dup2(out, 1) < 0 || dup2(server.err, 2) < 0) _exit(99);
  // The shared files keep one offset for all: start each at the beginning.
  lseek(0, 0, SEEK_SET);
  lseek(1, 0, SEEK_SET);
  lseek(2, 0, SEEK_SET);
  // The standard streams are the server's, used by earlier children: as
  // at start-up, with no error, end or buffered bytes.
  for (std::FILE* stream : {stdin, stdout, stderr}) {
    __fpurge(stream);
    std::clearerr(stream);
  }
  if (chdir(empty_directory) != 0) _exit(99);
  tessaly::use_kernel(*tessaly::available_kernels()[h.kernel]);
  tessaly::reset_option_scanner();
  std::exit(tessaly::run_program(argc, argv));
}

[[noreturn]] void serve() {
  // Ends with the fuzzer, whichever way that goes.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  for (request_header h; read_exactly(server.request, &h, sizeof h);) {
    std::string args = file_contents(server.args);
    std::vector<char*> argv{const_cast<char*>("base64")};
    for (std::size_t at = 0; argv.size() <= h.argc && at < args.size(); at = args.find('\0', at) + 1)
      argv.push_back(args.data() + at);
    argv.push_back(nullptr);
    // vfork: the child shares the server's pages, so that nothing is
    // copied and no page faults in again; the server waits until it ends.
    const pid_t pid = vfork();
    if (pid < 0) _exit(98);
    if (pid == 0) run_in_child(h, static_cast<int>(argv.size() - 1), argv.data());
    in_child = false;
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    if (write(server.response, &status, sizeof status) != sizeof status) _exit(97);
  }
  _exit(0);
}

void start_fork_server() {
  int request[2];
  int response[2];
  if (pipe(request) != 0 || pipe(response) != 0) std::abort();
  server.args = memory_file();
  server.in = memory_file();
  server.out = memory_file();
  server.err = memory_file();
  const pid_t pid = fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    close(request[1]);
    close(response[0]);
    server.request = request[0];
    server.response = response[1];
    serve();
  }
  close(request[0]);
  close(response[1]);
  server.request = request[1];
  server.response = response[0];
}

child_result run_child(int argc, char** argv, std::string_view input, bool full_output,
                       std::size_t kernel) {
  std::string args;
  for (int k = 1; k < argc; ++k) args.append(argv[k]).push_back('\0');
  put_file(server.args, args);
  put_file(server.in, input);
  put_file(server.out, {});
  put_file(server.err, {});
  const request_header h{static_cast<std::uint32_t>(kernel), full_output,
                         static_cast<std::uint32_t>(argc - 1)};
  int status = 0;
  if (write(server.request, &h, sizeof h) != sizeof h || !read_exactly(server.response, &status, sizeof status)) {
    std::fprintf(stderr, "command line: the fork server has gone\n");
    std::abort();
  }
  return {status, full_output ? std::string() : file_contents(server.out), file_contents(server.err)};
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

// Whether the run ends by returning from run_program: a run on standard
// input or a -s text that encodes, or decodes valid text. Every other
// outcome ends the process, so it needs a child.
bool returns(const prediction& p, std::string_view input) {
  if (p.kind != outcome::run || (p.input_string == nullptr && p.operand != 0)) return false;
  const std::string_view data = p.input_string != nullptr ? std::string_view(p.input_string) : input;
  return !p.decode_mode || reference::decode(data, p.ignore_garbage).ok;
}

// Such a run goes on here, on memory streams in place of the standard
// ones: no fork, and coverage guides it. Should it end the process after
// all, the fuzzer reports that as a failure of this input.
child_result run_here(int argc, char** argv, std::string_view input, std::size_t kernel) {
  chunked_input source{input};
  collected_output out;
  collected_output err;
  std::FILE* const saved[] = {stdin, stdout, stderr};
  stdin = open_chunked_input(source);
  stdout = open_collected_output(out);
  stderr = open_collected_output(err);
  if (stdin == nullptr || stdout == nullptr || stderr == nullptr) std::abort();
  tessaly::use_kernel(*tessaly::available_kernels()[kernel]);
  const int status = tessaly::run_program(argc, argv);
  std::fclose(stdin);
  std::fclose(stdout);
  std::fclose(stderr);
  stdin = saved[0];
  stdout = saved[1];
  stderr = saved[2];
  tessaly::reset_option_scanner();
  return {status, std::move(out.bytes), std::move(err.bytes)};
}

char directory_template[] = "/tmp/tessaly-fuzz-XXXXXX";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  empty_directory = mkdtemp(directory_template);
  if (empty_directory == nullptr) std::abort();
  start_fork_server();
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

  const std::size_t kernel = (control >> 1) % tessaly::available_kernels().size();
  const child_result normal = returns(p, input) ? run_here(argc, argv.data(), input, kernel)
                                                : run_child(argc, argv.data(), input, false, kernel);
  if (normal.status >= 128) fail("ended by a signal", normal);
  check_outcome(p, normal, input, argv.data());
  if (control & 1)
    check_full_output(p, normal, run_child(argc, argv.data(), input, true, kernel));
  return 0;
}
