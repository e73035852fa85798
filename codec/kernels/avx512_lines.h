// Decoding text laid out as encoders write it: lines of one length, each
// ended by the same one or two bytes of white space. The layout, read off
// the first two line ends, fixes where each 64-character window meets a
// line end; that repeats every few windows, so a plan of one period says
// where each window starts and which lanes it takes from past the line
// end. A window is then two loads and a blend, with no branch and nothing
// to work out. Whether the text keeps to the layout is checked once a
// round: every character taken must be in the alphabet, and the bytes
// passed over must be line-end bytes, which is so when they are as many as
// the line-end bytes among the windows' own.
#pragma once

#include "codec/kernels/avx512.h"

#if TESSALY_X86_64_KERNELS

#include <numeric>

#include "codec/alphabet.h"

namespace tessaly::avx512 {

struct line_layout {
  std::size_t first;      // characters before the first line end
  std::size_t length;     // characters of every line after it
  std::size_t end_bytes;  // 1 or 2
  char end;               // the line end's first byte; the last is a line feed
};

// Lines shorter than a window would put two line ends in one; longer ones
// are rare, and unbroken text should not pay for a long search.
constexpr std::size_t longest_line = 256;

// The offset of the first line feed in in[from, to), or to.
TESSALY_VBMI inline std::size_t find_line_feed(const char* in, std::size_t from, std::size_t to) {
  for (std::size_t p = from; p < to; p += 64) {
    const std::uint64_t n = first_bytes(to - p);
    const __m512i chars = _mm512_maskz_loadu_epi8(n, in + p);
    const std::uint64_t feeds = _mm512_mask_cmpeq_epi8_mask(n, chars, _mm512_set1_epi8('\n'));
    if (feeds != 0) return p + static_cast<std::size_t>(__builtin_ctzll(feeds));
  }
  return to;
}

// The layout of the text at in, if its first two line ends agree.
TESSALY_VBMI inline bool find_layout(const char* in, std::size_t len, line_layout& layout) {
  // A first line of any length up to the longest, and its line end.
  const std::size_t reach = longest_line + 2;
  const std::size_t first_feed = find_line_feed(in, 0, len < reach ? len : reach);
  if (first_feed == len || first_feed == reach) return false;
  const std::size_t limit = len - first_feed < reach + 1 ? len : first_feed + reach + 1;
  const std::size_t second_feed = find_line_feed(in, first_feed + 1, limit);
  if (second_feed == limit) return false;
  const char end = in[second_feed - 1];
  const std::size_t end_bytes = is_white_space(static_cast<unsigned char>(end)) ? 2 : 1;
  if (end_bytes == 2 && (first_feed == 0 || in[first_feed - 1] != end)) return false;
  const std::size_t length = second_feed - first_feed - end_bytes;
  if (length < 64 || length > longest_line) return false;
  layout = {first_feed + 1 - end_bytes, length, end_bytes, end_bytes == 2 ? end : '\n'};
  return true;
}

// Windows per round: the check waits for the round, not for each window.
constexpr std::size_t round_windows = 8;
// The longest period planned: lines of 76 characters repeat every 19
// windows, of 64 every one; lengths with a longer period are rare.
constexpr std::size_t longest_period = 64;
// Windows before the first line end that the period does not cover: a
// first line longer than the others.
constexpr std::size_t longest_prologue = 16;

struct window_plan {
  std::uint64_t from_next;  // the lanes taken from past the line end
  std::size_t offset;       // where the window starts, from the walk's base
};

// The windows up to the period, one period, and a round more, so that a
// round never has to wrap around.
struct lines_plan {
  window_plan windows[longest_prologue + longest_period + round_windows + 1];
  std::size_t prologue;      // windows
  std::size_t period;        // windows
  std::size_t period_bytes;  // input bytes
};

// Plans the windows from the text's start; false if the layout's period is
// too long, or a two-byte line end would fall across a window's last lane
// (its second byte then lies outside the window, where the check does not
// count it).
inline bool plan_windows(const line_layout& layout, lines_plan& plan) {
  std::size_t left = layout.first;  // characters before the next line end
  // Once past a line end, what is left of a line is shorter than a line,
  // and the windows repeat.
  plan.prologue = left < layout.length ? 0 : (left - layout.length) / 64 + 1;
  plan.period = layout.length / std::gcd(layout.length, std::size_t{64});
  if (plan.prologue > longest_prologue || plan.period > longest_period) return false;
  std::size_t offset = 0;
  const std::size_t planned = plan.prologue + plan.period + round_windows + 1;
  for (std::size_t k = 0; k < planned; ++k) {
    const bool ends = left < 64;
    if (ends && left + layout.end_bytes > 64) return false;
    plan.windows[k] = {ends ? all_64 << left : 0, offset};
    offset += ends ? 64 + layout.end_bytes : 64;
    left = ends ? left + layout.length - 64 : left - 64;
  }
  plan.period_bytes =
      plan.windows[plan.prologue + plan.period].offset - plan.windows[plan.prologue].offset;
  return true;
}

alignas(64) inline constexpr auto alphabet_values = ascii_value_table(0x80, 0x80);

// The sum of the bytes of v.
TESSALY_VBMI inline std::size_t byte_sum(__m512i v) {
  const __m512i sums = _mm512_sad_epu8(v, _mm512_setzero_si512());
  alignas(64) std::uint64_t lanes[8];
  _mm512_store_si512(lanes, sums);
  return static_cast<std::size_t>(lanes[0] + lanes[1] + lanes[2] + lanes[3] + lanes[4] + lanes[5] +
                                  lanes[6] + lanes[7]);
}

// Where the walk is: the start of the period, the window in it, and the
// bytes so far.
struct line_walk {
  const char* base;
  std::size_t window;
  std::uint8_t* out;
};

// Decodes a round of windows if the text keeps to the layout there: false,
// and walk unchanged, if it does not.
template <std::size_t end_bytes, std::size_t windows>
TESSALY_VBMI inline bool decode_round(line_walk& walk, const lines_plan& plan, char end) {
  const __m512i low = load(alphabet_values.data());
  const __m512i high = load(alphabet_values.data() + 64);
  const __m512i line_feed = _mm512_set1_epi8('\n');
  const __m512i end_byte = _mm512_set1_epi8(end);
  const window_plan* const at = plan.windows + walk.window;
  __m512i seen = _mm512_setzero_si512();
  // Line-end bytes among the windows' own: counted in the lanes of a
  // vector for a whole round, one by one for a few windows.
  __m512i ends_seen = _mm512_setzero_si512();
  std::size_t ends_counted = 0;
  for (std::size_t k = 0; k < windows; ++k) {
    const char* const in = walk.base + at[k].offset;
    const __m512i before = load(in);
    const __m512i chars = _mm512_mask_blend_epi8(at[k].from_next, before, load(in + end_bytes));
    const __m512i values = _mm512_permutex2var_epi8(low, chars, high);
    seen = _mm512_ternarylogic_epi32(seen, values, chars, 0xFE);  // a | b | c
    std::uint64_t ends = _mm512_cmpeq_epi8_mask(before, line_feed);
    if (end_bytes == 2) ends |= _mm512_cmpeq_epi8_mask(before, end_byte);
    if (windows == round_windows)
      ends_seen = _mm512_mask_sub_epi8(ends_seen, ends, ends_seen, _mm512_set1_epi8(-1));
    else
      ends_counted += static_cast<std::size_t>(__builtin_popcountll(ends));
    store_groups(values, first_bytes(48), walk.out + 48 * k);
  }
  if (windows == round_windows) ends_counted = byte_sum(ends_seen);
  const std::size_t passed_over = at[windows].offset - at[0].offset - 64 * windows;
  if (_mm512_movepi8_mask(seen) != 0 || ends_counted != passed_over) return false;
  walk.out += 48 * windows;
  walk.window += windows;
  if (walk.window >= plan.prologue + plan.period) {
    walk.window -= plan.period;
    walk.base += plan.period_bytes;
  }
  return true;
}

template <std::size_t end_bytes>
TESSALY_VBMI inline decoded_run walk_lines(const char* in, std::size_t len, std::uint8_t* out,
                                           const lines_plan& plan, char end) {
  const char* const stop = in + len;
  line_walk walk{in, 0, out};
  // Whether the round's last window can read all its bytes.
  const auto room_for = [&](std::size_t windows) {
    const std::size_t last = plan.windows[walk.window + windows - 1].offset;
    return static_cast<std::size_t>(stop - walk.base) >= last + 64 + end_bytes;
  };
  while (room_for(round_windows) && decode_round<end_bytes, round_windows>(walk, plan, end)) {
  }
  // The rest in fewer windows a round, but no fewer rounds than needed.
  if (room_for(4)) decode_round<end_bytes, 4>(walk, plan, end);
  if (room_for(2)) decode_round<end_bytes, 2>(walk, plan, end);
  while (room_for(1) && decode_round<end_bytes, 1>(walk, plan, end)) {
  }
  return {static_cast<std::size_t>(walk.base + plan.windows[walk.window].offset - in),
          static_cast<std::size_t>(walk.out - out)};
}

// Decodes the text at in for as long as it keeps to its layout, in whole
// windows of 64 characters; stops at a window boundary, so that what is
// left starts a group.
TESSALY_VBMI inline decoded_run decode_lines(const char* in, std::size_t len, std::uint8_t* out) {
  line_layout layout;
  lines_plan plan;
  if (!find_layout(in, len, layout) || !plan_windows(layout, plan)) return {0, 0};
  return layout.end_bytes == 2 ? walk_lines<2>(in, len, out, plan, layout.end)
                               : walk_lines<1>(in, len, out, plan, layout.end);
}

}  // namespace tessaly::avx512

#endif
