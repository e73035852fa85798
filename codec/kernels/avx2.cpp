// The AVX2 kernel, after Muła and Lemire: shuffles and multiplies spread
// the 6-bit fields, range lookups turn them into characters; decoding
// checks and translates characters with nibble lookups and packs the
// fields with multiply-adds. Only the functions marked for AVX2 use it, so
// nothing here runs on a CPU without it until the CPU check chose it.
#include "codec/kernels.h"

#if TESSALY_X86_KERNELS

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "codec/kernels/cpu_features.h"
#include "codec/kernels/line_layout.h"
#include "codec/kernels/shuffle_tables.h"
#include "codec/kernels/steps.h"

#define TESSALY_AVX2 __attribute__((target("avx2,popcnt")))

namespace tessaly {
namespace {

using namespace shuffle_tables;

// A table in both 128-bit halves, where the byte shuffle looks up. Built
// byte by byte, so that the compiler folds it into one constant.
TESSALY_AVX2 inline __m256i both_halves(const table& t) {
  const std::int8_t* b = t.bytes;
  return _mm256_setr_epi8(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11],
                          b[12], b[13], b[14], b[15], b[0], b[1], b[2], b[3], b[4], b[5], b[6],
                          b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

// The 24 bytes at in (28 readable) as 32 characters.
TESSALY_AVX2 inline __m256i encode_24(const std::uint8_t* in) {
  const __m256i bytes = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12)), 1);
  const __m256i spread = _mm256_shuffle_epi8(bytes, both_halves(encode_spread));
  // Fields one and three move down by a high multiply, two and four up by
  // a low one, each into its own byte.
  const __m256i ac = _mm256_mulhi_epu16(_mm256_and_si256(spread, _mm256_set1_epi32(0x0FC0FC00)),
                                        _mm256_set1_epi32(0x04000040));
  const __m256i bd = _mm256_mullo_epi16(_mm256_and_si256(spread, _mm256_set1_epi32(0x003F03F0)),
                                        _mm256_set1_epi32(0x01000010));
  const __m256i values = _mm256_or_si256(ac, bd);
  __m256i range = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
  range = _mm256_sub_epi8(range, _mm256_cmpgt_epi8(values, _mm256_set1_epi8(25)));
  return _mm256_add_epi8(values, _mm256_shuffle_epi8(both_halves(encode_offsets), range));
}

// Lines of 32 characters or more. A step that meets a line end stores its
// 32 characters twice: in place, and again one byte further on from the
// line end's lane, the lanes before it shifted down to stay as they were;
// the newline goes between. The lanes come from comparing the lane numbers
// with the room left, kept in every byte of a vector (modulo 256: exact
// whenever it is 32 or less).
TESSALY_AVX2 std::size_t encode_long_lines(const std::uint8_t* in, std::size_t len, char*& out,
                                           std::size_t line_chars, std::size_t& left) {
  const __m256i lane = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                        17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
  __m256i room_before = _mm256_set1_epi8(static_cast<char>(left - 1));
  const __m256i full_step = _mm256_set1_epi8(32);
  const __m256i next_line = _mm256_set1_epi8(static_cast<char>(line_chars - 32));
  std::size_t p = 0;
  for (; len - p >= 28; p += 24) {
    const __m256i chars = encode_24(in + p);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), chars);
    if (left > 32) {
      out += 32;
      left -= 32;
      room_before = _mm256_sub_epi8(room_before, full_step);
    } else {
      const __m256i down =
          _mm256_alignr_epi8(_mm256_permute2x128_si256(chars, chars, 0x81), chars, 1);
      const __m256i past_end = _mm256_cmpgt_epi8(lane, room_before);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 1),
                          _mm256_blendv_epi8(down, chars, past_end));
      out[left] = '\n';
      out += 33;
      left = line_chars - (32 - left);
      room_before = _mm256_add_epi8(room_before, next_line);
    }
  }
  return p;
}

// Shorter lines, or none: a step may write past the end of the line, and
// the next one overwrites it.
TESSALY_AVX2 std::size_t encode_short_lines(const std::uint8_t* in, std::size_t len, char*& out,
                                            std::size_t line_chars, std::size_t& left) {
  std::size_t p = 0;
  while (len - p >= 28) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), encode_24(in + p));
    lay_out_step(32, line_chars, p, out, left);
  }
  return p;
}

TESSALY_AVX2 std::size_t encode_avx2(const std::uint8_t* in, std::size_t len, char* out,
                                     std::size_t line_chars) {
  char* const start = out;
  std::size_t left = line_chars != 0 ? line_chars : SIZE_MAX;  // room on this line
  const std::size_t p = line_chars >= 32 ? encode_long_lines(in, len, out, line_chars, left)
                                         : encode_short_lines(in, len, out, line_chars, left);
  out += encode_rest(scalar_kernel, in + p, len - p, out, line_chars, left);
  return static_cast<std::size_t>(out - start);
}

