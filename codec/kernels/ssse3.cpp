// The SSSE3 kernel: the AVX2 kernel's method on 128-bit registers, for
// the x86 CPUs without AVX2 (every one since 2006 has SSSE3, whose byte
// shuffle the method is built on). SSE2 has no byte blend, so lanes are
// chosen with masks, and a round of the line walk counts its line ends in
// a vector, since POPCNT may be missing. Only the functions marked for
// SSSE3 use it, so nothing here runs before the CPU check chose it.
#include "codec/kernels.h"

#if TESSALY_X86_KERNELS

#include <tmmintrin.h>

#include <cstdint>

#include "codec/kernels/cpu_features.h"
#include "codec/kernels/line_layout.h"
#include "codec/kernels/shuffle_tables.h"
#include "codec/kernels/steps.h"

#define TESSALY_SSSE3 __attribute__((target("ssse3")))

namespace tessaly {
namespace {

using namespace shuffle_tables;

TESSALY_SSSE3 inline __m128i lookup(const table& t) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(t.bytes));
}

TESSALY_SSSE3 inline __m128i load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

TESSALY_SSSE3 inline void store(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// The lanes of if_set where mask is set, of if_clear elsewhere.
TESSALY_SSSE3 inline __m128i select(__m128i mask, __m128i if_set, __m128i if_clear) {
  return _mm_or_si128(_mm_and_si128(mask, if_set), _mm_andnot_si128(mask, if_clear));
}

TESSALY_SSSE3 inline __m128i lane_numbers() {
  return _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

// The 12 bytes at in (16 readable) as 16 characters.
TESSALY_SSSE3 inline __m128i encode_12(const std::uint8_t* in) {
  const __m128i spread = _mm_shuffle_epi8(load(in), lookup(encode_spread));
  // Fields one and three move down by a high multiply, two and four up by
  // a low one, each into its own byte.
  const __m128i ac = _mm_mulhi_epu16(_mm_and_si128(spread, _mm_set1_epi32(0x0FC0FC00)),
                                     _mm_set1_epi32(0x04000040));
  const __m128i bd = _mm_mullo_epi16(_mm_and_si128(spread, _mm_set1_epi32(0x003F03F0)),
                                     _mm_set1_epi32(0x01000010));
  const __m128i values = _mm_or_si128(ac, bd);
  __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
  range = _mm_sub_epi8(range, _mm_cmpgt_epi8(values, _mm_set1_epi8(25)));
  return _mm_add_epi8(values, _mm_shuffle_epi8(lookup(encode_offsets), range));
}

// Lines of 16 characters or more, as the AVX2 kernel lays them out: a
// step that meets a line end stores its characters in place and again one
// byte further on from the line end's lane, the newline between.
TESSALY_SSSE3 std::size_t encode_long_lines(const std::uint8_t* in, std::size_t len, char*& out,
                                            std::size_t line_chars, std::size_t& left) {
  // The room left less one, modulo 256: exact whenever it is 16 or less.
  __m128i room_before = _mm_set1_epi8(static_cast<char>(left - 1));
  const __m128i next_line = _mm_set1_epi8(static_cast<char>(line_chars - 16));
  std::size_t p = 0;
  for (; len - p >= 16; p += 12) {
    const __m128i chars = encode_12(in + p);
    store(out, chars);
    if (left > 16) {
      out += 16;
      left -= 16;
      room_before = _mm_sub_epi8(room_before, _mm_set1_epi8(16));
    } else {
      const __m128i past_end = _mm_cmpgt_epi8(lane_numbers(), room_before);
      store(out + 1, select(past_end, chars, _mm_srli_si128(chars, 1)));
      out[left] = '\n';
      out += 17;
      left = line_chars - (16 - left);
      room_before = _mm_add_epi8(room_before, next_line);
    }
  }
  return p;
}

// Shorter lines, or none: a step may write past the end of the line, and
// the next one overwrites it.
TESSALY_SSSE3 std::size_t encode_short_lines(const std::uint8_t* in, std::size_t len, char*& out,
                                             std::size_t line_chars, std::size_t& left) {
  std::size_t p = 0;
  while (len - p >= 16) {
    store(out, encode_12(in + p));
    lay_out_step(16, line_chars, p, out, left);
  }
  return p;
}

TESSALY_SSSE3 std::size_t encode_ssse3(const std::uint8_t* in, std::size_t len, char* out,
                                       std::size_t line_chars) {
  char* const start = out;
  std::size_t left = line_chars != 0 ? line_chars : SIZE_MAX;  // room on this line
  const std::size_t p = line_chars >= 16 ? encode_long_lines(in, len, out, line_chars, left)
                                         : encode_short_lines(in, len, out, line_chars, left);
  out += encode_rest(scalar_kernel, in + p, len - p, out, line_chars, left);
  return static_cast<std::size_t>(out - start);
}

// Nonzero in the bytes of chars that are not alphabet characters.
TESSALY_SSSE3 inline __m128i alphabet_clash(__m128i chars) {
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i high = _mm_and_si128(_mm_srli_epi32(chars, 4), nibble);
  const __m128i low = _mm_and_si128(chars, nibble);
  return _mm_and_si128(_mm_shuffle_epi8(lookup(valid_by_low), low),
                       _mm_shuffle_epi8(lookup(valid_by_high), high));
}

// A mask of the lanes where v is zero.
TESSALY_SSSE3 inline std::uint32_t zero_lanes(__m128i v) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
}

// A mask of the bytes of chars that are not alphabet characters.
TESSALY_SSSE3 inline std::uint32_t outside_alphabet(__m128i chars) {
  return zero_lanes(alphabet_clash(chars)) ^ 0xFFFF;
}

// The 12 bytes of 16 alphabet characters, stored as 16 bytes.
TESSALY_SSSE3 inline void decode_16(__m128i chars, std::uint8_t* out) {
  const __m128i high = _mm_and_si128(_mm_srli_epi32(chars, 4), _mm_set1_epi8(0x0F));
  const __m128i slash = _mm_cmpeq_epi8(chars, _mm_set1_epi8('/'));
  const __m128i values =
      _mm_add_epi8(chars, _mm_shuffle_epi8(lookup(decode_offsets), _mm_add_epi8(high, slash)));
  // Fields pairwise into 12 bits, then into the 24 bits of each group.
  const __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(0x01400140));
  const __m128i groups = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
  store(out, _mm_shuffle_epi8(groups, lookup(decode_pack)));
}

