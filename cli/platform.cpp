#include "cli/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
bool is_runtime_argv(int argc, char** argv) {
  if (argc != __argc) return false;
  for (int i = 0; i < argc; ++i)
    if (std::strcmp(argv[i], __argv[i]) != 0) return false;
  return true;
}

// The wide form of argv[index], or null when argv is not the runtime's
// list or the wide list does not match it. The runtime splits and globs
// the wide command line just as it did for argv, so the indexes agree.
const wchar_t* wide_argument(int argc, char** argv, int index) {
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

#endif

}  // namespace tessaly
