// The line walk of the AVX-512 kernels over text in lines of one length:
// a window of 64 characters is two loads and a blend.
#pragma once

#include "codec/kernels/avx512.h"

#if TESSALY_X86_64_KERNELS

#include "codec/alphabet.h"
#include "codec/kernels/line_layout.h"

namespace tessaly::avx512 {

alignas(64) inline constexpr auto alphabet_values = ascii_value_table(0x80, 0x80);

// Decodes a round of windows if the text keeps to the layout there: false,
// and walk unchanged, if it does not.
template <std::size_t end_bytes, std::size_t windows>
TESSALY_VBMI inline bool decode_round(line_walk& walk, const lines_plan& plan, char end) {
  const __m512i low = load(alphabet_values.data());
  const __m512i high = load(alphabet_values.data() + 64);
  const __m512i line_feed = _mm512_set1_epi8('\n');
  const window_plan* const at = plan.windows + walk.window;
  __m512i seen = _mm512_setzero_si512();
  __m512i ends = line_feed;
  for (std::size_t k = 0; k < windows; ++k) {
    const char* const in = walk.in + (at[k].offset - at[0].offset);
    const __m512i before = load(in);
    const __m512i chars = _mm512_mask_blend_epi8(at[k].from_next, before, load(in + end_bytes));
    const __m512i values = _mm512_permutex2var_epi8(low, chars, high);
    seen = _mm512_ternarylogic_epi32(seen, values, chars, 0xFE);  // a | b | c
    ends = _mm512_mask_mov_epi8(ends, at[k].line_end, before);
    store_groups(values, first_bytes(48), walk.out + 48 * k);
  }
  std::uint64_t not_white = _mm512_cmpneq_epi8_mask(ends, line_feed);
  if (end_bytes == 2) not_white &= _mm512_cmpneq_epi8_mask(ends, _mm512_set1_epi8(end));
  if (_mm512_movepi8_mask(seen) != 0 || not_white != 0) return false;
  advance(walk, plan, windows, 48 * windows);
  return true;
}

template <std::size_t end_bytes>
TESSALY_VBMI inline decoded_run walk_lines(const char* in, std::size_t len, std::uint8_t* out,
                                           const lines_plan& plan, char end) {
  const char* const stop = in + len;
  line_walk walk{in, 0, out};
  // The last window of a round reads its 64 characters and the line end.
  constexpr std::size_t reach = 64 + end_bytes;
  while (has_room(walk, plan, round_windows, reach, stop) &&
         decode_round<end_bytes, round_windows>(walk, plan, end)) {
  }
  // The rest in fewer windows a round, but no fewer rounds than needed.
  if (has_room(walk, plan, 4, reach, stop)) decode_round<end_bytes, 4>(walk, plan, end);
  if (has_room(walk, plan, 2, reach, stop)) decode_round<end_bytes, 2>(walk, plan, end);
  while (has_room(walk, plan, 1, reach, stop) && decode_round<end_bytes, 1>(walk, plan, end)) {
  }
  return {static_cast<std::size_t>(walk.in - in), static_cast<std::size_t>(walk.out - out)};
}

// Decodes the text at in for as long as it keeps to its layout, in whole
// windows of 64 characters; stops at a window boundary, so that what is
// left starts a group.
TESSALY_VBMI inline decoded_run decode_lines(const char* in, std::size_t len, std::uint8_t* out) {
  line_layout layout;
  lines_plan plan;
  if (!find_layout(in, len, 64, layout) || !plan_windows(layout, 64, plan)) return {0, 0};
  return layout.end_bytes == 2 ? walk_lines<2>(in, len, out, plan, layout.end)
                               : walk_lines<1>(in, len, out, plan, layout.end);
}

}  // namespace tessaly::avx512

#endif
