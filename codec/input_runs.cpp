#include "codec/input_runs.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

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
struct read_ahead {
  std::mutex lock;
  std::condition_variable changed;
  // Slots filled by the thread and given back by the stream, counted from
  // the start; slot n is area's (n % slots)-th.
  std::size_t filled = 0;
  std::size_t given_back = 0;
  // The thread's last read came to the end or failed: nothing more.
  bool ended = false;
  bool stop = false;
  std::ptrdiff_t got[slots] = {};
  int error = 0;
  std::thread thread;
};

namespace {

char* slot_data(std::size_t n) { return area + n % slots * slot_size + slot_front; }

}  // namespace

namespace {

// Made in place when a stream starts reading ahead, so that no object
// with a constructor lives in static storage.
alignas(read_ahead) unsigned char ahead_storage[sizeof(read_ahead)];

void read_on(read_ahead& a, std::FILE* input) {
  std::unique_lock<std::mutex> held(a.lock);
  for (;;) {
    // The slot the stream holds stays its own until it gives it back.
    a.changed.wait(held, [&] { return a.stop || a.filled - a.given_back < slots; });
    if (a.stop) return;
    const std::size_t n = a.filled;
    held.unlock();
    const std::ptrdiff_t got = read_available(input, slot_data(n), ahead_piece);
    const int error = errno;
    held.lock();
    a.got[n % slots] = got;
    a.error = error;
    ++a.filled;
    a.ended = got <= 0;
    a.changed.notify_all();
    if (a.ended) return;
  }
}

// Starts the thread reading the slots after the run, when the input is a
// file with more to read than one piece: a smaller one, or any other
// input, is read by the stream alone. The run read alone becomes slot 0.
void maybe_read_ahead(input_runs& runs) {
  if (!runs.may_read_ahead) return;
  runs.may_read_ahead = false;
  if (file_bytes_left(runs.input) <= 0) return;
  read_ahead* a = new (ahead_storage) read_ahead;
  // The run stands in slot 0 exactly where the thread would have read it.
  a->got[0] = static_cast<std::ptrdiff_t>(runs.len);
  a->filled = 1;
  try {
    a->thread = std::thread(read_on, std::ref(*a), runs.input);
  } catch (const std::system_error&) {
    // No thread to be had: the stream reads on alone, as before.
    a->~read_ahead();
    return;
  }
  runs.ahead = a;
  runs.slot = 0;
}

std::ptrdiff_t next_run_ahead(input_runs& runs, std::size_t keep) {
  read_ahead& a = *runs.ahead;
  char* kept = runs.start + runs.len - keep;
  const std::size_t next = runs.slot + 1;
  std::ptrdiff_t got = 0;
  {
    std::unique_lock<std::mutex> held(a.lock);
    a.changed.wait(held, [&] { return a.filled > next; });
    got = a.got[next % slots];
    if (got < 0) errno = a.error;
  }
  if (got <= 0) {
    runs.start = kept;
    runs.len = keep;
    return got;
  }
  std::memcpy(slot_data(next) - keep, kept, keep);
  runs.start = slot_data(next) - keep;
  runs.len = keep + static_cast<std::size_t>(got);
  runs.slot = static_cast<unsigned>(next);
  {
    // The slot before is free for the thread once its kept bytes are out.
    const std::lock_guard<std::mutex> held(a.lock);
    a.given_back = next;
    a.changed.notify_all();
  }
  return got;
}

}  // namespace

input_runs::input_runs(std::FILE* in, std::size_t piece_size)
    : input(in),
      piece(piece_size < largest_piece ? piece_size : largest_piece),
      start(alone_data()),
      may_read_ahead(TESSALY_READ_AHEAD && kind_of(in) == stream_kind::file) {
  // A file's first piece becomes the ring's first slot.
  if (may_read_ahead && piece > ahead_piece) piece = ahead_piece;
}

input_runs::~input_runs() { stop_reading(*this); }

std::ptrdiff_t next_run(input_runs& runs, std::size_t keep) {
  if (runs.ahead != nullptr) return next_run_ahead(runs, keep);
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
  if (static_cast<std::size_t>(got) == runs.piece) maybe_read_ahead(runs);
  return got;
}

void stop_reading(input_runs& runs) {
  read_ahead* a = runs.ahead;
  if (a == nullptr) return;
  const int saved = errno;
  {
    const std::lock_guard<std::mutex> held(a->lock);
    a->stop = true;
    a->changed.notify_all();
  }
  a->thread.join();
  a->~read_ahead();
  runs.ahead = nullptr;
  errno = saved;
}

}  // namespace tessaly
