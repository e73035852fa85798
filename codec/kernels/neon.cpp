// The NEON kernel for AArch64. Encoding: a three-way load splits 48 bytes
// into the first, second and third bytes of their groups, shifts cut out
// the four fields, a 64-byte table lookup gives their characters and a
// four-way store interleaves them again. Decoding runs the other way over
// 64 characters, with a 128-byte lookup that also marks every character
// outside the alphabet.
#include "codec/kernels.h"

#if TESSALY_NEON_KERNEL

#include <arm_neon.h>

#include <cstdint>

#include "codec/alphabet.h"
#include "codec/kernels/steps.h"

namespace tessaly {
namespace {

// The 48 bytes at in as 64 characters at out.
inline void encode_48(const std::uint8_t* in, char* out, const uint8x16x4_t& alphabet) {
  const uint8x16x3_t b = vld3q_u8(in);
  // The lookup gives 0 for an index above 63, so the fields are masked.
  const uint8x16_t field = vdupq_n_u8(63);
  uint8x16x4_t chars;
  chars.val[0] = vqtbl4q_u8(alphabet, vshrq_n_u8(b.val[0], 2));
  chars.val[1] =
      vqtbl4q_u8(alphabet, vandq_u8(vsriq_n_u8(vshlq_n_u8(b.val[0], 4), b.val[1], 4), field));
  chars.val[2] =
      vqtbl4q_u8(alphabet, vandq_u8(vsriq_n_u8(vshlq_n_u8(b.val[1], 2), b.val[2], 6), field));
  chars.val[3] = vqtbl4q_u8(alphabet, vandq_u8(b.val[2], field));
  vst4q_u8(reinterpret_cast<std::uint8_t*>(out), chars);
}

std::size_t encode_neon(const std::uint8_t* in, std::size_t len, char* out,
                        std::size_t line_chars) {
  const uint8x16x4_t alphabet = vld1q_u8_x4(reinterpret_cast<const std::uint8_t*>(encode_alphabet));
  char* const start = out;
  std::size_t left = line_chars != 0 ? line_chars : SIZE_MAX;  // room on this line
  std::size_t p = 0;
  // A step may write past the end of the line: the next one overwrites it.
  while (len - p >= 48) {
    encode_48(in + p, out, alphabet);
    lay_out_step(64, line_chars, p, out, left);
  }
  out += encode_rest(scalar_kernel, in + p, len - p, out, line_chars, left);
  return static_cast<std::size_t>(out - start);
}

// The value of each ASCII character, 0xFF for those outside the alphabet.
alignas(16) constexpr auto ascii_values = ascii_value_table(0xFF, 0xFF);

struct value_tables {
  uint8x16x4_t low;   // characters 0-63
  uint8x16x4_t high;  // characters 64-127
};

// The values of 16 characters. A byte above 127 finds no entry and keeps
// its own high bit in the mask below.
inline uint8x16_t values_of(uint8x16_t chars, const value_tables& t) {
  return vqtbx4q_u8(vqtbl4q_u8(t.low, chars), t.high, vsubq_u8(chars, vdupq_n_u8(64)));
}

struct window {
  uint8x16x4_t values;  // lane i of val[k]: character 4 * i + k
  std::uint64_t bad;    // bit j: character j is outside the alphabet
};

inline window look_up(const uint8x16x4_t& chars, const value_tables& t) {
  window w;
  w.values.val[0] = values_of(chars.val[0], t);
  w.values.val[1] = values_of(chars.val[1], t);
  w.values.val[2] = values_of(chars.val[2], t);
  w.values.val[3] = values_of(chars.val[3], t);
  // The four marks of each group into the top nibble of its lane, then
  // down into the low one, and the 16 nibbles side by side into 64 bits.
  uint8x16_t marks = vorrq_u8(chars.val[3], w.values.val[3]);
  marks = vsriq_n_u8(marks, vorrq_u8(chars.val[2], w.values.val[2]), 1);
  marks = vsriq_n_u8(marks, vorrq_u8(chars.val[1], w.values.val[1]), 2);
  marks = vsriq_n_u8(marks, vorrq_u8(chars.val[0], w.values.val[0]), 3);
  const uint16x8_t pairs = vreinterpretq_u16_u8(vshrq_n_u8(marks, 4));
  w.bad = vget_lane_u64(vreinterpret_u64_u8(vmovn_u16(vsraq_n_u16(pairs, pairs, 4))), 0);
  return w;
}

// The 48 bytes of 64 values, those outside the alphabet included.
inline void store_groups(const uint8x16x4_t& v, std::uint8_t* out) {
  uint8x16x3_t bytes;
  bytes.val[0] = vsraq_n_u8(vshlq_n_u8(v.val[0], 2), v.val[1], 4);
  bytes.val[1] = vsraq_n_u8(vshlq_n_u8(v.val[1], 4), v.val[2], 2);
  bytes.val[2] = vsliq_n_u8(v.val[3], v.val[2], 6);
  vst3q_u8(out, bytes);
}

// Decodes the 64 characters at in + p with the line break of cut bytes at
// offset at taken out, if that leaves only alphabet characters.
template <std::size_t cut>
inline bool cut_break(const char* in, const uint8x16x4_t& chars, std::size_t at, std::size_t& p,
                      std::uint8_t* out, const value_tables& t) {
  // Lane i of register k holds character 4 * i + k: those below at stay.
  alignas(16) constexpr std::uint8_t first[16] = {0,  4,  8,  12, 16, 20, 24, 28,
                                                  32, 36, 40, 44, 48, 52, 56, 60};
  const uint8x16_t index = vld1q_u8(first);
  const uint8x16_t limit = vdupq_n_u8(static_cast<std::uint8_t>(at));
  const uint8x16x4_t after = vld4q_u8(reinterpret_cast<const std::uint8_t*>(in + p + cut));
  uint8x16x4_t joined;
  joined.val[0] = vbslq_u8(vcltq_u8(index, limit), chars.val[0], after.val[0]);
  joined.val[1] =
      vbslq_u8(vcltq_u8(vaddq_u8(index, vdupq_n_u8(1)), limit), chars.val[1], after.val[1]);
  joined.val[2] =
      vbslq_u8(vcltq_u8(vaddq_u8(index, vdupq_n_u8(2)), limit), chars.val[2], after.val[2]);
  joined.val[3] =
      vbslq_u8(vcltq_u8(vaddq_u8(index, vdupq_n_u8(3)), limit), chars.val[3], after.val[3]);
  const window w = look_up(joined, t);
  if (w.bad != 0) return false;
  store_groups(w.values, out);
  p += 64 + cut;
  return true;
}

decoded_run decode_neon(const char* in, std::size_t len, std::uint8_t* out) {
  const value_tables t = {vld1q_u8_x4(ascii_values.data()), vld1q_u8_x4(ascii_values.data() + 64)};
  std::size_t p = 0;
  std::size_t w = 0;
  // With 66 bytes left, a window with a CRLF cut out can be read whole,
  // and out has room for a whole 48-byte store.
  while (len - p >= 66) {
    const uint8x16x4_t chars = vld4q_u8(reinterpret_cast<const std::uint8_t*>(in + p));
    const window win = look_up(chars, t);
    if (win.bad == 0) {
      store_groups(win.values, out + w);
      p += 64;
      w += 48;
      continue;
    }
    // One line break, LF or CRLF, is cut out by shifting the bytes after
    // it down; that is the common case of wrapped text.
    const auto at = static_cast<std::size_t>(__builtin_ctzll(win.bad));
    if (in[p + at] == '\n' && cut_break<1>(in, chars, at, p, out + w, t)) {
      w += 48;
      continue;
    }
    if (in[p + at] == '\r' && in[p + at + 1] == '\n' && cut_break<2>(in, chars, at, p, out + w, t)) {
      w += 48;
      continue;
    }
    // Otherwise the whole groups before the byte, then one group across it.
    store_groups(win.values, out + w);
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

bool always() { return true; }

}  // namespace

const codec_kernel neon_kernel = {"neon", always, encode_neon, decode_neon};

}  // namespace tessaly

#endif