// A mask of the bytes of chars that are white space.
TESSALY_SSSE3 inline std::uint32_t white_space(__m128i chars) {
  const __m128i low = _mm_and_si128(chars, _mm_set1_epi8(0x0F));
  return static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_shuffle_epi8(lookup(white_by_low), low), chars)));
}

// As cut_break, for a run of any length.
TESSALY_SSSE3 inline bool cut_run(const char* in, __m128i chars, std::size_t at, std::size_t cut,
                                  std::size_t& p, std::uint8_t* out) {
  const __m128i before_cut = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(at)), lane_numbers());
  const __m128i joined = select(before_cut, chars, load(in + p + cut));
  if (outside_alphabet(joined) != 0) return false;
  decode_16(joined, out);
  p += 16 + cut;
  return true;
}

// Decodes the 16 characters at in + p with the white space of cut bytes at
// offset at taken out, if that leaves only alphabet characters.
template <std::size_t cut>
TESSALY_SSSE3 inline bool cut_break(const char* in, __m128i chars, std::size_t at, std::size_t& p,
                                    std::uint8_t* out) {
  return cut_run(in, chars, at, cut, p, out);
}

// The line walk over text in lines of one length, as the AVX2 kernel's:
// a window of 16 characters is two loads and a choice of lanes.
struct lines_walk {
  const char* in;
  std::size_t left;
  __m128i room_before;  // left - 1, modulo 256: exact whenever left is 16 or less
  std::uint8_t* out;
};

