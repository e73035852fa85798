#include "codec/input_runs.h"

#include <pthread.h>

#include <cerrno>
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
// full ring and the stream's slot stays in its core's cache. Two slots
// were not enough: each piece then waited for the other side to wake.
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

}  // namespace

// What the stream and its reading thread share: a ring of slots, which
// the thread fills in turn as long as the stream has given them back.
// The stream codes one slot while the thread reads the ones after it, so
// neither waits on the other's waking unless the ring is full or empty.
// POSIX threads rather than the C++ library's, which would make the
// program load the C++ runtime's shared library at every start; both
// platforms' C runtimes have them, and their initialisers are constants.
struct read_ahead {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
  std::FILE* input = nullptr;
  // Slots filled by the thread and given back by the stream, counted from
  // the start; slot n is area's (n % slots)-th.
  std::size_t filled = 0;
  std::size_t given_back = 0;
  bool stop = false;
  std::ptrdiff_t got[slots] = {};
  int error = 0;
  pthread_t thread{};
};

namespace {

read_ahead ahead;

char* slot_data(std::size_t n) { return area + n % slots * slot_size + slot_front; }

void* read_on(void*) {
  read_ahead& a = ahead;
  pthread_mutex_lock(&a.lock);
  for (;;) {
    // The slot the stream holds stays its own until it gives it back.
    while (!a.stop && a.filled - a.given_back >= slots) pthread_cond_wait(&a.changed, &a.lock);
    if (a.stop) break;
    const std::size_t n = a.filled;
    pthread_mutex_unlock(&a.lock);
    const std::ptrdiff_t got = read_available(a.input, slot_data(n), ahead_piece);
    const int error = errno;
    pthread_mutex_lock(&a.lock);
    a.got[n % slots] = got;
    a.error = error;
    ++a.filled;
    pthread_cond_broadcast(&a.changed);
    // After the end or a failure nothing more is read.
    if (got <= 0) break;
  }
  pthread_mutex_unlock(&a.lock);
  return nullptr;
}

// Starts the thread reading the slots after the run, which becomes slot 0.
void start_reading_ahead(input_runs& runs) {
  runs.may_read_ahead = false;
  read_ahead& a = ahead;
  a.input = runs.input;
  a.filled = 1;
  a.given_back = 0;
  a.stop = false;
  // The run stands in slot 0 exactly where the thread would have read it.
  a.got[0] = static_cast<std::ptrdiff_t>(runs.len);
  const int saved = errno;
  // Without a thread the stream reads on alone, as before.
  const bool started = pthread_create(&a.thread, nullptr, read_on, nullptr) == 0;
  errno = saved;
  if (!started) return;
  runs.reading_ahead = true;
  runs.slot = 0;
}

std::ptrdiff_t next_run_ahead(input_runs& runs, std::size_t keep) {
  read_ahead& a = ahead;
  char* kept = runs.start + runs.len - keep;
  const std::size_t next = runs.slot + 1;
  std::ptrdiff_t got = 0;
  pthread_mutex_lock(&a.lock);
  // The stream holds a filled slot, so the next one is filled unless the
  // count stands at it; a comparison that holds when the count wraps.
  while (a.filled == next) pthread_cond_wait(&a.changed, &a.lock);
  got = a.got[next % slots];
  if (got < 0) errno = a.error;
  pthread_mutex_unlock(&a.lock);
  if (got <= 0) {
    runs.start = kept;
    runs.len = keep;
    return got;
  }
  std::memcpy(slot_data(next) - keep, kept, keep);
  runs.start = slot_data(next) - keep;
  runs.len = keep + static_cast<std::size_t>(got);
  runs.slot = next;
  // The slot before is free for the thread once its kept bytes are out.
  pthread_mutex_lock(&a.lock);
  a.given_back = next;
  pthread_cond_broadcast(&a.changed);
  pthread_mutex_unlock(&a.lock);
  return got;
}

}  // namespace

input_runs::input_runs(std::FILE* in, std::size_t piece_size)
    : input(in),
      piece(piece_size < largest_piece ? piece_size : largest_piece),
      start(alone_data()),
      // A smaller file, or any other input, is read by the stream alone.
      may_read_ahead(TESSALY_READ_AHEAD &&
                     file_bytes_left(in) > static_cast<long long>(ahead_piece)) {
  // A file's first piece becomes the ring's first slot.
  if (may_read_ahead && piece > ahead_piece) piece = ahead_piece;
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
  if (got <= 0) return got;
  runs.len += static_cast<std::size_t>(got);
  // A first read that filled its piece: the rest comes from the thread.
  if (runs.may_read_ahead && static_cast<std::size_t>(got) == runs.piece)
    start_reading_ahead(runs);
  return got;
}

void stop_reading(input_runs& runs) {
  if (!runs.reading_ahead) return;
  const int saved = errno;
  pthread_mutex_lock(&ahead.lock);
  ahead.stop = true;
  pthread_cond_broadcast(&ahead.changed);
  pthread_mutex_unlock(&ahead.lock);
  pthread_join(ahead.thread, nullptr);
  runs.reading_ahead = false;
  errno = saved;
}

}  // namespace tessaly
