// The method of the SSSE3 and AVX2 kernels, after Muła and Lemire, written
// once over the register width. Encoding spreads each group's 6-bit fields
// with a byte shuffle and multiplies, and turns them into characters with
// a range lookup; decoding checks and translates characters with nibble
// lookups and packs the fields with multiply-adds, walks text in lines of
// one length, cuts a line break or a run of white space out of a window,
// and leaves the rest to the scalar steps.
//
// A kernel brings a width type V: one register of V::width byte lanes,
// the operations on it that TESSALY_X86_REGISTER below writes for every
// width, and those only its width needs: its tables, its lane numbers, a
// choice of lanes, the encoder's load, a shift down by one lane, the
// joining of the decoder's packed bytes, a test for zero, and a tally of
// the line ends a round of the line walk passes (see v128 in ssse3.cpp and
// v256 in avx2.cpp). Before including this header, the kernel defines
// TESSALY_X86_TARGET as its instruction set's target attribute, which
// marks every function here and in its width type, so that nothing runs
// before the CPU check chose the kernel.
//
// Everything here lies in an anonymous namespace: each kernel's file
// compiles its own copy for its own instruction set. Inline functions with
// external linkage would let the linker keep any one copy for all, say the
// AVX2 one for the SSSE3 kernel too, which an SSSE3 CPU cannot run.
#pragma once

#include "codec/kernels.h"

#if TESSALY_X86_KERNELS

#ifndef TESSALY_X86_TARGET
#error "define TESSALY_X86_TARGET as the kernel's target attribute before including x86_method.h"
#endif

#include <cstddef>
#include <cstdint>

#include "codec/kernels/line_layout.h"
#include "codec/kernels/shuffle_tables.h"
#include "codec/kernels/steps.h"