// Decodes a round of windows if the text keeps to the layout there: false,
// and walk unchanged, if it does not.
template <std::size_t end_bytes, std::size_t windows>
TESSALY_SSSE3 inline bool decode_line_round(lines_walk& walk, const line_layout& layout) {
  const __m128i line_feed = _mm_set1_epi8('\n');
  const __m128i next_line = _mm_set1_epi8(static_cast<char>(layout.length - 16));
  const char* in = walk.in;
  std::size_t left = walk.left;
  __m128i room_before = walk.room_before;
  __m128i clash = _mm_setzero_si128();
  // White bytes among the windows' own, counted in each lane: the line
  // ends, since the lanes taken are checked as characters.
  __m128i white = _mm_setzero_si128();
  std::size_t line_ends = 0;
  for (std::size_t k = 0; k < windows; ++k) {
    const __m128i before = load(in);
    __m128i chars = before;
    if (left < 16) {
      const __m128i after = load(in + end_bytes);
      chars = select(_mm_cmpgt_epi8(lane_numbers(), room_before), after, before);
      __m128i ends = _mm_cmpeq_epi8(before, line_feed);
      if (end_bytes == 2)
        ends = _mm_or_si128(ends, _mm_cmpeq_epi8(before, _mm_set1_epi8(layout.end)));
      white = _mm_sub_epi8(white, ends);
      line_ends += end_bytes;
      in += 16 + end_bytes;
      left += layout.length - 16;
      room_before = _mm_add_epi8(room_before, next_line);
    } else {
      in += 16;
      left -= 16;
      room_before = _mm_sub_epi8(room_before, _mm_set1_epi8(16));
    }
    clash = _mm_or_si128(clash, alphabet_clash(chars));
    decode_16(chars, walk.out + 12 * k);
  }
  const __m128i sums = _mm_sad_epu8(white, _mm_setzero_si128());
  const auto white_count =
      static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_add_epi32(sums, _mm_srli_si128(sums, 8))));
  if (zero_lanes(clash) != 0xFFFF || white_count != line_ends) return false;
  walk = {in, left, room_before, walk.out + 12 * windows};
  return true;
}

// Whether the input up to stop holds the next windows, each of which reads
// its 16 characters and a line end; with 24 bytes of input from the last
// one's start, out has room for its 16-byte store.
template <std::size_t end_bytes>
inline bool has_room(const lines_walk& walk, std::size_t windows, const char* stop) {
  return holds_windows(static_cast<std::size_t>(stop - walk.in), windows, 16, end_bytes,
                       24 + end_bytes);
}

template <std::size_t end_bytes>
TESSALY_SSSE3 decoded_run walk_lines(const char* in, std::size_t len, std::uint8_t* out,
                                     const line_layout& layout) {
  const char* const stop = in + len;
  lines_walk walk{in, layout.first, _mm_set1_epi8(static_cast<char>(layout.first - 1)), out};
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

TESSALY_SSSE3 decoded_run decode_lines(const char* in, std::size_t len, std::uint8_t* out) {
  line_layout layout;
  if (!find_layout(in, len, 16, layout) || splits_line_ends(layout, 16)) return {0, 0};
  return layout.end_bytes == 2 ? walk_lines<2>(in, len, out, layout)
                               : walk_lines<1>(in, len, out, layout);
}

TESSALY_SSSE3 decoded_run decode_ssse3(const char* in, std::size_t len, std::uint8_t* out) {
  const decoded_run lines = decode_lines(in, len, out);
  std::size_t p = lines.consumed;
  std::size_t w = lines.written;
  // With 24 bytes left, out has room for a whole 16-byte store.
  while (len - p >= 24) {
    const __m128i chars = load(in + p);
    const std::uint32_t bad = outside_alphabet(chars);
    if (bad == 0) {
      decode_16(chars, out + w);
      p += 16;
      w += 12;
      continue;
    }
    // One line break, LF or CRLF, is cut out by shifting the bytes after
    // it down; each kind has its own branch, so that the next load waits
    // on a prediction, not on data.
    const auto at = static_cast<std::size_t>(__builtin_ctz(bad));
    if (in[p + at] == '\n' && cut_break<1>(in, chars, at, p, out + w)) {
      w += 12;
      continue;
    }
    if (in[p + at] == '\r' && in[p + at + 1] == '\n' && cut_break<2>(in, chars, at, p, out + w)) {
      w += 12;
      continue;
    }
    // Any other run of white space, such as spaces before a line end.
    const std::uint32_t white = white_space(chars) >> at;
    const auto run = static_cast<std::size_t>(__builtin_ctz(~white));
    if (run != 0 && len - p >= 16 + run &&
        (run == 1   ? cut_break<1>(in, chars, at, p, out + w)
         : run == 2 ? cut_break<2>(in, chars, at, p, out + w)
                    : cut_run(in, chars, at, run, p, out + w))) {
      w += 12;
      continue;
    }
    // Otherwise the whole groups before the byte, then one group across it.
    decode_16(chars, out + w);
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

bool has_ssse3() { return x86_features().ssse3; }

}  // namespace

const codec_kernel ssse3_kernel = {"ssse3", has_ssse3, encode_ssse3, decode_ssse3};

}  // namespace tessaly

#endif
