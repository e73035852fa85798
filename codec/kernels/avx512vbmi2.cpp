// The AVX-512 VBMI2 kernel: decoding squeezes the white space out of each
// 64-byte window with one byte compress and joins what is left to the
// values held from the windows before, so wrapped text takes the same
// fixed steps as unbroken text. Encoding is the VBMI kernel's.
#include "codec/kernels.h"

#if TESSALY_X86_64_KERNELS

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "codec/alphabet.h"
#include "codec/kernels/avx512.h"
#include "codec/kernels/cpu_features.h"

#define TESSALY_VBMI2 __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,popcnt")))

namespace tessaly {
namespace {

using namespace avx512;

constexpr std::uint8_t white_value = 0x40;

// The value of each ASCII character; white space gets white_value, any
// other byte outside the alphabet the high bit.
constexpr std::array<std::uint8_t, 128> make_values() {
  std::array<std::uint8_t, 128> table{};
  for (int c = 0; c < 128; ++c) {
    const std::int16_t v = decode_table[c];
    table[c] = v >= 0 && v < 64                            ? static_cast<std::uint8_t>(v)
               : is_white_space(static_cast<unsigned char>(c)) ? white_value
                                                             : 0x80;
  }
  return table;
}

alignas(64) constexpr auto ascii_values = make_values();

std::size_t encode(const std::uint8_t* in, std::size_t len, char* out, std::size_t line_chars) {
  return vbmi_kernel.encode(in, len, out, line_chars);
}

// The values of 64 characters: white space gets white_value, any other
// byte outside the alphabet the high bit (or has it itself).
TESSALY_VBMI2 inline __m512i values_of(__m512i chars) {
  return _mm512_permutex2var_epi8(load(ascii_values.data()), chars, load(ascii_values.data() + 64));
}

// Windows per round: the values squeezed out of them are stored one round
// ahead of their decoding, so that the loads find the stores done.
constexpr std::size_t round_windows = 32;

// The kept values of a window stored after those already at stage + fill.
TESSALY_VBMI2 inline void squeeze(__m512i values, std::uint64_t keep, std::uint8_t* stage,
                                  std::size_t& fill) {
  _mm512_storeu_si512(stage + fill, _mm512_maskz_compress_epi8(keep, values));
  fill += static_cast<std::size_t>(__builtin_popcountll(keep));
}

// Every window is 64 bytes from where the last one ended, so the next load
// never waits on how much white space this one held.
TESSALY_VBMI2 decoded_run decode(const char* in, std::size_t len, std::uint8_t* out) {
  alignas(64) std::uint8_t stage[(round_windows + 2) * 64];
  std::size_t fill = 0;  // values in stage
  std::size_t p = 0;
  std::size_t w = 0;
  for (;;) {
    std::uint64_t bad = 0;
    for (std::size_t k = 0; k < round_windows; ++k, p += 64) {
      if (len - p < 64) {
        bad = 1;
        break;
      }
      const __m512i chars = load(in + p);
      const __m512i values = values_of(chars);
      bad = _mm512_movepi8_mask(_mm512_or_si512(values, chars));
      if (bad != 0) break;
      const __mmask64 white = _mm512_test_epi8_mask(values, _mm512_set1_epi8(white_value));
      if (fill == 0 && _kortestz_mask64_u8(white, white)) {
        store_groups(values, first_bytes(48), out + w);
        w += 48;
      } else {
        squeeze(values, _knot_mask64(white), stage, fill);
      }
    }
    if (bad != 0) {
      // The window with the first bad byte, or the rest of the input with
      // zero bytes after it, which are outside the alphabet too: the
      // characters before that byte.
      const __m512i chars = _mm512_maskz_loadu_epi8(first_bytes(len - p), in + p);
      const __m512i values = values_of(chars);
      bad = _mm512_movepi8_mask(_mm512_or_si512(values, chars));
      const std::uint64_t white = _mm512_test_epi8_mask(values, _mm512_set1_epi8(white_value));
      squeeze(values, ~white & (bad - 1) & ~bad, stage, fill);
      p += static_cast<std::size_t>(__builtin_ctzll(bad));
    }
    std::size_t i = 0;
    for (; fill - i >= 64; i += 64, w += 48) store_groups(load(stage + i), first_bytes(48), out + w);
    // What is left moves to the front, for the next round.
    _mm512_storeu_si512(stage, load(stage + i));
    fill -= i;
    if (bad != 0) break;
  }
  // The whole groups left; the characters of an open group and the white
  // space before them are not consumed.
  store_groups(load(stage), first_bytes(fill / 4 * 3), out + w);
  w += fill / 4 * 3;
  for (std::size_t open = fill % 4; open != 0;)
    if (!is_white_space(static_cast<unsigned char>(in[--p]))) --open;
  while (p != 0 && is_white_space(static_cast<unsigned char>(in[p - 1]))) --p;
  return {p, w};
}

bool has_vbmi2() { return x86_features().avx512vbmi2; }

}  // namespace

const codec_kernel vbmi2_kernel = {"avx512vbmi2", has_vbmi2, encode, decode};

}  // namespace tessaly

#endif