// A width type's register, its width in bytes, and the operations whose
// intrinsics differ between widths only in their prefix (_mm, _mm256) and
// register suffix (si128, si256), named after the instruction each is. A
// width type takes these with its own register, prefix and suffix; what
// else it needs it writes itself.
#define TESSALY_X86_REGISTER(register_type, mm, si)                                          \
  using reg = register_type;                                                                 \
  static constexpr std::size_t width = sizeof(reg);                                          \
                                                                                             \
  TESSALY_X86_TARGET static reg load(const void* p) {                                        \
    return mm##_loadu_##si(static_cast<const reg*>(p));                                      \
  }                                                                                          \
  TESSALY_X86_TARGET static void store(void* p, reg v) {                                     \
    mm##_storeu_##si(static_cast<reg*>(p), v);                                               \
  }                                                                                          \
  TESSALY_X86_TARGET static reg zero() { return mm##_setzero_##si(); }                       \
  TESSALY_X86_TARGET static reg set1(char c) { return mm##_set1_epi8(c); }                   \
  TESSALY_X86_TARGET static reg set1_32(int i) { return mm##_set1_epi32(i); }                \
  TESSALY_X86_TARGET static reg and_(reg a, reg b) { return mm##_and_##si(a, b); }           \
  TESSALY_X86_TARGET static reg or_(reg a, reg b) { return mm##_or_##si(a, b); }             \
  TESSALY_X86_TARGET static reg add8(reg a, reg b) { return mm##_add_epi8(a, b); }           \
  TESSALY_X86_TARGET static reg sub8(reg a, reg b) { return mm##_sub_epi8(a, b); }           \
  TESSALY_X86_TARGET static reg subs_u8(reg a, reg b) { return mm##_subs_epu8(a, b); }       \
  TESSALY_X86_TARGET static reg cmpeq8(reg a, reg b) { return mm##_cmpeq_epi8(a, b); }       \
  TESSALY_X86_TARGET static reg cmpgt8(reg a, reg b) { return mm##_cmpgt_epi8(a, b); }       \
  TESSALY_X86_TARGET static reg shuffle8(reg a, reg b) { return mm##_shuffle_epi8(a, b); }   \
  TESSALY_X86_TARGET static reg mulhi_u16(reg a, reg b) { return mm##_mulhi_epu16(a, b); }   \
  TESSALY_X86_TARGET static reg mullo16(reg a, reg b) { return mm##_mullo_epi16(a, b); }     \
  TESSALY_X86_TARGET static reg maddubs16(reg a, reg b) { return mm##_maddubs_epi16(a, b); } \
  TESSALY_X86_TARGET static reg madd16(reg a, reg b) { return mm##_madd_epi16(a, b); }       \
  TESSALY_X86_TARGET static reg srli32(reg a, int n) { return mm##_srli_epi32(a, n); }       \
  TESSALY_X86_TARGET static std::uint32_t movemask8(reg a) {                                 \
    return static_cast<std::uint32_t>(mm##_movemask_epi8(a));                                \
  }

namespace tessaly {
namespace {

// The input a decode step may count on from its window's start: out has
// room for three bytes for every four characters of input, so this many
// leave room for a whole store of width bytes (24 for 16, 44 for 32).
template <class V>
constexpr std::size_t store_reach = 4 * ((V::width + 2) / 3);

// A mask with a bit for each lane of V.
template <class V>
constexpr std::uint32_t all_lanes = static_cast<std::uint32_t>(~std::uint64_t{0} >>
                                                               (64 - V::width));

// The width / 4 * 3 bytes at in (V::encode_reach readable) as width
// characters.
template <class V>
TESSALY_X86_TARGET inline typename V::reg encode_step(const std::uint8_t* in) {
  using reg = typename V::reg;
  const reg spread = V::shuffle8(V::load_groups(in), V::table(shuffle_tables::encode_spread));
  // Fields one and three move down by a high multiply, two and four up by
  // a low one, each into its own byte.
  const reg ac = V::mulhi_u16(V::and_(spread, V::set1_32(0x0FC0FC00)), V::set1_32(0x04000040));
  const reg bd = V::mullo16(V::and_(spread, V::set1_32(0x003F03F0)), V::set1_32(0x01000010));
  const reg values = V::or_(ac, bd);
  reg range = V::subs_u8(values, V::set1(51));
  range = V::sub8(range, V::cmpgt8(values, V::set1(25)));
  return V::add8(values, V::shuffle8(V::table(shuffle_tables::encode_offsets), range));
}

// Lines of width characters or more. A step that meets a line end stores
// its characters twice: in place, and again one byte further on from the
// line end's lane, the lanes before it shifted down to stay as they were;
// the newline goes between. The lanes come from comparing the lane numbers
// with the room left, kept in every byte of a vector (modulo 256: exact
// whenever it is width or less).
template <class V>
TESSALY_X86_TARGET std::size_t encode_long_lines(const std::uint8_t* in, std::size_t len,
                                                 char*& out, std::size_t line_chars,
                                                 std::size_t& left) {
  using reg = typename V::reg;
  constexpr std::size_t width = V::width;
  reg room_before = V::set1(static_cast<char>(left - 1));
  const reg next_line = V::set1(static_cast<char>(line_chars - width));
  std::size_t p = 0;
  for (; len - p >= V::encode_reach; p += width / 4 * 3) {
    const reg chars = encode_step<V>(in + p);
    V::store(out, chars);
    if (left > width) {
      out += width;
      left -= width;
      room_before = V::sub8(room_before, V::set1(static_cast<char>(width)));
    } else {
      const reg past_end = V::cmpgt8(V::lane_numbers(), room_before);
      V::store(out + 1, V::select(past_end, chars, V::down_one_lane(chars)));
      out[left] = '\n';
      out += width + 1;
      left = line_chars - (width - left);
      room_before = V::add8(room_before, next_line);
    }
  }
  return p;
}

// Shorter lines, or none: a step may write past the end of the line, and
// the next one overwrites it.
template <class V>
TESSALY_X86_TARGET std::size_t encode_short_lines(const std::uint8_t* in, std::size_t len,
                                                  char*& out, std::size_t line_chars,
                                                  std::size_t& left) {
  std::size_t p = 0;
  while (len - p >= V::encode_reach) {
    V::store(out, encode_step<V>(in + p));
    lay_out_step(V::width, line_chars, p, out, left);
  }
  return p;
}

template <class V>
TESSALY_X86_TARGET std::size_t encode_bytes(const std::uint8_t* in, std::size_t len, char* out,
                                            std::size_t line_chars) {
  char* const start = out;
  std::size_t left = line_chars != 0 ? line_chars : SIZE_MAX;  // room on this line
  const std::size_t p = line_chars >= V::width
                            ? encode_long_lines<V>(in, len, out, line_chars, left)
                            : encode_short_lines<V>(in, len, out, line_chars, left);
  out += encode_rest(scalar_kernel, in + p, len - p, out, line_chars, left);
  return static_cast<std::size_t>(out - start);
}

// Each byte's high nibble.
template <class V>
TESSALY_X86_TARGET inline typename V::reg high_nibbles(typename V::reg chars) {
  return V::and_(V::srli32(chars, 4), V::set1(0x0F));
}

// Nonzero in the bytes of chars that are not alphabet characters.
template <class V>
TESSALY_X86_TARGET inline typename V::reg alphabet_clash(typename V::reg chars) {
  const typename V::reg low = V::and_(chars, V::set1(0x0F));
  return V::and_(V::shuffle8(V::table(shuffle_tables::valid_by_low), low),
                 V::shuffle8(V::table(shuffle_tables::valid_by_high), high_nibbles<V>(chars)));
}

// A mask of the bytes of chars that are not alphabet characters.
template <class V>
TESSALY_X86_TARGET inline std::uint32_t outside_alphabet(typename V::reg chars) {
  return V::movemask8(V::cmpeq8(alphabet_clash<V>(chars), V::zero())) ^ all_lanes<V>;
}

// The width / 4 * 3 bytes of width alphabet characters, stored as width
// bytes.
template <class V>
TESSALY_X86_TARGET inline void decode_window(typename V::reg chars, std::uint8_t* out) {
  using reg = typename V::reg;
  const reg slash = V::cmpeq8(chars, V::set1('/'));
  const reg values = V::add8(chars, V::shuffle8(V::table(shuffle_tables::decode_offsets),
                                                V::add8(high_nibbles<V>(chars), slash)));
  // Fields pairwise into 12 bits, then into the 24 bits of each group.
  const reg pairs = V::maddubs16(values, V::set1_32(0x01400140));
  const reg groups = V::madd16(pairs, V::set1_32(0x00011000));
  V::store(out, V::join_lanes(V::shuffle8(groups, V::table(shuffle_tables::decode_pack))));
}

// A mask of the bytes of chars that are white space.
template <class V>
TESSALY_X86_TARGET inline std::uint32_t white_space(typename V::reg chars) {
  const typename V::reg low = V::and_(chars, V::set1(0x0F));
  return V::movemask8(V::cmpeq8(V::shuffle8(V::table(shuffle_tables::white_by_low), low), chars));
}

// As cut_break, for a run of any length.
template <class V>
TESSALY_X86_TARGET inline bool cut_run(const char* in, typename V::reg chars, std::size_t at,
                                       std::size_t cut, std::size_t& p, std::uint8_t* out) {
  using reg = typename V::reg;
  const reg before_cut = V::cmpgt8(V::set1(static_cast<char>(at)), V::lane_numbers());
  const reg joined = V::select(before_cut, chars, V::load(in + p + cut));
  if (outside_alphabet<V>(joined) != 0) return false;
  decode_window<V>(joined, out);
  p += V::width + cut;
  return true;
}

// Decodes the width characters at in + p with the white space of cut
// bytes at offset at taken out, if that leaves only alphabet characters.
template <class V, std::size_t cut>
TESSALY_X86_TARGET inline bool cut_break(const char* in, typename V::reg chars, std::size_t at,
                                         std::size_t& p, std::uint8_t* out) {
  return cut_run<V>(in, chars, at, cut, p, out);
}

// The line walk over text in lines of one length: a window of width
// characters is two loads and a choice of lanes. Where each window meets
// its line end follows from the room left on the line, kept in a general
// register to steer by and, less one, in every byte of a vector for the
// choice.
template <class V>
struct lines_walk {
  const char* in;
  std::size_t left;
  typename V::reg room_before;  // left - 1, modulo 256: exact whenever left is width or less
  std::uint8_t* out;
};

// Decodes a round of windows if the text keeps to the layout there: false,
// and walk unchanged, if it does not.
template <class V, std::size_t end_bytes, std::size_t windows>
TESSALY_X86_TARGET inline bool decode_line_round(lines_walk<V>& walk, const line_layout& layout) {
  using reg = typename V::reg;
  constexpr std::size_t width = V::width;
  const reg line_feed = V::set1('\n');
  const reg next_line = V::set1(static_cast<char>(layout.length - width));
  const char* in = walk.in;
  std::size_t left = walk.left;
  reg room_before = walk.room_before;
  reg clash = V::zero();
  // White bytes among the windows' own: the line ends, since the lanes
  // taken are checked as characters. How they are counted is the width's
  // own choice.
  typename V::tally white;
  std::size_t line_ends = 0;
  for (std::size_t k = 0; k < windows; ++k) {
    const reg before = V::load(in);
    reg chars = before;
    if (left < width) {
      const reg after = V::load(in + end_bytes);
      chars = V::select(V::cmpgt8(V::lane_numbers(), room_before), after, before);
      reg ends = V::cmpeq8(before, line_feed);
      if (end_bytes == 2) ends = V::or_(ends, V::cmpeq8(before, V::set1(layout.end)));
      white.add(ends);
      line_ends += end_bytes;
      in += width + end_bytes;
      left += layout.length - width;
      room_before = V::add8(room_before, next_line);
    } else {
      in += width;
      left -= width;
      room_before = V::sub8(room_before, V::set1(static_cast<char>(width)));
    }
    clash = V::or_(clash, alphabet_clash<V>(chars));
    decode_window<V>(chars, walk.out + width / 4 * 3 * k);
  }
  if (!V::all_zero(clash) || white.total() != line_ends) return false;
  walk = {in, left, room_before, walk.out + width / 4 * 3 * windows};
  return true;
}

// Whether the input up to stop holds the next windows, each of which reads
// its width characters and a line end, and whose stores out has room for.
template <class V, std::size_t end_bytes>
inline bool has_room(const lines_walk<V>& walk, std::size_t windows, const char* stop) {
  return holds_windows(static_cast<std::size_t>(stop - walk.in), windows, V::width, end_bytes,
                       store_reach<V> + end_bytes);
}

template <class V, std::size_t end_bytes>
TESSALY_X86_TARGET decoded_run walk_lines(const char* in, std::size_t len, std::uint8_t* out,
                                          const line_layout& layout) {
  const char* const stop = in + len;
  lines_walk<V> walk{in, layout.first, V::set1(static_cast<char>(layout.first - 1)), out};
  while (has_room<V, end_bytes>(walk, round_windows, stop) &&
         decode_line_round<V, end_bytes, round_windows>(walk, layout)) {
  }
  // The rest in fewer windows a round, but no fewer rounds than needed.
  if (has_room<V, end_bytes>(walk, 4, stop)) decode_line_round<V, end_bytes, 4>(walk, layout);
  if (has_room<V, end_bytes>(walk, 2, stop)) decode_line_round<V, end_bytes, 2>(walk, layout);
  while (has_room<V, end_bytes>(walk, 1, stop) &&
         decode_line_round<V, end_bytes, 1>(walk, layout)) {
  }
  return {static_cast<std::size_t>(walk.in - in), static_cast<std::size_t>(walk.out - out)};
}

template <class V>
TESSALY_X86_TARGET decoded_run decode_lines(const char* in, std::size_t len, std::uint8_t* out) {
  line_layout layout;
  if (!find_layout(in, len, V::width, layout) || splits_line_ends(layout, V::width)) return {0, 0};
  return layout.end_bytes == 2 ? walk_lines<V, 2>(in, len, out, layout)
                               : walk_lines<V, 1>(in, len, out, layout);
}

template <class V>
TESSALY_X86_TARGET decoded_run decode_text(const char* in, std::size_t len, std::uint8_t* out) {
  using reg = typename V::reg;
  constexpr std::size_t width = V::width;
  constexpr std::size_t window_bytes = width / 4 * 3;
  const decoded_run lines = decode_lines<V>(in, len, out);
  std::size_t p = lines.consumed;
  std::size_t w = lines.written;
  while (len - p >= store_reach<V>) {
    const reg chars = V::load(in + p);
    const std::uint32_t bad = outside_alphabet<V>(chars);
    if (bad == 0) {
      decode_window<V>(chars, out + w);
      p += width;
      w += window_bytes;
      continue;
    }
    // One line break, LF or CRLF, is cut out by shifting the bytes after
    // it down; that is the common case of wrapped text. Each kind has its
    // own branch, so that the next load waits on a prediction, not on data.
    const auto at = static_cast<std::size_t>(__builtin_ctz(bad));
    if (in[p + at] == '\n' && cut_break<V, 1>(in, chars, at, p, out + w)) {
      w += window_bytes;
      continue;
    }
    if (in[p + at] == '\r' && in[p + at + 1] == '\n' &&
        cut_break<V, 2>(in, chars, at, p, out + w)) {
      w += window_bytes;
      continue;
    }
    // Any other run of white space, such as spaces before a line end. The
    // mask is widened so that a window of white space still has a bit
    // clear above it.
    const std::uint64_t white = white_space<V>(chars) >> at;
    const auto run = static_cast<std::size_t>(__builtin_ctzll(~white));
    // Short runs by their length, so that the next load waits on a
    // prediction again.
    if (run != 0 && len - p >= width + run &&
        (run == 1   ? cut_break<V, 1>(in, chars, at, p, out + w)
         : run == 2 ? cut_break<V, 2>(in, chars, at, p, out + w)
         : run == 3 ? cut_break<V, 3>(in, chars, at, p, out + w)
                    : cut_run<V>(in, chars, at, run, p, out + w))) {
      w += window_bytes;
      continue;
    }
    // Otherwise the whole groups before the byte, then one group across it.
    decode_window<V>(chars, out + w);
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

}  // namespace
}  // namespace tessaly

#endif
