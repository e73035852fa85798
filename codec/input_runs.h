// The streams' input as runs of bytes in fixed buffers, each run starting
// with the bytes the stream kept from the one before. Where the input is a
// file, the runs are read on a thread of its own while the stream codes
// and writes the one before, so that the program takes the longer of the
// read and the coding rather than both one after the other.
#pragma once

#include <cstddef>
#include <cstdio>

#include "codec/base64.h"

namespace tessaly {

// A bound on the bytes a stream keeps from one run for the next: a
// decoding block, since the decoder keeps those of a block still short of
// its bytes, fewer than that, and the encoder at most two.
inline constexpr std::size_t most_kept = decode_block_size;

// Writable room in front of every run, beyond the bytes kept: the decoder
// puts up to three carried characters there.
inline constexpr std::size_t room_before_run = 64;

// The most bytes one read asks for.
inline constexpr std::size_t largest_piece = encode_chunk_size;

struct input_runs {
  std::FILE* input = nullptr;
  // Bytes one read asks for, at most largest_piece.
  std::size_t piece = 0;
  // The current run: bytes kept from the last one, then the bytes read.
  char* start = nullptr;
  std::size_t len = 0;
  // Which slot of the ring holds the run, once reading ahead, counted from
  // the start (modulo the counter's range, a multiple of the ring's size).
  std::size_t slot = 0;
  // Whether a thread reads the input: then the next run may be ready
  // before the stream asks for it.
  bool reading_ahead = false;

  input_runs(std::FILE* in, std::size_t piece_size);
  ~input_runs();
  input_runs(const input_runs&) = delete;
  input_runs& operator=(const input_runs&) = delete;
};

// Reads the input's next bytes and makes them the run, after the last
// keep bytes of the run before (at most most_kept). Returns the count
// read, 0 at the end of the input, or -1 on a read error with errno set;
// either way the run still begins with the kept bytes.
std::ptrdiff_t next_run(input_runs& runs, std::size_t keep);

// Whether next_run would return at once, its slot already read ahead. A
// stream may then gather its output into fewer writes; before a run that
// is not ready it writes what it holds, so that output never waits on
// slow media.
bool next_run_ready(const input_runs& runs);

// Stops the reading ahead; errno is kept. A thread between reads ends and
// is waited for; one inside a read is left to it, since that read may take
// as long as the medium likes and its bytes are of no use. The runs'
// destructor calls it.
void stop_reading(input_runs& runs);

// Whether a thread was left inside a read that nobody will use. The
// process must then end without the C runtime's clean-up of its streams,
// which on some runtimes waits for that read to return.
bool read_left_behind();

}  // namespace tessaly
