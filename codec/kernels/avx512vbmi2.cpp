// The AVX-512 VBMI2 kernel: decoding walks text in lines of one length as
// the VBMI kernel does, and beyond that squeezes the white space out of
// each 64-byte window with one byte compress, joining what it kept to the
// values of the group left open by the window before, so that text broken
// anywhere takes the same fixed 64-byte steps as unbroken text. Encoding
// is the VBMI kernel's.
#include "codec/kernels.h"

#if TESSALY_X86_64_KERNELS

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "codec/alphabet.h"
#include "codec/kernels/avx512.h"
#include "codec/kernels/avx512_lines.h"
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

constexpr std::array<std::uint8_t, 128> make_ramp() {
  std::array<std::uint8_t, 128> ramp{};
  for (int i = 0; i < 128; ++i) ramp[i] = static_cast<std::uint8_t>(i);
  return ramp;
}

// Loaded from offset n, the permutation index that takes the 64 bytes from
// the n-th on of two vectors laid end to end.
alignas(64) constexpr auto ramp = make_ramp();

// The values read so far: total of them, of which the last total % 4, an
// open group, wait in the top lanes of open; the bytes of the others are
// at out.
struct squeezed {
  __m512i open;
  std::size_t total;
  std::uint8_t* const out;
};

// Takes the values that keep marks, white space squeezed out. The open
// group's values and these, laid end to end, are decoded in one vector;
// what is left of them stays open. No step waits on a store, and the next
// window's load does not wait on how much this one kept.
TESSALY_VBMI2 inline void take(__m512i values, __mmask64 keep, squeezed& s,
                               std::uint64_t store_mask = first_bytes(48)) {
  const __m512i kept = _mm512_maskz_compress_epi8(keep, values);
  const std::size_t waiting = s.total % 4;
  const __m512i joined = _mm512_permutex2var_epi8(s.open, load(ramp.data() + 64 - waiting), kept);
  store_groups(joined, store_mask, s.out + s.total / 4 * 3);
  const auto n = static_cast<std::size_t>(__builtin_popcountll(keep));
  // With three values or more kept, the open group is among them alone, so
  // that a window's squeeze never waits on the last one's; when the
  // window's last three bytes are kept, they are its own top lanes already.
  if (keep >> 61 == 7)
    s.open = values;
  else
    s.open = n >= 3 ? permute(load(ramp.data() + n), kept)
                    : _mm512_permutex2var_epi8(s.open, load(ramp.data() + n), kept);
  s.total += n;
}

TESSALY_VBMI2 inline __mmask64 alphabet_only(__m512i values) {
  return _mm512_testn_epi8_mask(values, _mm512_set1_epi8(white_value));
}

// Every window is 64 bytes from where the last one ended.
TESSALY_VBMI2 decoded_run decode(const char* in, std::size_t len, std::uint8_t* out) {
  const decoded_run lines = decode_lines(in, len, out);
  squeezed s{_mm512_setzero_si512(), 0, out + lines.written};
  std::size_t p = lines.consumed;
  // Four windows at a time: unbroken text, with no group open, needs
  // nothing squeezed or joined.
  for (; len - p >= 256; p += 256) {
    __m512i values[4];
    __m512i any = _mm512_setzero_si512();
    __m512i any_value = _mm512_setzero_si512();
    for (int k = 0; k < 4; ++k) {
      const __m512i chars = load(in + p + 64 * k);
      values[k] = values_of(chars);
      any = _mm512_ternarylogic_epi32(any, values[k], chars, 0xFE);  // a | b | c
      any_value = _mm512_or_si512(any_value, values[k]);
    }
    const std::uint64_t odd =
        _mm512_movepi8_mask(any) | _mm512_test_epi8_mask(any_value, _mm512_set1_epi8(white_value));
    if (odd == 0 && s.total % 4 == 0) {
      std::uint8_t* const out_at = s.out + s.total / 4 * 3;
      for (int k = 0; k < 4; ++k) store_groups(values[k], first_bytes(48), out_at + 48 * k);
      s.total += 256;
      continue;
    }
    if (_mm512_movepi8_mask(any) != 0) break;
    for (int k = 0; k < 4; ++k) take(values[k], alphabet_only(values[k]), s);
  }
  for (; len - p >= 64; p += 64) {
    const __m512i chars = load(in + p);
    const __m512i values = values_of(chars);
    if (_mm512_movepi8_mask(_mm512_or_si512(values, chars)) != 0) break;
    take(values, alphabet_only(values), s);
  }
  // The window with the first other byte: a zero byte after the end counts
  // as one.
  const __m512i chars = _mm512_maskz_loadu_epi8(first_bytes(len - p), in + p);
  const __m512i values = values_of(chars);
  const std::uint64_t bad = _mm512_movepi8_mask(_mm512_or_si512(values, chars));
  const std::uint64_t keep = alphabet_only(values) & (bad - 1) & ~bad;
  const auto kept = static_cast<std::size_t>(__builtin_popcountll(keep));
  const std::size_t groups = (s.total % 4 + kept) / 4;
  take(values, keep, s, first_bytes(3 * groups));
  p += static_cast<std::size_t>(__builtin_ctzll(bad));
  // The characters of the open group and the white space before them are
  // not consumed.
  for (std::size_t open = s.total % 4; open != 0;)
    if (!is_white_space(static_cast<unsigned char>(in[--p]))) --open;
  while (p != 0 && is_white_space(static_cast<unsigned char>(in[p - 1]))) --p;
  return {p, lines.written + s.total / 4 * 3};
}

bool has_vbmi2() { return x86_features().avx512vbmi2; }

}  // namespace

const codec_kernel vbmi2_kernel = {"avx512vbmi2", has_vbmi2, encode, decode};

}  // namespace tessaly

#endif
