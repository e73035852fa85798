// The portable kernel: table lookups that handle 12 bits per step when
// encoding and a whole group per step when decoding.
#include <array>
#include <cstring>

#include "codec/alphabet.h"
#include "codec/kernels/steps.h"
#include "codec/kernels.h"

namespace tessaly {
namespace {

// Both characters for each 12-bit value, in output order.
constexpr std::array<std::array<char, 2>, 4096> make_pair_table() {
  std::array<std::array<char, 2>, 4096> table{};
  for (int v = 0; v < 4096; ++v)
    table[v] = {encode_alphabet[v >> 6], encode_alphabet[v & 63]};
  return table;
}

constexpr auto pairs = make_pair_table();

// Any byte outside the alphabet sets a bit above the 24 data bits, so one
// test of the combined group catches it.
constexpr std::uint32_t invalid_mark = 0x01000000;

constexpr std::array<std::uint32_t, 256> make_group_table(int shift) {
  std::array<std::uint32_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const std::int16_t v = decode_table[c];
    table[c] = (v >= 0 && v < 64) ? static_cast<std::uint32_t>(v) << shift
                                  : invalid_mark;
  }
  return table;
}

constexpr auto sextet0 = make_group_table(18);
constexpr auto sextet1 = make_group_table(12);
constexpr auto sextet2 = make_group_table(6);
constexpr auto sextet3 = make_group_table(0);

void encode_groups(const std::uint8_t* in, std::size_t len, char* out) {
  for (std::size_t i = 0; i + 3 <= len; i += 3, out += 4) {
    const std::uint32_t bits = static_cast<std::uint32_t>(in[i]) << 16 |
                               static_cast<std::uint32_t>(in[i + 1]) << 8 |
                               in[i + 2];
    std::memcpy(out, pairs[bits >> 12].data(), 2);
    std::memcpy(out + 2, pairs[bits & 4095].data(), 2);
  }
}

std::size_t encode_scalar(const std::uint8_t* in, std::size_t len, char* out,
                          std::size_t line_chars) {
  char* const start = out;
  if (line_chars != 0) {
    const std::size_t line_bytes = line_chars / 4 * 3;
    for (; len >= line_bytes; len -= line_bytes, in += line_bytes) {
      encode_groups(in, line_bytes, out);
      out += line_chars;
      *out++ = '\n';
    }
  }
  encode_groups(in, len, out);
  return static_cast<std::size_t>(out - start) + len / 3 * 4;
}

void put_group(std::uint32_t bits, std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(bits >> 16);
  out[1] = static_cast<std::uint8_t>(bits >> 8);
  out[2] = static_cast<std::uint8_t>(bits);
}

decoded_run decode_scalar(const char* in, std::size_t len, std::uint8_t* out) {
  const auto* text = reinterpret_cast<const unsigned char*>(in);
  std::size_t i = 0;
  std::size_t written = 0;
  for (;;) {
    if (len - i >= 4) {
      const std::uint32_t bits = sextet0[text[i]] | sextet1[text[i + 1]] |
                                 sextet2[text[i + 2]] | sextet3[text[i + 3]];
      if (!(bits & invalid_mark)) {
        put_group(bits, out + written);
        i += 4;
        written += 3;
        continue;
      }
    }
    // A group with white space before or inside it, or the end.
    const std::size_t taken = decode_broken_group(in + i, len - i, out + written);
    if (taken == 0) return {i, written};
    i += taken;
    written += 3;
  }
}

bool always() { return true; }

}  // namespace

std::size_t decode_broken_group(const char* in, std::size_t len, std::uint8_t* out) {
  const auto* text = reinterpret_cast<const unsigned char*>(in);
  std::uint32_t bits = 0;
  int count = 0;
  std::size_t i = 0;
  for (; i < len && count < 4; ++i) {
    const std::uint32_t v = sextet3[text[i]];
    if (v != invalid_mark) {
      bits = bits << 6 | v;
      ++count;
    } else if (!is_white_space(text[i])) {
      return 0;
    }
  }
  if (count < 4) return 0;
  put_group(bits, out);
  return i;
}

std::size_t encode_rest(const codec_kernel& next, const std::uint8_t* in, std::size_t len,
                        char* out, std::size_t line_chars, std::size_t left) {
  const std::size_t first = len < left / 4 * 3 ? len : left / 4 * 3;
  std::size_t written = next.encode(in, first, out, 0);
  if (line_chars != 0 && first / 3 * 4 == left) {
    out[written++] = '\n';
    written += next.encode(in + first, len - first, out + written, line_chars);
  }
  return written;
}

const codec_kernel scalar_kernel = {"scalar", always, encode_scalar, decode_scalar};

}  // namespace tessaly
