// The codec's interface: streams that encode bytes to Base 64 text and
// decode it back, and the block decoder they are built on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tessaly {

// How a stream ended. The streams never print or exit themselves; the
// caller reports the failure, and errno still holds the system's error for
// read_error and write_error.
enum class stream_status {
  ok,
  read_error,
  write_error,
  invalid_input,
};

// Bytes that one call of decode_block writes at most: the bytes of 4096
// characters.
inline constexpr std::size_t decoded_block_capacity = 3072;

// Raw input bytes per decoding block; garbage is checked a whole block at a
// time, so it also fixes how much output precedes an "invalid input" error.
inline constexpr std::size_t decode_block_size = 4096;

// Raw input bytes the encoder reads and encodes at most at a time: a
// multiple of 3, so that a full chunk holds whole groups. Its text, about
// 1 MiB, fills a pipe enlarged to 1 MiB in one write, which moves encoded
// text between two pipes faster than smaller pieces do; from a file, the
// size makes no difference.
inline constexpr std::size_t encode_chunk_size = 3 * 256 * 1024;

// How encoded lines end. The stream writes a CR LF itself where text uses
// it, so that output can stay binary and skip the runtime's translation.
enum class line_end { lf, crlf };

// Encodes all of input to output as Base 64 text in lines of wrap_width
// characters, each ended by eol; wrap_width 0 writes one unbroken run with
// no line end. Empty input writes nothing.
stream_status encode_stream(std::FILE* input, std::FILE* output,
                            std::int32_t wrap_width, line_end eol = line_end::lf);

// Decodes Base 64 text from input to output. Line breaks, carriage
// returns, spaces and tabs may stand anywhere; any other byte outside the
// alphabet and "=" is invalid input unless ignore_garbage. The first "="
// ends the data.
stream_status decode_stream(std::FILE* input, std::FILE* output,
                            bool ignore_garbage);

// Decodes a zero-terminated text of alphabet characters into out, which has
// room for decoded_block_capacity bytes. Bytes outside the alphabet are
// skipped, the first "=" ends the text, and a final group of two or three
// characters gives one or two bytes. Returns the number of bytes written.
std::int32_t decode_block(std::uint8_t* out, const char* text);

}  // namespace tessaly
