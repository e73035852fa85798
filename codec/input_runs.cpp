#include "codec/input_runs.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "codec/input.h"

// A build may leave the reading thread out, to measure what it brings.
#ifndef TESSALY_READ_AHEAD
#define TESSALY_READ_AHEAD 1
#endif

namespace tessaly {
namespace {

constexpr std::size_t slot_front = room_before_run + most_kept;

// Read ahead, the input comes in pieces of 192 KiB (a multiple of 3 and of
// a page), eight slots of them, so that the thread is seldom held up by a
// full ring and the stream's slot stays in its core's cache.
constexpr std::size_t ahead_piece = 3 * 64 * 1024;
constexpr std::size_t slots = 8;
// So that a slot's place stays right when the counts wrap.
static_assert((slots & (slots - 1)) == 0);
constexpr std::size_t slot_size = slot_front + ahead_piece;

// Read alone, the input takes one piece of up to largest_piece at the
// area's start. Static rather than on the stack, which is small on the
// home platform's main thread; one stream runs at a time.
constexpr std::size_t area_size = slots * slot_size;
static_assert(area_size >= slot_front + largest_piece);
alignas(64) char area[area_size];

char* alone_data() { return area + slot_front; }
char* slot_data(std::size_t n) { return area + n % slots * slot_size + slot_front; }

// How long the stream spins on the thread's count before it sleeps:
// longer than a few slots take to read from the page cache, and far less
// than a read from slow media. After a wait longer than that, the reading
// is truly slow, and the next wait spins only briefly. A spin gives way
// to any other thread of this processor now and then: on a busy machine
// the thread may be waiting for it.
constexpr long long longest_spin = 1'000'000;
constexpr long long shortest_spin = 50'000;
constexpr long long yield_every = 50'000;

// One side's way to sleep. The other side makes the system call that
// wakes it only when it says it sleeps.
struct sleeper {
  std::atomic<bool> asleep{false};
  pthread_cond_t woken = PTHREAD_COND_INITIALIZER;
};

// What the stream and its reading thread share: a ring of slots, which
// the thread fills in turn as long as the stream has given them back.
// The counts are atomic, so that a slot changes hands without a lock; the
// lock serves only to sleep. POSIX threads rather than the C++ library's,
// which would make the program load the C++ runtime's shared library at
// every start; both platforms' C runtimes have them, and their
// initialisers are constants.
struct read_ahead {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  std::FILE* input = nullptr;
  // Slots filled by the thread and given back by the stream, counted from
  // the start; slot n is area's (n % slots)-th.
  std::atomic<std::size_t> filled{0};
  std::atomic<std::size_t> given_back{0};
  std::atomic<bool> stop{false};
  std::atomic<bool> in_read{false};
  // From the thread's start until its last touch of the ring.
  std::atomic<bool> running{false};
  // Each slot's count of bytes read, or the negated errno of its failure.
  std::ptrdiff_t got[slots] = {};
  sleeper stream;
  sleeper reader;
  // Nanoseconds the stream's next wait spins; only the stream uses it.
  long long stream_spin = longest_spin;
  pthread_t thread{};
};

constinit read_ahead ahead;

long long nanoseconds_now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Sleeps until ready() holds. The flag is set before ready() is asked
// again, and the other side changes its count before it asks the flag, so
// that one of them always sees the other.
template <class Ready>
void sleep_until(sleeper& self, Ready ready) {
  pthread_mutex_lock(&ahead.lock);
  self.asleep.store(true);
  while (!ready()) pthread_cond_wait(&self.woken, &ahead.lock);
  self.asleep.store(false);
  pthread_mutex_unlock(&ahead.lock);
}

// The stream's wait for a slot: a slot takes microseconds to read from
// the page cache, so the wait spins first, and sleeps only when the
// reading is truly slow.
template <class Ready>
void spin_until(Ready ready) {
  if (ready()) return;
  const long long started = nanoseconds_now();
  long long next_yield = started + yield_every;
  for (unsigned i = 1;; ++i) {
    pause_briefly();
    if (ready()) return;
    if (i % 64 != 0) continue;
    const long long now = nanoseconds_now();
    if (now - started > ahead.stream_spin) break;
    if (now > next_yield) {
      sched_yield();
      next_yield = now + yield_every;
    }
  }
  sleep_until(ahead.stream, ready);
  // A wait that the longest spin would have covered (the thread was held
  // up for a moment) spins in full again.
  ahead.stream_spin = nanoseconds_now() - started < longest_spin ? longest_spin : shortest_spin;
}

// After a change to a count or the stop: wakes the other side if it sleeps.
void wake(sleeper& other) {
  if (!other.asleep.load()) return;
  pthread_mutex_lock(&ahead.lock);
  pthread_cond_signal(&other.woken);
  pthread_mutex_unlock(&ahead.lock);
}

void* read_on(void*) {
  read_ahead& a = ahead;
  for (std::size_t n = 0;; ++n) {
    // The slot the stream holds stays its own until it gives it back. A
    // full ring means a stream slower than its input, with slots to code
    // before it needs this one: the thread sleeps, without a spin that
    // would only take processor time from the coding, until the ring is
    // half empty, so that it is woken once every few slots.
    if (n - a.given_back.load() >= slots)
      sleep_until(a.reader, [&] { return a.stop.load() || n - a.given_back.load() <= slots / 2; });
    // Said before the stop is asked, so that a stream that stops either
    // sees this read begin or is seen by it.
    a.in_read.store(true);
    if (a.stop.load()) break;
    std::ptrdiff_t got = read_available(a.input, slot_data(n), ahead_piece);
    if (got < 0) got = errno > 0 ? -errno : -EIO;
    a.in_read.store(false);
    a.got[n % slots] = got;
    a.filled.store(n + 1);
    wake(a.stream);
    // After the end or a failure nothing more is read.
    if (got <= 0) break;
  }
  a.in_read.store(false);
  // A later stream may be waiting to use the ring.
  pthread_mutex_lock(&a.lock);
  a.running.store(false);
  pthread_cond_signal(&a.stream.woken);
  pthread_mutex_unlock(&a.lock);
  return nullptr;
}

// Starts the thread that reads the input into the ring from its first
// slot; without a thread the stream reads on alone.
void start_reading_ahead(input_runs& runs) {
  read_ahead& a = ahead;
  // A thread left in its read by an earlier stream must be done first.
  pthread_mutex_lock(&a.lock);
  while (a.running.load()) pthread_cond_wait(&a.stream.woken, &a.lock);
  pthread_mutex_unlock(&a.lock);
  a.input = runs.input;
  a.filled.store(0);
  a.given_back.store(0);
  a.stop.store(false);
  a.stream_spin = longest_spin;
  a.running.store(true);
  const int saved = errno;
  const bool started = pthread_create(&a.thread, nullptr, read_on, nullptr) == 0;
  errno = saved;
  if (!started) {
    a.running.store(false);
    return;
  }
  runs.reading_ahead = true;
  // The run before the first slot, which holds nothing.
  runs.slot = SIZE_MAX;
}

std::ptrdiff_t next_run_ahead(input_runs& runs, std::size_t keep) {
  read_ahead& a = ahead;
  char* kept = runs.start + runs.len - keep;
  // Unsigned, so that the first slot follows the one before it.
  const std::size_t next = runs.slot + 1;
  // The stream holds a filled slot, so the next one is filled unless the
  // count stands at it; a comparison that holds when the count wraps.
  spin_until([&] { return a.filled.load() != next; });
  std::ptrdiff_t got = a.got[next % slots];
  if (got <= 0) {
    runs.start = kept;
    runs.len = keep;
    if (got == 0) return 0;
    errno = static_cast<int>(-got);
    return -1;
  }
  std::memcpy(slot_data(next) - keep, kept, keep);
  runs.start = slot_data(next) - keep;
  runs.len = keep + static_cast<std::size_t>(got);
  runs.slot = next;
  // The slot before is free for the thread once its kept bytes are out.
  // A thread that sleeps waits for the ring to be half empty; it does not
  // fill a slot while it sleeps, so the count it waits on is filled.
  a.given_back.store(next);
  if (a.filled.load() - next <= slots / 2) wake(a.reader);
  return got;
}

}  // namespace

input_runs::input_runs(std::FILE* in, std::size_t piece_size)
    : input(in),
      piece(piece_size < largest_piece ? piece_size : largest_piece),
      start(alone_data()) {
  // A file of more than one piece is read on a thread of its own; a
  // smaller file, or any other input, by the stream alone. So is any input
  // of a process that runs on one processor, where the two sides could
  // only take turns, and where a spin would take the time that the other
  // side needs.
  if (TESSALY_READ_AHEAD && file_bytes_left(in) > static_cast<long long>(ahead_piece) &&
      processors_to_run_on() > 1)
    start_reading_ahead(*this);
}

input_runs::~input_runs() { stop_reading(*this); }

std::ptrdiff_t next_run(input_runs& runs, std::size_t keep) {
  if (runs.reading_ahead) return next_run_ahead(runs, keep);
  char* const data = alone_data();
  char* end = runs.start + runs.len;
  // The kept bytes move to the front only once the room behind them runs
  // low, so that a trickle of small reads does not move them every time.
  if (data + runs.piece - end < static_cast<std::ptrdiff_t>(runs.piece / 2)) {
    std::memmove(data - keep, end - keep, keep);
    end = data;
  }
  runs.start = end - keep;
  runs.len = keep;
  // Whole pages keep a file's reads on page boundaries.
  const auto room = static_cast<std::size_t>(data + runs.piece - end);
  const std::size_t asked = room / 4096 * 4096;
  const std::ptrdiff_t got = read_available(runs.input, end, asked);
  if (got > 0) runs.len += static_cast<std::size_t>(got);
  return got;
}

void stop_reading(input_runs& runs) {
  if (!runs.reading_ahead) return;
  runs.reading_ahead = false;
  const int saved = errno;
  read_ahead& a = ahead;
  a.stop.store(true);
  wake(a.reader);
  // A thread between reads sees the stop at once; one inside a read is
  // left to it, and ends when the read returns.
  if (a.in_read.load())
    pthread_detach(a.thread);
  else
    pthread_join(a.thread, nullptr);
  errno = saved;
}

bool next_run_ready(const input_runs& runs) {
  return runs.reading_ahead && ahead.filled.load() != runs.slot + 1;
}

bool read_left_behind() { return ahead.running.load(); }

}  // namespace tessaly
