// The line walk of the AVX-512 kernel over text in lines of one length:
// a window of 64 characters is two loads and a blend. Where each window
// meets its line end follows from the room left on the line, worked out
// in general registers as the walk goes: masks read from a table made the
// vector steps wait on the loads, and measured half as fast. A window sets
// its line end's bytes aside in the lanes of one vector, for the round's
// check (quicker here than counting them), unless the layout's line ends
// can fall in the same lanes twice in a round, as lines of 64 do in every
// window: then each window checks its own, a little slower. Lines of 76
// and 64, the commonest, go in rounds laid out when the kernel is built,
// with no room to count.
#pragma once

#include "codec/kernels/avx512.h"

#if TESSALY_X86_64_KERNELS

#include <numeric>
#include <utility>

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
constexpr bool ends_share_lanes(std::size_t length) {
  return 64 / std::gcd(length, std::size_t{64}) < round_windows;
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

// What a round has to check once its windows are decoded.
struct round_checks {
  __m512i seen;   // high bit: a byte outside the alphabet was taken
  __m512i ends;   // line-end bytes, in the lanes they were in
  __m512i stray;  // bits where a line end was not as expected
};

TESSALY_VBMI inline round_checks nothing_to_check() {
  return {_mm512_setzero_si512(), _mm512_set1_epi8('\n'), _mm512_setzero_si512()};
}

// Decodes the window of 64 characters at `at` into out: those of the lanes
// in from_next come end_bytes further on, past the line end in end_lanes.
template <std::size_t end_bytes, bool shared_lanes, bool meets_end>
TESSALY_VBMI inline void decode_window(const char* at, std::uint64_t from_next,
                                       std::uint64_t end_lanes, __m512i expected,
                                       round_checks& checks, std::uint8_t* out) {
  __m512i before = load(at);
  // Kept in a register: folded into the masked move below, the load
  // becomes a masked load, which is slow.
  asm("" : "+v"(before));
  __m512i chars = before;
  if constexpr (meets_end) {
    chars = _mm512_mask_blend_epi8(from_next, before, load(at + end_bytes));
    if constexpr (shared_lanes) {
      const __m512i own = _mm512_mask_mov_epi8(expected, end_lanes, before);
      checks.stray = _mm512_ternarylogic_epi32(checks.stray, own, expected, 0xF6);  // a | (b ^ c)
      // Kept here: sunk to the round's end, the check holds every window's
      // masks and bytes in registers the walk needs.
      asm("" : "+v"(checks.stray));
    } else {
      checks.ends = _mm512_mask_mov_epi8(checks.ends, end_lanes, before);
    }
  }
  const __m512i values = _mm512_permutex2var_epi8(load(alphabet_values.data()), chars,
                                                  load(alphabet_values.data() + 64));
  checks.seen = _mm512_ternarylogic_epi32(checks.seen, values, chars, 0xFE);  // a | b | c
  store_groups(values, first_bytes(48), out);
}

// Whether the round's characters were all in the alphabet and its line
// ends all white space.
template <std::size_t end_bytes, bool shared_lanes>
TESSALY_VBMI inline bool round_holds(const round_checks& checks, const line_layout& layout) {
  std::uint64_t not_white = _mm512_test_epi8_mask(checks.stray, checks.stray);
  if constexpr (!shared_lanes) {
    not_white = _mm512_cmpneq_epi8_mask(checks.ends, _mm512_set1_epi8('\n'));
    if (end_bytes == 2)
      not_white &= _mm512_cmpneq_epi8_mask(checks.ends, _mm512_set1_epi8(layout.end));
  }
  return _mm512_movepi8_mask(checks.seen) == 0 && not_white == 0;
}

// Decodes a round of windows if the text keeps to the layout there: false,
// and walk unchanged, if it does not.
template <std::size_t end_bytes, bool shared_lanes, std::size_t windows>
TESSALY_VBMI inline bool decode_round(lines_walk& walk, const line_layout& layout,
                                     __m512i expected) {
  const char* in = walk.in;
  std::size_t left = walk.left;
  round_checks checks = nothing_to_check();
  for (std::size_t k = 0; k < windows; ++k) {
    const bool ends_here = left < 64;
    const std::uint64_t from_next = ends_here ? all_64 << left : 0;
    const std::uint64_t end_lanes = ends_here ? first_bytes(end_bytes) << left : 0;
    decode_window<end_bytes, shared_lanes, true>(in, from_next, end_lanes, expected, checks,
                                                 walk.out + 48 * k);
    in += ends_here ? 64 + end_bytes : 64;
    left = ends_here ? left + layout.length - 64 : left - 64;
  }
  if (!round_holds<end_bytes, shared_lanes>(checks, layout)) return false;
  walk = {in, left, walk.out + 48 * windows};
  return true;
}

// Lines of a length known when the kernel is built. Once the room left on
// the line is below gcd(length, 64), its phase, it comes back every
// length / gcd windows, and with it where each window meets its line end
// and where the next starts: constants, shifted by the phase. A round of
// whole periods then needs no room counted and no branch.
template <std::size_t length>
struct known_lines {
  static constexpr std::size_t phases = std::gcd(length, std::size_t{64});
  static constexpr std::size_t period = length / phases;
  static constexpr std::size_t windows = period * ((round_windows + period - 1) / period);
  static constexpr bool shared_lanes = windows > period;  // more line ends than lanes for them

  // The room left at window k of a round, less the phase.
  static constexpr std::size_t room(std::size_t k) {
    std::size_t left = 0;
    for (std::size_t i = 0; i < k; ++i) left = left < 64 ? left + length - 64 : left - 64;
    return left;
  }
  // Where window k starts, from the round's start.
  static constexpr std::size_t offset(std::size_t k, std::size_t end_bytes) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < k; ++i) at += room(i) < 64 ? 64 + end_bytes : 64;
    return at;
  }
  static_assert(room(windows) == 0);
};

