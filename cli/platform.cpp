#include "cli/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

// The runtime exports these, but MinGW's headers do not declare them.
extern "C" _CRTIMP errno_t __cdecl tmpfile_s(FILE** stream);
struct startup_info {
  int new_mode;
};
extern "C" _CRTIMP void __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env,
                                               int glob, startup_info* info);
// Whether the start-up code globbed argv; MinGW's runtime defines it.
extern "C" int _dowildcard;
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tessaly {
namespace {

// The line as a line built with fprintf writes it: the argument's own
// bytes between the program's.
void write_line_bytes(std::FILE* stream, const char* head, const typed_argument* typed,
                      const char* tail) {
  std::fputs(head, stream);
  if (typed != nullptr) std::fputs(typed->argv[typed->index] + typed->from, stream);
  std::fputs(tail, stream);
}

}  // namespace

[[noreturn]] void end_process_at_once(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
#if defined(_WIN32)
  // msvcrt's _read holds its descriptor's lock while it waits, and both
  // its exit and ExitProcess's detaching of the runtime would take it.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
#endif
  _exit(status);
}

#if defined(_WIN32)

// Nothing to do: the runtime marks descriptors 0 to 2 open at start-up
// even when the process got no handle for them, so a file opened later
// never takes their number, and reading or writing them fails with EBADF.
void guard_standard_streams() {}

void set_binary_mode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

// A pipe's size is fixed by the program that made it.
void enlarge_pipe(std::FILE*) {}

namespace {

// Writes the text into a fresh read/write stream and rewinds it; a text
// that cannot be stored whole is an error, not a shorter input.
std::FILE* fill_text_stream(std::FILE* stream, const char* text) {
  if (std::fputs(text, stream) == EOF || std::fflush(stream) == EOF) {
    const int error = errno;
    std::fclose(stream);
    errno = error;
    return nullptr;
  }
  std::rewind(stream);
  return stream;
}

// tmpfile_s puts its file in the root of the current drive, which users
// without administrator rights often may not write. The fallback is a
// file in the user's own temporary directory, opened so that it is
// deleted when closed ("D", even if the process dies) and kept in the
// cache where possible ("T").
std::FILE* open_in_user_temp_directory() {
  char directory[MAX_PATH + 1];
  char path[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof directory, directory);
  if (length == 0 || length >= sizeof directory) return nullptr;
  if (GetTempFileNameA(directory, "b64", 0, path) == 0) return nullptr;
  std::FILE* stream = std::fopen(path, "w+bTD");
  if (stream == nullptr) {
    const int error = errno;
    DeleteFileA(path);
    errno = error;
  }
  return stream;
}

}  // namespace

std::FILE* open_text_stream(const char* text) {
  std::FILE* stream = nullptr;
  const errno_t error = tmpfile_s(&stream);
  // Success without a stream is a failure as well; errno then keeps what
  // the caller set.
  if (error != 0) errno = error;
  if (error != 0 || stream == nullptr) {
    stream = open_in_user_temp_directory();
    if (stream == nullptr) return nullptr;
  }
  return fill_text_stream(stream, text);
}

namespace {

// Whether argv holds the runtime's arguments; the start-up code hands main
// a copy of them.
bool is_runtime_argv(int argc, char* const* argv) {
  if (argc != __argc) return false;
  for (int i = 0; i < argc; ++i)
    if (std::strcmp(argv[i], __argv[i]) != 0) return false;
  return true;
}

// The wide form of argv[index], or null when argv is not the runtime's
// list or the wide list does not match it. The runtime splits and globs
// the wide command line just as it did for argv, so the indexes agree.
const wchar_t* wide_argument(int argc, char* const* argv, int index) {
  if (index < 0 || index >= argc || !is_runtime_argv(argc, argv)) return nullptr;
  int wide_argc = 0;
  wchar_t** wide_argv = nullptr;
  wchar_t** wide_env = nullptr;
  startup_info info{0};
  __wgetmainargs(&wide_argc, &wide_argv, &wide_env, _dowildcard, &info);
  return wide_argv != nullptr && wide_argc == argc ? wide_argv[index] : nullptr;
}

// Whether the ANSI code page holds every character of text, with no
// look-alike or default character standing in.
bool code_page_holds(const wchar_t* text) {
  // UTF-8 holds them all, and refuses the question about defaults.
  if (GetACP() == CP_UTF8) return true;
  BOOL used_default = FALSE;
  const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0,
                                       nullptr, &used_default);
  return size > 0 && used_default == FALSE;
}

}  // namespace

bool argument_is_exact(int argc, char** argv, int index) {
  const wchar_t* wide = wide_argument(argc, argv, index);
  return wide == nullptr || code_page_holds(wide);
}

std::FILE* open_named_file(int argc, char** argv, int index) {
  // Names the code page holds open just as they always have.
  const wchar_t* wide = wide_argument(argc, argv, index);
  if (wide != nullptr && !code_page_holds(wide)) return _wfopen(wide, L"rb");
  return std::fopen(argv[index], "rb");
}

