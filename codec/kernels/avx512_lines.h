// The line walk of the AVX-512 kernels over text in lines of one length:
// a window of 64 characters is two loads and a blend. Where each window
// meets its line end follows from the room left on the line, worked out
// in general registers as the walk goes: masks read from a table made the
// vector steps wait on the loads, and measured half as fast. A window sets
// its line end's bytes aside in the lanes of one vector, for the round's
// check (quicker here than counting them), unless the layout's line ends
// can fall in the same lanes twice in a round, as lines of 64 do in every
// window: then each window checks its own, a little slower.
#pragma once

#include "codec/kernels/avx512.h"

#if TESSALY_X86_64_KERNELS

#include <numeric>

#include "codec/alphabet.h"
#include "codec/kernels/line_layout.h"

namespace tessaly::avx512 {

alignas(64) inline constexpr auto alphabet_values = ascii_value_table(0x80, 0x80);

// Where a walk is: the start of its next window, the characters before the
// next line end from there, and where its bytes go.
struct lines_walk {
  const char* in;
  std::size_t left;
  std::uint8_t* out;
};

// Whether a round's line ends can fall in lanes where one of the same round
// was: the lanes of successive line ends step on by the line length,
// modulo 64.
inline bool ends_share_lanes(const line_layout& layout) {
  return 64 / std::gcd(layout.length, std::size_t{64}) < round_windows;
}

// The bytes a line end of the layout puts in the lanes it covers: a line
// feed, or for a two-byte line end its first byte in the lane where it
// starts, which for lines of even length, as those sharing lanes are, has
// the parity of the first line's end.
TESSALY_VBMI inline __m512i line_end_bytes(const line_layout& layout) {
  const __m512i line_feed = _mm512_set1_epi8('\n');
  if (layout.end_bytes == 1) return line_feed;
  const std::uint64_t first_lanes = 0x5555555555555555u << (layout.first % 2);
  return _mm512_mask_mov_epi8(line_feed, first_lanes, _mm512_set1_epi8(layout.end));
}

// Decodes a round of windows if the text keeps to the layout there: false,
// and walk unchanged, if it does not.
template <std::size_t end_bytes, bool shared_lanes, std::size_t windows>
TESSALY_VBMI inline bool decode_round(lines_walk& walk, const line_layout& layout,
                                     __m512i expected) {
  const __m512i low = load(alphabet_values.data());
  const __m512i high = load(alphabet_values.data() + 64);
  const __m512i line_feed = _mm512_set1_epi8('\n');
  const char* in = walk.in;
  std::size_t left = walk.left;
  __m512i seen = _mm512_setzero_si512();
  __m512i ends = line_feed;
  __m512i stray = _mm512_setzero_si512();  // bits where a line end is not as expected
  for (std::size_t k = 0; k < windows; ++k) {
    const bool ends_here = left < 64;
    const std::uint64_t from_next = ends_here ? all_64 << left : 0;
    const std::uint64_t end_lanes = ends_here ? ((std::uint64_t{1} << end_bytes) - 1) << left : 0;
    __m512i before = load(in);
    // Kept in a register: folded into the masked move below, the load
    // becomes a masked load, which is slow.
    asm("" : "+v"(before));
    const __m512i chars = _mm512_mask_blend_epi8(from_next, before, load(in + end_bytes));
    const __m512i values = _mm512_permutex2var_epi8(low, chars, high);
    seen = _mm512_ternarylogic_epi32(seen, values, chars, 0xFE);  // a | b | c
    if constexpr (shared_lanes) {
      const __m512i own = _mm512_mask_mov_epi8(expected, end_lanes, before);
      stray = _mm512_ternarylogic_epi32(stray, own, expected, 0xF6);  // a | (b ^ c)
      // Kept here: sunk to the round's end, the check holds every window's
      // masks and bytes in registers the walk needs.
      asm("" : "+v"(stray));
    } else {
      ends = _mm512_mask_mov_epi8(ends, end_lanes, before);
    }
    store_groups(values, first_bytes(48), walk.out + 48 * k);
    in += ends_here ? 64 + end_bytes : 64;
    left = ends_here ? left + layout.length - 64 : left - 64;
  }
  std::uint64_t not_white = _mm512_test_epi8_mask(stray, stray);
  if constexpr (!shared_lanes) {
    not_white = _mm512_cmpneq_epi8_mask(ends, line_feed);
    if (end_bytes == 2) not_white &= _mm512_cmpneq_epi8_mask(ends, _mm512_set1_epi8(layout.end));
  }
  if (_mm512_movepi8_mask(seen) != 0 || not_white != 0) return false;
  walk = {in, left, walk.out + 48 * windows};
  return true;
}

// Whether the input up to stop holds the next windows, each of which reads
// its 64 characters and a line end.
template <std::size_t end_bytes>
inline bool has_room(const lines_walk& walk, std::size_t windows, const char* stop) {
  return holds_windows(static_cast<std::size_t>(stop - walk.in), windows, 64, end_bytes,
                       64 + end_bytes);
}

template <std::size_t end_bytes, bool shared_lanes>
TESSALY_VBMI inline decoded_run walk_lines(const char* in, std::size_t len, std::uint8_t* out,
                                           const line_layout& layout) {
  const char* const stop = in + len;
  const __m512i expected = line_end_bytes(layout);
  lines_walk walk{in, layout.first, out};
  while (has_room<end_bytes>(walk, round_windows, stop) &&
         decode_round<end_bytes, shared_lanes, round_windows>(walk, layout, expected)) {
  }
  // The rest in fewer windows a round, but no fewer rounds than needed.
  if (has_room<end_bytes>(walk, 4, stop))
    decode_round<end_bytes, shared_lanes, 4>(walk, layout, expected);
  if (has_room<end_bytes>(walk, 2, stop))
    decode_round<end_bytes, shared_lanes, 2>(walk, layout, expected);
  while (has_room<end_bytes>(walk, 1, stop) &&
         decode_round<end_bytes, shared_lanes, 1>(walk, layout, expected)) {
  }
  return {static_cast<std::size_t>(walk.in - in), static_cast<std::size_t>(walk.out - out)};
}

// Apart, so that the common layouts' walk is laid out in its caller as if
// alone (measured some percent quicker); the layout by value, or the walk
// reads it again after every store.
[[gnu::noinline]] TESSALY_VBMI inline decoded_run walk_lines_sharing_lanes(
    const char* in, std::size_t len, std::uint8_t* out, line_layout layout) {
  return layout.end_bytes == 2 ? walk_lines<2, true>(in, len, out, layout)
                               : walk_lines<1, true>(in, len, out, layout);
}

// Decodes the text at in for as long as it keeps to its layout, in whole
// windows of 64 characters; stops at a window boundary, so that what is
// left starts a group.
TESSALY_VBMI inline decoded_run decode_lines(const char* in, std::size_t len, std::uint8_t* out) {
  line_layout layout;
  if (!find_layout(in, len, 64, layout) || splits_line_ends(layout, 64)) return {0, 0};
  if (ends_share_lanes(layout)) return walk_lines_sharing_lanes(in, len, out, layout);
  return layout.end_bytes == 2 ? walk_lines<2, false>(in, len, out, layout)
                               : walk_lines<1, false>(in, len, out, layout);
}

}  // namespace tessaly::avx512

#endif