template <std::size_t length, std::size_t end_bytes, std::size_t k>
TESSALY_VBMI inline void decode_known_window(const lines_walk& walk, std::size_t phase,
                                             __m512i expected, round_checks& checks) {
  using lines = known_lines<length>;
  constexpr std::size_t room = lines::room(k);
  const char* const at = walk.in + lines::offset(k, end_bytes);
  // Below 64 less the phase just when below 64: rooms and 64 are multiples
  // of the phases.
  if constexpr (room < 64)
    decode_window<end_bytes, lines::shared_lanes, true>(
        at, all_64 << (room + phase), first_bytes(end_bytes) << (room + phase), expected, checks,
        walk.out + 48 * k);
  else
    decode_window<end_bytes, lines::shared_lanes, false>(at, 0, 0, expected, checks,
                                                         walk.out + 48 * k);
}

template <std::size_t length, std::size_t end_bytes, std::size_t... k>
TESSALY_VBMI inline bool decode_known_round(lines_walk& walk, const line_layout& layout,
                                           __m512i expected, std::index_sequence<k...>) {
  using lines = known_lines<length>;
  round_checks checks = nothing_to_check();
  // Opaque, so that each window's masks are worked out where they are
  // needed: hoisted out of the loop, they are too many for the mask
  // registers, and masks loaded from the stack are slow.
  std::size_t phase = walk.left;
  asm("" : "+r"(phase));
  (decode_known_window<length, end_bytes, k>(walk, phase, expected, checks), ...);
  if (!round_holds<end_bytes, lines::shared_lanes>(checks, layout)) return false;
  walk.in += lines::offset(lines::windows, end_bytes);
  walk.out += 48 * lines::windows;
  return true;
}

// Whether the input up to stop holds the next windows, each of which reads
// its 64 characters and a line end.
template <std::size_t end_bytes>
inline bool has_room(const lines_walk& walk, std::size_t windows, const char* stop) {
  return holds_windows(static_cast<std::size_t>(stop - walk.in), windows, 64, end_bytes,
                       64 + end_bytes);
}

template <std::size_t length, std::size_t end_bytes>
TESSALY_VBMI inline void walk_known_lines(lines_walk& walk, const char* stop,
                                          const line_layout& layout, __m512i expected) {
  using lines = known_lines<length>;
  // Window by window to a phase.
  while (walk.left >= lines::phases && has_room<end_bytes>(walk, 1, stop) &&
         decode_round<end_bytes, lines::shared_lanes, 1>(walk, layout, expected)) {
  }
  if (walk.left >= lines::phases) return;
  while (has_room<end_bytes>(walk, lines::windows, stop) &&
         decode_known_round<length, end_bytes>(walk, layout, expected,
                                               std::make_index_sequence<lines::windows>{})) {
  }
}

// The layout by value: through a reference the walk reads it again after
// every store.
template <std::size_t end_bytes, bool shared_lanes>
TESSALY_VBMI inline decoded_run walk_lines(const char* in, std::size_t len, std::uint8_t* out,
                                           line_layout layout) {
  const char* const stop = in + len;
  const __m512i expected = line_end_bytes(layout);
  lines_walk walk{in, layout.first, out};
  // The commonest layouts first, as laid out when the kernel was built.
  if constexpr (shared_lanes) {
    if (layout.length == 64) walk_known_lines<64, end_bytes>(walk, stop, layout, expected);
  } else {
    if (layout.length == 76) walk_known_lines<76, end_bytes>(walk, stop, layout, expected);
  }
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

// Decodes the text at in for as long as it keeps to its layout, in whole
// windows of 64 characters; stops at a window boundary, so that what is
// left starts a group.
TESSALY_VBMI inline decoded_run decode_lines(const char* in, std::size_t len, std::uint8_t* out) {
  line_layout layout;
  if (!find_layout(in, len, 64, layout) || splits_line_ends(layout, 64)) return {0, 0};
  if (ends_share_lanes(layout.length))
    return layout.end_bytes == 2 ? walk_lines<2, true>(in, len, out, layout)
                                 : walk_lines<1, true>(in, len, out, layout);
  return layout.end_bytes == 2 ? walk_lines<2, false>(in, len, out, layout)
                               : walk_lines<1, false>(in, len, out, layout);
}

}  // namespace tessaly::avx512

#endif
