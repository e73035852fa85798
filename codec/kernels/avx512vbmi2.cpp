// The AVX-512 VBMI2 kernel, after Muła and Lemire: one byte permutation
// spreads 48 bytes over 64 lanes, a multishift cuts out the fields and a
// second permutation looks up their characters. Decoding looks up all 128
// ASCII values at once, walks text in lines of one length, and beyond that
// squeezes the white space out of each 64-byte window with one byte
// compress, joining what it kept to the values of the group left open by
// the window before, so that text broken anywhere takes the same fixed
// 64-byte steps as unbroken text. Only the functions marked for the
// instruction set use it, so nothing here runs before the CPU check.
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

#define TESSALY_VBMI2 __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,popcnt")))

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

// The 48 bytes at in as 64 characters, the lanes in shifted taking the
// character of the lane before them. The load reads 64 bytes: a masked
// load of 48 is slower, and the steps stop 64 bytes before the end,
// leaving the rest to the AVX2 kernel. Encoding needs VBMI alone.
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

TESSALY_VBMI std::size_t encode(const std::uint8_t* in, std::size_t len, char* out,
                                std::size_t line_chars) {
  char* const start = out;
  std::size_t left = line_chars != 0 ? line_chars : SIZE_MAX;  // room on this line
  const std::size_t p = line_chars >= 64 ? encode_long_lines(in, len, out, line_chars, left)
                                         : encode_short_lines(in, len, out, line_chars, left);
  out += encode_rest(avx2_kernel, in + p, len - p, out, line_chars, left);
  return static_cast<std::size_t>(out - start);
}

constexpr std::uint8_t white_value = 0x40;

// The value of each ASCII character; white space gets white_value, any
// other byte outside the alphabet the high bit.
alignas(64) constexpr auto ascii_values = ascii_value_table(0x80, white_value);

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
