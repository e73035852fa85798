// Decoding by the web platform's rules: runs of whole chunks go through
// the kernel, and a character at a time decides everything else (padding,
// the last chunk, room running out, errors).
#include <array>
#include <cstdint>

#include "codec/alphabet.h"
#include "codec/include/tessaly.h"
#include "codec/kernels.h"
#include "codec/library/url_alphabet.h"

namespace tessaly {
namespace {

// What each byte is to the decoder, beside the sextet values 0 to 63.
constexpr std::uint8_t pad = 64, white = 65, other = 66;

constexpr std::array<std::uint8_t, 256> make_values(bool url) {
  std::array<std::uint8_t, 256> values{};
  for (int c = 0; c < 256; ++c) {
    const std::int16_t v = decode_table[c];
    values[c] = c == '=' ? pad
                : c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' ? white
                : v >= 0 ? static_cast<std::uint8_t>(v)
                         : other;
  }
  if (url) {
    values['-'] = values['+'];
    values['_'] = values['/'];
    values['+'] = other;
    values['/'] = other;
  }
  return values;
}

constexpr auto standard_values = make_values(false);
constexpr auto url_values = make_values(true);

// The URL alphabet is translated for the kernel a piece at a time, on the
// stack.
constexpr std::size_t url_piece = 16384;

// Texts shorter than this are decoded by the scalar kernel.
constexpr std::size_t small_text = 48;

struct decoding {
  const unsigned char* src;
  std::size_t len;
  std::uint8_t* dst;
  std::size_t room;
  const std::array<std::uint8_t, 256>& values;
  bool url;
  bool skip_garbage;
  bool strict;
  bool stop_before_partial;

  std::size_t i = 0;        // the next character
  std::size_t read = 0;     // just past the last chunk decoded
  std::size_t written = 0;
  std::uint8_t chunk[4] = {};
  int count = 0;            // characters of the chunk so far
  std::size_t last = 0;     // offset of the chunk's last character

  bool skipped(std::uint8_t v) const { return v == white || (v == other && skip_garbage); }

  void skip() {
    while (i < len && skipped(values[src[i]])) ++i;
  }

  tessaly_result result(tessaly_status status, std::size_t at) const {
    return {status, at, written};
  }

  // Room has run out at read: an error only if something but white space
  // is left to decode.
  tessaly_result full() const {
    for (std::size_t j = read; j < len; ++j)
      if (!skipped(values[src[j]])) return result(TESSALY_OUTPUT_FULL, read);
    return result(TESSALY_OK, read);
  }

  // Writes the count - 1 bytes of a chunk of count characters.
  void put_chunk() {
    const std::uint8_t* s = chunk;
    dst[written++] = static_cast<std::uint8_t>(s[0] << 2 | s[1] >> 4);
    if (count > 2) dst[written++] = static_cast<std::uint8_t>(s[1] << 4 | s[2] >> 2);
    if (count > 3) dst[written++] = static_cast<std::uint8_t>(s[2] << 6 | s[3]);
    count = 0;
  }

  // Whole chunks through the kernel, from i, while at least a chunk's
  // bytes fit. Returns false where the kernel took none.
  bool decode_runs(const codec_kernel& kernel) {
    bool took = false;
    while (i < len && room - written >= 3) {
      std::size_t n = len - i;
      if (n > (room - written) / 3 * 4) n = (room - written) / 3 * 4;
      decoded_run run;
      if (url) {
        char text[url_piece];
        if (n > url_piece) n = url_piece;
        from_url_alphabet(reinterpret_cast<const char*>(src + i), n, text);
        run = kernel.decode(text, n, dst + written);
      } else {
        run = kernel.decode(reinterpret_cast<const char*>(src + i), n, dst + written);
      }
      if (run.consumed == 0) break;
      took = true;
      i += run.consumed;
      read = i;
      written += run.written;
      // A piece cut short of the text may end inside a group: go on
      // from it. A kernel that stopped before the last group stops here.
      if (!url || n < url_piece || run.consumed + 4 * 4 < n) break;
    }
    return took;
  }

  tessaly_result at_end() {
    if (count == 0) return result(TESSALY_OK, len);
    if (stop_before_partial) return result(TESSALY_OK, read);
    if (count == 1 || strict) return result(TESSALY_BAD_LAST_CHUNK, read);
    put_chunk();
    return result(TESSALY_OK, len);
  }

  // After "=" at i - 1: the padding, and nothing but white space after it.
  tessaly_result at_padding() {
    if (count < 2) return result(TESSALY_BAD_PADDING, i - 1);
    skip();
    if (count == 2) {
      if (i == len)
        return result(stop_before_partial ? TESSALY_OK : TESSALY_BAD_PADDING, read);
      if (src[i] == '=') {
        ++i;
        skip();
      }
    }
    if (i < len) return result(TESSALY_BAD_PADDING, i);
    const std::uint8_t unused = count == 2 ? chunk[1] & 15 : chunk[2] & 3;
    if (strict && unused != 0) return result(TESSALY_BAD_LAST_CHUNK, last);
    put_chunk();
    return result(TESSALY_OK, len);
  }

  tessaly_result run() {
    if (room == 0) return full();
    // A short text goes through the scalar kernel: a vector kernel's call
    // would cost more than its few groups.
    const codec_kernel& kernel = len < small_text ? scalar_kernel : active_kernel();
    // Where the kernel takes nothing (a form feed, garbage skipped), the
    // chunks after it go a character at a time for a while before it is
    // asked again, so that such text does not pay for a call per chunk.
    std::size_t patience = 0;
    std::size_t wait = 1;
    for (;;) {
      if (count == 0) {
        if (patience == 0) {
          if (decode_runs(kernel)) {
            wait = 1;
          } else if (wait < 1024) {
            wait *= 2;
          }
          patience = wait;
          if (written == room) return full();
        } else {
          --patience;
        }
      }
      skip();
      if (i == len) return at_end();
      const std::uint8_t v = values[src[i++]];
      if (v == pad) return at_padding();
      if (v == other) return result(TESSALY_INVALID_CHARACTER, i - 1);
      // Stop before a chunk whose bytes would not all fit.
      const std::size_t left = room - written;
      if ((left == 1 && count == 2) || (left == 2 && count == 3)) return full();
      chunk[count++] = v;
      last = i - 1;
      if (count == 4) {
        put_chunk();
        read = i;
        if (written == room) return full();
      }
    }
  }
};

}  // namespace
}  // namespace tessaly

using namespace tessaly;

extern "C" {

size_t tessaly_decoded_length_max(size_t len) {
  // Two or three characters left over give one or two bytes; one gives
  // none, but with a byte of room more the error it makes is still found
  // rather than room running out just before it.
  const std::size_t rest = len % 4;
  return len / 4 * 3 + (rest + 1) / 2;
}

tessaly_result tessaly_decode(const char* src, size_t len, void* dst, size_t room,
                              unsigned flags) {
  const bool url = flags & TESSALY_URL;
  const bool stop_before_partial = flags & TESSALY_STOP_BEFORE_PARTIAL;
  decoding d{reinterpret_cast<const unsigned char*>(src),
             len,
             static_cast<std::uint8_t*>(dst),
             room,
             url ? url_values : standard_values,
             url,
             (flags & TESSALY_IGNORE_GARBAGE) != 0,
             (flags & TESSALY_STRICT) != 0 && !stop_before_partial,
             stop_before_partial};
  return d.run();
}

}  // extern "C"
