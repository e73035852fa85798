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

constexpr std::size_t buffer_front = room_before_run + most_kept;

// Two buffers: the stream codes the run in one while the other is read.
// Static rather than on the stack, which is small on the home platform's
// main thread; one stream runs at a time.
alignas(64) char buffers[2][buffer_front + largest_piece];

char* data_of(unsigned buffer) { return buffers[buffer] + buffer_front; }

}  // namespace

// What the stream and its reading thread share. The stream asks for one
// read at a time and waits for its result before it asks again.
struct read_ahead {
  std::mutex lock;
  std::condition_variable changed;
  // Set by the stream: where to read next, or that no more is wanted.
  char* wanted_at = nullptr;
  std::size_t wanted = 0;
  bool stop = false;
  // Set by the thread: the read's result and its errno.
  bool done = false;
  std::ptrdiff_t got = 0;
  int error = 0;
  std::thread thread;
};

namespace {

// Made in place when a stream starts reading ahead, so that no object
// with a constructor lives in static storage.
alignas(read_ahead) unsigned char ahead_storage[sizeof(read_ahead)];

void read_on(read_ahead& a, std::FILE* input) {
  std::unique_lock<std::mutex> held(a.lock);
  for (;;) {
    a.changed.wait(held, [&] { return a.stop || a.wanted_at != nullptr; });
    if (a.stop) return;
    char* at = a.wanted_at;
    const std::size_t size = a.wanted;
    a.wanted_at = nullptr;
    held.unlock();
    const std::ptrdiff_t got = read_available(input, at, size);
    const int error = errno;
    held.lock();
    a.got = got;
    a.error = error;
    a.done = true;
    a.changed.notify_all();
    // After the end or a failure nothing more is read.
    if (got <= 0) return;
  }
}

void ask_read(read_ahead& a, char* at, std::size_t size) {
  const std::lock_guard<std::mutex> held(a.lock);
  a.wanted_at = at;
  a.wanted = size;
  a.done = false;
  a.changed.notify_all();
}

std::ptrdiff_t wait_for_read(read_ahead& a) {
  std::unique_lock<std::mutex> held(a.lock);
  a.changed.wait(held, [&] { return a.done; });
  if (a.got < 0) errno = a.error;
  return a.got;
}

// Starts the thread reading the buffer after the run, when the input is a
// file with more to read than one piece: a smaller one, or any other
// input, is read by the stream alone.
void maybe_read_ahead(input_runs& runs) {
  if (!runs.may_read_ahead) return;
  runs.may_read_ahead = false;
  if (file_bytes_left(runs.input) <= 0) return;
  read_ahead* a = new (ahead_storage) read_ahead;
  a->wanted_at = data_of(runs.buffer ^ 1u);
  a->wanted = runs.piece;
  try {
    a->thread = std::thread(read_on, std::ref(*a), runs.input);
  } catch (const std::system_error&) {
    // No thread to be had: the stream reads on alone, as slowly as before.
    a->~read_ahead();
    return;
  }
  runs.ahead = a;
}

std::ptrdiff_t next_run_ahead(input_runs& runs, std::size_t keep) {
  char* kept = runs.start + runs.len - keep;
  const std::ptrdiff_t got = wait_for_read(*runs.ahead);
  if (got <= 0) {
    runs.start = kept;
    runs.len = keep;
    return got;
  }
  const unsigned next = runs.buffer ^ 1u;
  std::memcpy(data_of(next) - keep, kept, keep);
  runs.start = data_of(next) - keep;
  runs.len = keep + static_cast<std::size_t>(got);
  ask_read(*runs.ahead, data_of(runs.buffer), runs.piece);
  runs.buffer = next;
  return got;
}

}  // namespace

input_runs::input_runs(std::FILE* in, std::size_t piece_size)
    : input(in),
      piece(piece_size < largest_piece ? piece_size : largest_piece),
      start(data_of(0)),
      may_read_ahead(TESSALY_READ_AHEAD && kind_of(in) == stream_kind::file) {}

input_runs::~input_runs() { stop_reading(*this); }

std::ptrdiff_t next_run(input_runs& runs, std::size_t keep) {
  if (runs.ahead != nullptr) return next_run_ahead(runs, keep);
  char* const data = data_of(runs.buffer);
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
  if (static_cast<std::size_t>(got) == asked) maybe_read_ahead(runs);
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
