// The AVX-512 VBMI kernel, after Muła and Lemire: one byte permutation
// spreads 48 bytes over 64 lanes, a multishift cuts out the fields and a
// second permutation looks up their characters; decoding looks up all 128
// ASCII values at once and packs the fields with multiply-adds. As with
// AVX2, only the functions marked for the instruction set use it.
#include "codec/kernels.h"

#if TESSALY_X86_64_KERNELS

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "codec/alphabet.h"
#include "codec/kernels/avx512.h"
#include "codec/kernels/avx512_lines.h"
#include "codec/kernels/cpu_features.h"
#include "codec/kernels/steps.h"

namespace tessaly {
namespace {

using namespace avx512;

// The multishift that cuts out the fields reads within one 64-bit lane:
// lane q of the spread holds groups 2q and 2q + 1, each as b2 b1 b0, so
// that every field lies in one piece, after the last byte of group 2q - 1.
// That is enough for the characters of its 8 output lanes, whether or not
// a newline before them shifts them up by one.
constexpr std::array<std::uint8_t, 64> make_spread() {
  std::array<std::uint8_t, 64> index{};
  for (int q = 0; q < 8; ++q) {
    const int g = 6 * q;  // the first byte of group 2q
    const int lane[8] = {q == 0 ? 0 : g - 1, g + 2, g + 1, g, g + 5, g + 4, g + 3, 0};
    for (int i = 0; i < 8; ++i) index[8 * q + i] = static_cast<std::uint8_t>(lane[i]);
  }
  return index;
}

alignas(64) constexpr auto spread_index = make_spread();
// Bit offsets of the fields of each 64-bit lane's 8 characters, in output
// order: in place, and shifted up by one lane past a newline.
constexpr std::int64_t fields_in_place = 0x20262c32080e141a;
constexpr std::int64_t fields_shifted = 0x262c32080e141a00;
// The value of each ASCII character, with the high bit set for those
// outside the alphabet.
alignas(64) constexpr auto ascii_values = ascii_value_table(0x80, 0x80);

// The 48 bytes at in as 64 characters, the lanes in shifted taking the
// character of the lane before them. The load reads 64 bytes: a masked
// load of 48 is slower, and the steps stop 64 bytes before the end,
// leaving the rest to the AVX2 kernel.
TESSALY_VBMI inline __m512i encode_step(const std::uint8_t* in, std::uint64_t shifted) {
  const __m512i bytes = load(in);
  const __m512i spread = permute(load(spread_index.data()), bytes);
  const __m512i offsets = _mm512_mask_blend_epi8(shifted, _mm512_set1_epi64(fields_in_place),
                                                 _mm512_set1_epi64(fields_shifted));
  const __m512i fields = _mm512_maskz_multishift_epi64_epi8(all_64, offsets, spread);
  return permute(fields, load(encode_alphabet));
}

TESSALY_VBMI inline __m512i encode_48(const std::uint8_t* in) { return encode_step(in, 0); }

// Lines of 64 characters or more. A step that meets no line end writes
// 64 characters; one that does writes 15 groups with a lane left for the
// newline among them, laid out by the same three permutations: 61 bytes,
// in one store of 64 whose last three the next step overwrites, and the
// newline stored on its own, which measured quicker than putting it in the
// vector. Some step always follows, since a step leaves at least 19 of the
// 64 bytes it needs. The lanes after the newline come from comparing the
// lane numbers with the room left, kept in every byte of a vector: moving
// a mask over from a general register each step would cost more than the
// step.
TESSALY_VBMI std::size_t encode_long_lines(const std::uint8_t* in, std::size_t len, char*& out,
                                           std::size_t line_chars, std::size_t& left) {
  const __m512i lane = load(byte_index.data());
  // The room left, modulo 256: exact whenever it is below 64.
  __m512i room = _mm512_set1_epi8(static_cast<char>(left));
  const __m512i full_step = _mm512_set1_epi8(64);
  const __m512i next_line = _mm512_set1_epi8(static_cast<char>(line_chars - 60));
  std::size_t p = 0;
  while (len - p >= 64) {
    if (left >= 64) {
      _mm512_storeu_si512(out, encode_48(in + p));
      p += 48;
      out += 64;
      left -= 64;
      room = _mm512_sub_epi8(room, full_step);
    } else {
      _mm512_storeu_si512(out, encode_step(in + p, _mm512_cmpgt_epu8_mask(lane, room)));
      out[left] = '\n';
      p += 45;
      out += 61;
      left = line_chars - (60 - left);
      room = _mm512_add_epi8(room, next_line);
    }
  }
  return p;
}

// Shorter lines, or none: a step may write past the end of the line, and
// the next one overwrites it.
TESSALY_VBMI std::size_t encode_short_lines(const std::uint8_t* in, std::size_t len, char*& out,
                                            std::size_t line_chars, std::size_t& left) {
  std::size_t p = 0;
  while (len - p >= 64) {
    const __m512i chars = encode_48(in + p);
    if (left > 64) {
      _mm512_storeu_si512(out, chars);
      p += 48;
      out += 64;
      left -= 64;
    } else {
      _mm512_mask_storeu_epi8(out, first_bytes(left), chars);
      p += left / 4 * 3;
      out += left;
      *out++ = '\n';
      left = line_chars;
    }
  }
  return p;
}

TESSALY_VBMI std::size_t encode_vbmi(const std::uint8_t* in, std::size_t len, char* out,
                                     std::size_t line_chars) {
  char* const start = out;
  std::size_t left = line_chars != 0 ? line_chars : SIZE_MAX;  // room on this line
  const std::size_t p = line_chars >= 64 ? encode_long_lines(in, len, out, line_chars, left)
                                         : encode_short_lines(in, len, out, line_chars, left);
  out += encode_rest(avx2_kernel, in + p, len - p, out, line_chars, left);
  return static_cast<std::size_t>(out - start);
}

// The values of 64 characters; those outside the alphabet get the high
// bit set.
TESSALY_VBMI inline __m512i values_of(__m512i chars) {
  return _mm512_permutex2var_epi8(load(ascii_values.data()), chars, load(ascii_values.data() + 64));
}

// A mask of the bytes of chars that are not alphabet characters: a high
// bit in the character (not ASCII) or in its value.
TESSALY_VBMI inline std::uint64_t outside_alphabet(__m512i chars, __m512i values) {
  return _mm512_movepi8_mask(_mm512_or_si512(values, chars));
}

// The 64 bytes at in, or as many as there are, the rest zero: a zero
// byte is outside the alphabet, so no step decodes past the end.
template <bool tail>
TESSALY_VBMI inline __m512i load_window(const char* in, std::size_t rest) {
  return tail ? _mm512_maskz_loadu_epi8(first_bytes(rest), in) : load(in);
}

// Decodes the 64 characters at in + p with the line break of cut bytes at
// offset at taken out, if that leaves only alphabet characters.
template <std::size_t cut, bool tail>
TESSALY_VBMI inline bool cut_break(const char* in, std::size_t len, __m512i chars, std::size_t at,
                                   std::size_t& p, std::uint8_t* out) {
  const __m512i after = load_window<tail>(in + p + cut, len - p - cut);
  const __m512i joined = _mm512_mask_blend_epi8(all_64 << at, chars, after);
  const __m512i values = values_of(joined);
  if (outside_alphabet(joined, values) != 0) return false;
  store_groups(values, first_bytes(48), out);
  p += 64 + cut;
  return true;
}

// One step over the window at in + p: false when no whole group is left.
template <bool tail>
TESSALY_VBMI inline bool decode_window(const char* in, std::size_t len, std::uint8_t* out,
                                       std::size_t& p, std::size_t& w) {
  const std::size_t rest = len - p;
  const __m512i chars = load_window<tail>(in + p, rest);
  // Wrapped text has a line break in most windows: look for it first and
  // check the characters only once, with the break cut out.
  const std::uint64_t breaks = _mm512_cmpeq_epi8_mask(chars, _mm512_set1_epi8('\n'));
  if (breaks == 0) {
    const __m512i values = values_of(chars);
    if (outside_alphabet(chars, values) == 0) {
      store_groups(values, first_bytes(48), out + w);
      p += 64;
      w += 48;
      return true;
    }
  } else {
    const auto at = static_cast<std::size_t>(__builtin_ctzll(breaks));
    if (at != 0 && in[p + at - 1] == '\r' ? cut_break<2, tail>(in, len, chars, at - 1, p, out + w)
                                           : cut_break<1, tail>(in, len, chars, at, p, out + w)) {
      w += 48;
      return true;
    }
  }
  const __m512i values = values_of(chars);
  const auto at = static_cast<std::size_t>(__builtin_ctzll(outside_alphabet(chars, values)));
  // A CRLF whose LF starts the next window.
  if ((!tail || at + 1 < rest) && in[p + at] == '\r' && in[p + at + 1] == '\n' &&
      cut_break<2, tail>(in, len, chars, at, p, out + w)) {
    w += 48;
    return true;
  }
  // Otherwise the whole groups before the first other byte, then one
  // group across it.
  store_groups(values, first_bytes(at / 4 * 3), out + w);
  p += at / 4 * 4;
  w += at / 4 * 3;
  const std::size_t taken = decode_broken_group(in + p, len - p, out + w);
  if (taken == 0) return false;
  p += taken;
  w += 3;
  return true;
}

TESSALY_VBMI decoded_run decode_vbmi(const char* in, std::size_t len, std::uint8_t* out) {
  const decoded_run lines = decode_lines(in, len, out);
  std::size_t p = lines.consumed;
  std::size_t w = lines.written;
  while (len - p >= 66)
    if (!decode_window<false>(in, len, out, p, w)) return {p, w};
  while (p < len && decode_window<true>(in, len, out, p, w)) {
  }
  return {p, w};
}

bool has_vbmi() { return x86_features().avx512vbmi; }

}  // namespace

const codec_kernel vbmi_kernel = {"avx512vbmi", has_vbmi, encode_vbmi, decode_vbmi};

}  // namespace tessaly

#endif