// Nonzero in the bytes of chars that are not alphabet characters.
TESSALY_AVX2 inline __m256i alphabet_clash(__m256i chars) {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), nibble);
  const __m256i low = _mm256_and_si256(chars, nibble);
  return _mm256_and_si256(_mm256_shuffle_epi8(both_halves(valid_by_low), low),
                          _mm256_shuffle_epi8(both_halves(valid_by_high), high));
}

// A mask of the bytes of chars that are not alphabet characters.
TESSALY_AVX2 inline std::uint32_t outside_alphabet(__m256i chars) {
  return ~static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(alphabet_clash(chars), _mm256_setzero_si256())));
}

// The 24 bytes of 32 alphabet characters, stored as 32 bytes.
TESSALY_AVX2 inline void decode_32(__m256i chars, std::uint8_t* out) {
  const __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), _mm256_set1_epi8(0x0F));
  const __m256i slash = _mm256_cmpeq_epi8(chars, _mm256_set1_epi8('/'));
  const __m256i values = _mm256_add_epi8(
      chars, _mm256_shuffle_epi8(both_halves(decode_offsets), _mm256_add_epi8(high, slash)));
  // Fields pairwise into 12 bits, then into the 24 bits of each group.
  const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
  const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
  const __m256i packed = _mm256_shuffle_epi8(groups, both_halves(decode_pack));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                      _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7)));
}

// A mask of the bytes of chars that are white space.
TESSALY_AVX2 inline std::uint32_t white_space(__m256i chars) {
  const __m256i low = _mm256_and_si256(chars, _mm256_set1_epi8(0x0F));
  return static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(both_halves(white_by_low), low), chars)));
}

// As cut_break, for a run of any length.
TESSALY_AVX2 inline bool cut_run(const char* in, __m256i chars, std::size_t at, std::size_t cut,
                                 std::size_t& p, std::uint8_t* out) {
  const __m256i index = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                         17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
  const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + p + cut));
  const __m256i joined = _mm256_blendv_epi8(
      after, chars, _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(at)), index));
  if (outside_alphabet(joined) != 0) return false;
  decode_32(joined, out);
  p += 32 + cut;
  return true;
}

// Decodes the 32 characters at in + p with the white space of cut bytes at
// offset at taken out, if that leaves only alphabet characters.
template <std::size_t cut>
TESSALY_AVX2 inline bool cut_break(const char* in, __m256i chars, std::size_t at, std::size_t& p,
                                   std::uint8_t* out) {
  return cut_run(in, chars, at, cut, p, out);
}

// The line walk over text in lines of one length: a window of 32
// characters is two loads and a blend. Where each window meets its line
// end follows from the room left on the line, kept in a general register
// to steer by and, less one, in every byte of a vector for the blend.
struct lines_walk {
  const char* in;
  std::size_t left;
  __m256i room_before;  // left - 1, modulo 256: exact whenever left is 32 or less
  std::uint8_t* out;
};

// Decodes a round of windows if the text keeps to the layout there: false,
// and walk unchanged, if it does not.
template <std::size_t end_bytes, std::size_t windows>
TESSALY_AVX2 inline bool decode_line_round(lines_walk& walk, const line_layout& layout) {
  const __m256i lane = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                        17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
  const __m256i line_feed = _mm256_set1_epi8('\n');
  const __m256i next_line = _mm256_set1_epi8(static_cast<char>(layout.length - 32));
  const char* in = walk.in;
  std::size_t left = walk.left;
  __m256i room_before = walk.room_before;
  __m256i clash = _mm256_setzero_si256();
  // White bytes among the windows' own: the line ends, since the lanes
  // taken are checked as characters.
  std::size_t white = 0;
  std::size_t line_ends = 0;
  for (std::size_t k = 0; k < windows; ++k) {
    const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    __m256i chars = before;
    if (left < 32) {
      const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + end_bytes));
      chars = _mm256_blendv_epi8(before, after, _mm256_cmpgt_epi8(lane, room_before));
      __m256i ends = _mm256_cmpeq_epi8(before, line_feed);
      if (end_bytes == 2)
        ends = _mm256_or_si256(ends, _mm256_cmpeq_epi8(before, _mm256_set1_epi8(layout.end)));
      white += static_cast<std::size_t>(
          __builtin_popcount(static_cast<std::uint32_t>(_mm256_movemask_epi8(ends))));
      line_ends += end_bytes;
      in += 32 + end_bytes;
      left += layout.length - 32;
      room_before = _mm256_add_epi8(room_before, next_line);
    } else {
      in += 32;
      left -= 32;
      room_before = _mm256_sub_epi8(room_before, _mm256_set1_epi8(32));
    }
    clash = _mm256_or_si256(clash, alphabet_clash(chars));
    decode_32(chars, walk.out + 24 * k);
  }
  if (!_mm256_testz_si256(clash, clash) || white != line_ends) return false;
  walk = {in, left, room_before, walk.out + 24 * windows};
  return true;
}