namespace {

// Appends text in the ANSI code page, each "\n" as "\r\n"; false when it
// does not fit.
bool append_code_page_text(const char* text, wchar_t* line, std::size_t capacity,
                           std::size_t& length) {
  while (*text != '\0') {
    const char* end = std::strchr(text, '\n');
    const std::size_t bytes = end != nullptr ? static_cast<std::size_t>(end - text) : std::strlen(text);
    if (bytes > 0) {
      // With no room left the call would only count, not write.
      if (capacity == length) return false;
      const int made = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), line + length,
                                           static_cast<int>(capacity - length));
      if (made <= 0) return false;
      length += static_cast<std::size_t>(made);
    }
    if (end == nullptr) break;
    if (capacity - length < 2) return false;
    line[length++] = L'\r';
    line[length++] = L'\n';
    text = end + 1;
  }
  return true;
}

// The typed text in its wide form, or null when the wide command line
// cannot be matched to it.
const wchar_t* wide_typed_text(const typed_argument& typed) {
  const wchar_t* wide = wide_argument(typed.argc, typed.argv, typed.index);
  if (wide == nullptr || typed.from < 0) return nullptr;
  const char* narrow = typed.argv[typed.index];
  for (int i = 0; i < typed.from; ++i) {
    const auto c = static_cast<unsigned char>(narrow[i]);
    if (c == 0 || c >= 0x80 || wide[i] != c) return nullptr;
  }
  return wide + typed.from;
}

// A line quoting the longest argument that a command line can hold, with
// room for the program's own text around it.
constexpr std::size_t console_line_capacity = 32768 + 1024;

// Writes the line to the stream as wide text when the stream is a console;
// false, having written nothing, when it is not or the line cannot be made.
bool write_console_line(std::FILE* stream, const char* head, const wchar_t* typed,
                        const char* tail) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || GetConsoleMode(handle, &mode) == FALSE) return false;
  static wchar_t line[console_line_capacity];
  const std::size_t length = build_console_line(head, typed, tail, line, console_line_capacity);
  if (length == 0) return false;
  // What the stream holds goes first.
  std::fflush(stream);
  // Older consoles refuse a single write of some tens of thousands of
  // characters.
  constexpr std::size_t piece = 8192;
  for (std::size_t done = 0; done < length;) {
    const DWORD size = static_cast<DWORD>(length - done < piece ? length - done : piece);
    DWORD written = 0;
    // A line begun on the console is not written a second time as bytes.
    if (WriteConsoleW(handle, line + done, size, &written, nullptr) == FALSE || written == 0)
      return done > 0;
    done += written;
  }
  return true;
}

}  // namespace

std::size_t build_console_line(const char* head, const wchar_t* typed, const char* tail,
                               wchar_t* line, std::size_t capacity) {
  std::size_t length = 0;
  if (!append_code_page_text(head, line, capacity, length)) return 0;
  const std::size_t typed_length = std::wcslen(typed);
  if (capacity - length < typed_length) return 0;
  std::wmemcpy(line + length, typed, typed_length);
  length += typed_length;
  if (!append_code_page_text(tail, line, capacity, length)) return 0;
  return length;
}

void write_line_quoting(std::FILE* stream, const char* head, const typed_argument* typed,
                        const char* tail) {
  if (typed != nullptr) {
    const wchar_t* wide = wide_typed_text(*typed);
    if (wide != nullptr && write_console_line(stream, head, wide, tail)) return;
  }
  write_line_bytes(stream, head, typed, tail);
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

void enlarge_pipe(std::FILE* stream) {
#if defined(F_SETPIPE_SZ)
  // The most that Linux lets a user without privileges ask for, unless an
  // administrator has changed it.
  constexpr int wanted = 1 << 20;
  const int fd = fileno(stream);
  // Anything but a pipe fails the query, which costs one call.
  const int saved = errno;
  const int size = fd < 0 ? -1 : fcntl(fd, F_GETPIPE_SZ);
  if (size >= 0 && size < wanted) fcntl(fd, F_SETPIPE_SZ, wanted);
  errno = saved;
#else
  (void)stream;
#endif
}

std::FILE* open_text_stream(const char* text) {
  // A stream over the argument itself: no temporary file, so no writable
  // directory is needed and nothing is copied.
  return fmemopen(const_cast<char*>(text), std::strlen(text), "rb");
}

// Arguments are bytes, passed unchanged.
bool argument_is_exact(int, char**, int) { return true; }

std::FILE* open_named_file(int, char** argv, int index) { return std::fopen(argv[index], "rb"); }

// Arguments are bytes, and so is the terminal's text.
void write_line_quoting(std::FILE* stream, const char* head, const typed_argument* typed,
                        const char* tail) {
  write_line_bytes(stream, head, typed, tail);
}

#endif

}  // namespace tessaly
