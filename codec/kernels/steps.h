// Scalar steps that the vector kernels share with the scalar one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/kernels.h"

namespace tessaly {

// Decodes one group whose characters may be broken by white space (line
// feed, carriage return, space, tab) into out[0..2]. Returns the input bytes it takes, or 0
// when another byte or the end of the input comes before the fourth
// alphabet character.
std::size_t decode_broken_group(const char* in, std::size_t len, std::uint8_t* out);

// Ends a line-aware encode that a wide kernel could take no further: the
// len bytes left go through the narrower kernel next, the line with left
// places still open first. Returns the characters written.
std::size_t encode_rest(const codec_kernel& next, const std::uint8_t* in, std::size_t len,
                        char* out, std::size_t line_chars, std::size_t left);

// After a step of a line-aware encode stored step_chars characters at
// out, from step_chars / 4 * 3 bytes at in + p: moves past those that fit
// on the line, with a newline where the line ends; the next step
// overwrites whatever was stored past it.
inline void lay_out_step(std::size_t step_chars, std::size_t line_chars, std::size_t& p,
                         char*& out, std::size_t& left) {
  if (left > step_chars) {
    p += step_chars / 4 * 3;
    out += step_chars;
    left -= step_chars;
  } else {
    p += left / 4 * 3;
    out += left;
    *out++ = '\n';
    left = line_chars;
  }
}

}  // namespace tessaly
