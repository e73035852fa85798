// Stdio streams over memory, for the tests and fuzzers (glibc's
// fopencookie): an input that hands out its bytes in reads of random
// sizes, and an output that collects what is written and can be made to
// fail. Both can be reused for many runs of a codec stream. The Windows
// runtime has no streams over user functions: there the bytes pass
// through temporary files, reads come as the file gives them, and no
// device fails (devices_can_fail).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

struct chunked_input {
  std::string_view data;
  std::size_t pos = 0;
  // Each read of the underlying "device" returns 1 to max_read bytes;
  // 0 means as many as asked. fread still loops until it has all it asked
  // for, so the stream sees the same bytes whatever the sizes.
  std::size_t max_read = 0;
  std::uint32_t seed = 1;
  std::size_t reads = 0;  // device reads so far
  // Reads beyond this many bytes fail with EIO.
  std::size_t fail_at = std::numeric_limits<std::size_t>::max();
};

struct collected_output {
  std::string bytes;
  // Writes beyond this many bytes fail with ENOSPC.
  std::size_t capacity = std::numeric_limits<std::size_t>::max();
};

#if defined(_WIN32)
inline constexpr bool devices_can_fail = false;
#else
inline constexpr bool devices_can_fail = true;
#endif

std::FILE* open_chunked_input(chunked_input& state);
std::FILE* open_collected_output(collected_output& state);

// Makes read_piece hand over 1 to most bytes a call (a repeatable sequence
// from seed), as a pipe hands over what a slow producer has written so
// far; most 0 hands over as many as asked.
void read_in_pieces(std::size_t most, std::uint32_t seed = 1);

// A stand-in for the codec streams' reading (tessaly::use_input_reader):
// reads through the stream in the pieces that read_in_pieces set.
std::ptrdiff_t read_piece(std::FILE* input, void* buffer, std::size_t size);

// Flushes output and appends what it got since the last call to
// state.bytes; over memory the bytes are there already.
void collect_output(std::FILE* output, collected_output& state);

// Points input at new data, ready for another run.
void restart_input(std::FILE* input, chunked_input& state, std::string_view data);
