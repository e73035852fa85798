#include <cstring>

#include "codec/alphabet.h"
#include "codec/base64.h"
#include "codec/block_decoder.h"
#include "codec/kernels.h"

namespace tessaly {

std::int32_t decode_text(std::uint8_t* out, const char* text, std::size_t len) {
  std::size_t capacity = decoded_block_capacity;
  const std::size_t max_chars = decoded_block_capacity / 3 * 4;

  // Clean groups go through the kernel; it stops at the first group that
  // holds anything but alphabet characters and white space, and the exact
  // loop below takes over from there.
  const decoded_run run = active_kernel().decode(text, len < max_chars ? len : max_chars, out);
  std::size_t i = run.consumed;
  std::size_t written = run.written;
  capacity -= written;

  std::uint8_t s[4];
  int count = 0;
  for (; i < len && capacity != 0; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\0' || c == '=') break;
    const std::int16_t v = decode_table[c];
    if (v < 0) continue;
    s[count++] = static_cast<std::uint8_t>(v);
    if (count == 4) {
      out[written++] = static_cast<std::uint8_t>(s[0] << 2 | s[1] >> 4);
      out[written++] = static_cast<std::uint8_t>(s[1] << 4 | s[2] >> 2);
      out[written++] = static_cast<std::uint8_t>(s[2] << 6 | s[3]);
      capacity -= 3;
      count = 0;
    }
  }
  // A final group of two or three characters carries one or two bytes; a
  // lone character carries none.
  if (count >= 2 && capacity >= 1)
    out[written++] = static_cast<std::uint8_t>(s[0] << 2 | s[1] >> 4);
  if (count == 3 && capacity >= 2)
    out[written++] = static_cast<std::uint8_t>(s[1] << 4 | s[2] >> 2);
  return static_cast<std::int32_t>(written);
}

std::int32_t decode_block(std::uint8_t* out, const char* text) {
  return decode_text(out, text, std::strlen(text));
}

}  // namespace tessaly
