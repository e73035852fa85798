// The AVX-512 VBMI2 kernel: decoding squeezes the white space out of each
// 64-byte window with one byte compress into a stage, a round of windows at
// a time, and decodes the stage while the next round is squeezed, so that
// wrapped text takes the same fixed 64-byte steps as unbroken text.
// Encoding is the VBMI kernel's.
#include "codec/kernels.h"

#if TESSALY_X86_64_KERNELS

#include <immintrin.h>

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
alignas(64) constexpr auto ascii_values = ascii_value_table(0x80, white_value);

std::size_t encode(const std::uint8_t* in, std::size_t len, char* out, std::size_t line_chars) {
  return vbmi_kernel.encode(in, len, out, line_chars);
}

// The values of 64 characters: white space gets white_value, any other
// byte outside the alphabet the high bit (or has it itself).
TESSALY_VBMI2 inline __m512i values_of(__m512i chars) {
  return _mm512_permutex2var_epi8(load(ascii_values.data()), chars, load(ascii_values.data() + 64));
}

// Windows per round. The values squeezed out of a round's windows are
// stored in one stage and decoded while the next round fills the other, so
// that the loads find the stores done.
constexpr std::size_t round_windows = 32;
constexpr std::size_t stage_size = (round_windows + 2) * 64;

// Where the values of the windows go: fill of them at stage, and the
// bytes of those decoded straight at out. One pointer, not a base and an
// offset, so that the window loop keeps it in a register.
struct squeezed {
  std::uint8_t* stage;
  std::size_t fill;
  std::uint8_t* out;
};

// The last round's whole vectors of values, and where their bytes go.
struct ready_values {
  const std::uint8_t* stage;
  std::size_t vectors;
  std::uint8_t* out;
};

// The ready vectors from the from-th on.
TESSALY_VBMI2 inline void decode_ready(const ready_values& ready, std::size_t from) {
  for (std::size_t k = from; k < ready.vectors; ++k)
    store_groups(load(ready.stage + 64 * k), first_bytes(48), ready.out + 48 * k);
}

// The values of a window without bad bytes: a window of alphabet
// characters alone, with none held, decodes straight away.
TESSALY_VBMI2 inline void squeeze(__m512i values, __mmask64 keep, squeezed& s) {
  if (s.fill == 0 && _kortestc_mask64_u8(keep, keep)) {
    store_groups(values, first_bytes(48), s.out);
    s.out += 48;
    return;
  }
  _mm512_storeu_si512(s.stage + s.fill, _mm512_maskz_compress_epi8(keep, values));
  s.fill += static_cast<std::size_t>(__builtin_popcountll(keep));
}

TESSALY_VBMI2 inline __mmask64 alphabet_or_bad(__m512i values) {
  return _mm512_testn_epi8_mask(values, _mm512_set1_epi8(white_value));
}

// The windows at in, on the chance that none holds a bad byte, so that no
// window waits on that check; false, and s unchanged, if one does. The
// ready vectors are decoded on the way.
TESSALY_VBMI2 inline bool squeeze_clean(const char* in, std::size_t windows, squeezed& s,
                                        const ready_values& ready) {
  squeezed next = s;
  __m512i seen = _mm512_setzero_si512();
  for (std::size_t k = 0; k < windows; ++k) {
    const __m512i chars = load(in + 64 * k);
    const __m512i values = values_of(chars);
    seen = _mm512_ternarylogic_epi32(seen, values, chars, 0xFE);  // a | b | c
    squeeze(values, alphabet_or_bad(values), next);
    if (k < ready.vectors)
      store_groups(load(ready.stage + 64 * k), first_bytes(48), ready.out + 48 * k);
  }
  decode_ready(ready, windows);
  if (_mm512_movepi8_mask(seen) != 0) return false;
  s = next;
  return true;
}

// The windows up to the first bad byte or the end of the input, and the
// characters before that byte. Returns the offset of that byte.
TESSALY_VBMI2 std::size_t squeeze_to_end(const char* in, std::size_t len, squeezed& s) {
  std::size_t p = 0;
  for (; len - p >= 64; p += 64) {
    const __m512i chars = load(in + p);
    const __m512i values = values_of(chars);
    if (_mm512_movepi8_mask(_mm512_or_si512(values, chars)) != 0) break;
    squeeze(values, alphabet_or_bad(values), s);
  }
  // Zero bytes after the end: outside the alphabet too.
  const __m512i chars = _mm512_maskz_loadu_epi8(first_bytes(len - p), in + p);
  const __m512i values = values_of(chars);
  const std::uint64_t bad = _mm512_movepi8_mask(_mm512_or_si512(values, chars));
  const std::uint64_t keep = alphabet_or_bad(values) & (bad - 1) & ~bad;
  _mm512_storeu_si512(s.stage + s.fill, _mm512_maskz_compress_epi8(keep, values));
  s.fill += static_cast<std::size_t>(__builtin_popcountll(keep));
  return p + static_cast<std::size_t>(__builtin_ctzll(bad));
}

// Every window is 64 bytes from where the last one ended, so the next load
// never waits on how much white space this one held.
TESSALY_VBMI2 decoded_run decode(const char* in, std::size_t len, std::uint8_t* out) {
  alignas(64) std::uint8_t stages[2][stage_size];
  squeezed s{stages[0], 0, out};
  ready_values ready{stages[1], 0, out};
  std::size_t p = 0;
  for (;;) {
    const std::size_t windows = (len - p) / 64;
    if (windows < round_windows || !squeeze_clean(in + p, round_windows, s, ready)) {
      decode_ready(ready, 0);
      p += squeeze_to_end(in + p, len - p, s);
      break;
    }
    p += 64 * round_windows;
    // This round's whole vectors go next; the values left over start the
    // other stage.
    const std::size_t whole = s.fill / 64 * 64;
    ready = {s.stage, whole / 64, s.out};
    std::uint8_t* other = s.stage == stages[0] ? stages[1] : stages[0];
    _mm512_storeu_si512(other, load(s.stage + whole));
    s = {other, s.fill - whole, s.out + whole / 64 * 48};
  }
  // The whole groups left; the characters of an open group and the white
  // space before them are not consumed.
  auto w = static_cast<std::size_t>(s.out - out);
  for (std::size_t i = 0; i < s.fill; i += 64, w += 48)
    store_groups(load(s.stage + i), first_bytes(s.fill - i >= 64 ? 48 : (s.fill - i) / 4 * 3),
                 out + w);
  w = static_cast<std::size_t>(s.out - out) + s.fill / 4 * 3;
  for (std::size_t open = s.fill % 4; open != 0;)
    if (!is_white_space(static_cast<unsigned char>(in[--p]))) --open;
  while (p != 0 && is_white_space(static_cast<unsigned char>(in[p - 1]))) --p;
  return {p, w};
}

bool has_vbmi2() { return x86_features().avx512vbmi2; }

}  // namespace

const codec_kernel vbmi2_kernel = {"avx512vbmi2", has_vbmi2, encode, decode};

}  // namespace tessaly

#endif
