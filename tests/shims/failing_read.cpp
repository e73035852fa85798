// Preloaded into the program by the black-box tests to make its input
// awkward: after the number of bytes in TESSALY_FAIL_READ_AFTER, reading
// fails with EIO; with TESSALY_READ_PIECES=N, every read hands over 1 to N
// bytes (a repeatable pseudo-random count), as a slow producer would.
//
// It also makes the input slow, as a network share, a USB stick or a
// failing disk is:
//   TESSALY_READ_DELAY_MS=N    every read after the first waits N ms first;
//   TESSALY_READ_RATE=B        every read waits as long as its size takes
//                              at B bytes a second;
//   TESSALY_READ_HANG_AT=K     the K-th read (counting from 1) never
//                              returns, as on a dead NFS server;
//
// It wraps read(), the call the program reads its input with, and its
// fortified form. Only descriptors other than standard output and error
// are touched; with TESSALY_READ_FILE=PATH, only reads of that file. So
// preloaded into Wine, which reads its own files too, it touches only
// the Windows program's input, whose reads Wine makes with read() of the
// host. The input may be read on a thread of its own, so the counts are
// atomic.
#include <dlfcn.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace {

using read_function = ssize_t (*)(int, void*, std::size_t);

read_function real_read() {
  static const auto real = reinterpret_cast<read_function>(dlsym(RTLD_NEXT, "read"));
  return real;
}

long long setting(const char* name) {
  const char* text = std::getenv(name);
  return text == nullptr ? -1LL : std::atoll(text);
}

// Bytes still to deliver before the failure; negative: never fail.
std::atomic<long long>& remaining() {
  static std::atomic<long long> left{setting("TESSALY_FAIL_READ_AFTER")};
  return left;
}

// The most bytes one read hands over; 0 or less: as many as asked.
std::size_t piece_limit() {
  static const long long most = setting("TESSALY_READ_PIECES");
  if (most <= 0) return 0;
  static std::atomic<unsigned> seed{1};
  unsigned was = seed.load();
  unsigned next;
  do {
    next = was * 1103515245u + 12345u;  // any cheap, repeatable sequence
  } while (!seed.compare_exchange_weak(was, next));
  return 1 + (next >> 8) % static_cast<unsigned long long>(most);
}

void sleep_for_ns(long long ns) {
  if (ns <= 0) return;
  timespec left{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// Whether reads of fd are the ones to make awkward.
bool is_input(int fd) {
  static const char* const path = std::getenv("TESSALY_READ_FILE");
  if (path == nullptr) return fd != 1 && fd != 2;
  struct file_id {
    bool known;
    dev_t device;
    ino_t inode;
  };
  static const file_id input = [] {
    struct stat st;
    return stat(path, &st) == 0 ? file_id{true, st.st_dev, st.st_ino} : file_id{false, 0, 0};
  }();
  const int saved = errno;
  struct stat st;
  const bool same = input.known && fstat(fd, &st) == 0 && st.st_dev == input.device && st.st_ino == input.inode;
  errno = saved;
  return same;
}

// Slows or stops the read about to be made, as the settings ask.
void behave_as_slow_media(std::size_t size) {
  static const long long delay_ms = setting("TESSALY_READ_DELAY_MS");
  static const long long rate = setting("TESSALY_READ_RATE");
  static const long long hang_at = setting("TESSALY_READ_HANG_AT");
  static std::atomic<long long> reads{0};
  if (delay_ms < 0 && rate <= 0 && hang_at <= 0) return;
  const int saved = errno;
  const long long number = ++reads;
  if (number == hang_at) {
    for (;;) pause();
  }
  if (number > 1 && delay_ms > 0) sleep_for_ns(delay_ms * 1000000);
  if (rate > 0) sleep_for_ns(static_cast<long long>(size * 1000000000.0 / static_cast<double>(rate)));
  errno = saved;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, std::size_t size) {
  if (size == 0 || !is_input(fd)) return real_read()(fd, buffer, size);
  const std::size_t most = piece_limit();
  if (most != 0 && size > most) size = most;
  behave_as_slow_media(size);
  std::atomic<long long>& left = remaining();
  const long long now_left = left.load();
  if (now_left >= 0 && size > static_cast<unsigned long long>(now_left)) {
    // Deliver what is left, then fail as a device error would, unless the
    // input ends first.
    if (now_left == 0) {
      errno = EIO;
      return -1;
    }
    size = static_cast<std::size_t>(now_left);
  }
  const ssize_t got = real_read()(fd, buffer, size);
  if (got > 0 && now_left >= 0) left -= got;
  return got;
}

// Where the build fortifies calls and knows the buffer's size, the
// program calls this instead of read().
extern "C" ssize_t __read_chk(int fd, void* buffer, std::size_t size, std::size_t buffer_size) {
  if (size > buffer_size) std::abort();
  return read(fd, buffer, size);
}