// Whether the input up to stop holds the next windows, each of which reads
// its 32 characters and a line end; with 44 bytes of input from the last
// one's start, out has room for its 32-byte store.
template <std::size_t end_bytes>
inline bool has_room(const lines_walk& walk, std::size_t windows, const char* stop) {
  return holds_windows(static_cast<std::size_t>(stop - walk.in), windows, 32, end_bytes,
                       44 + end_bytes);
}

template <std::size_t end_bytes>
TESSALY_AVX2 decoded_run walk_lines(const char* in, std::size_t len, std::uint8_t* out,
                                    const line_layout& layout) {
  const char* const stop = in + len;
  lines_walk walk{in, layout.first, _mm256_set1_epi8(static_cast<char>(layout.first - 1)), out};
  while (has_room<end_bytes>(walk, round_windows, stop) &&
         decode_line_round<end_bytes, round_windows>(walk, layout)) {
  }
  // The rest in fewer windows a round, but no fewer rounds than needed.
  if (has_room<end_bytes>(walk, 4, stop)) decode_line_round<end_bytes, 4>(walk, layout);
  if (has_room<end_bytes>(walk, 2, stop)) decode_line_round<end_bytes, 2>(walk, layout);
  while (has_room<end_bytes>(walk, 1, stop) && decode_line_round<end_bytes, 1>(walk, layout)) {
  }
  return {static_cast<std::size_t>(walk.in - in), static_cast<std::size_t>(walk.out - out)};
}

TESSALY_AVX2 decoded_run decode_lines(const char* in, std::size_t len, std::uint8_t* out) {
  line_layout layout;
  if (!find_layout(in, len, 32, layout) || splits_line_ends(layout, 32)) return {0, 0};
  return layout.end_bytes == 2 ? walk_lines<2>(in, len, out, layout)
                               : walk_lines<1>(in, len, out, layout);
}

TESSALY_AVX2 decoded_run decode_avx2(const char* in, std::size_t len, std::uint8_t* out) {
  const decoded_run lines = decode_lines(in, len, out);
  std::size_t p = lines.consumed;
  std::size_t w = lines.written;
  // With 44 bytes left, out has room for a whole 32-byte store.
  while (len - p >= 44) {
    const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + p));
    const std::uint32_t bad = outside_alphabet(chars);
    if (bad == 0) {
      decode_32(chars, out + w);
      p += 32;
      w += 24;
      continue;
    }
    // One line break, LF or CRLF, is cut out by shifting the bytes after
    // it down; that is the common case of wrapped text. Each kind has its
    // own branch, so that the next load waits on a prediction, not on data.
    const auto at = static_cast<std::size_t>(__builtin_ctz(bad));
    if (in[p + at] == '\n' && cut_break<1>(in, chars, at, p, out + w)) {
      w += 24;
      continue;
    }
    if (in[p + at] == '\r' && in[p + at + 1] == '\n' && cut_break<2>(in, chars, at, p, out + w)) {
      w += 24;
      continue;
    }
    // Any other run of white space, such as spaces before a line end.
    const std::uint64_t white = white_space(chars) >> at;
    const auto run = static_cast<std::size_t>(__builtin_ctzll(~white));
    // Short runs by their length, so that the next load waits on a
    // prediction again.
    if (run != 0 && len - p >= 32 + run &&
        (run == 1   ? cut_break<1>(in, chars, at, p, out + w)
         : run == 2 ? cut_break<2>(in, chars, at, p, out + w)
         : run == 3 ? cut_break<3>(in, chars, at, p, out + w)
                    : cut_run(in, chars, at, run, p, out + w))) {
      w += 24;
      continue;
    }
    // Otherwise the whole groups before the byte, then one group across it.
    decode_32(chars, out + w);
    p += at / 4 * 4;
    w += at / 4 * 3;
    const std::size_t taken = decode_broken_group(in + p, len - p, out + w);
    if (taken == 0) return {p, w};
    p += taken;
    w += 3;
  }
  const decoded_run rest = scalar_kernel.decode(in + p, len - p, out + w);
  return {p + rest.consumed, w + rest.written};
}

bool has_avx2() { return x86_features().avx2; }

}  // namespace

const codec_kernel avx2_kernel = {"avx2", has_avx2, encode_avx2, decode_avx2};

}  // namespace tessaly

#endif
