// The streams' input as runs of bytes in fixed buffers, each run starting
// with the bytes the stream kept from the one before. Where the input is a
// file, the runs after this one are read on a thread of its own while the
// stream codes and writes this one, so that the program takes the longer
// of the read and the coding rather than both one after the other.
#pragma once

#include <cstddef>
#include <cstdio>

#include "codec/base64.h"

namespace tessaly {

// The most bytes a stream keeps from one run for the next: less than a
// decoding block.
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
  // Whether the input is a file with more than one piece left, which may
  // be read ahead.
  bool may_read_ahead = false;
  // Whether a thread reads ahead: then no read waits on a producer.
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

// Stops the reading ahead, at once after the read under way, and waits
// for its thread to end; errno is kept. The runs' destructor calls it.
void stop_reading(input_runs& runs);

}  // namespace tessaly
