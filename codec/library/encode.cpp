// Encoding, in one call or in pieces: groups through the kernel, lines
// laid out around them, the last group padded or not.
#include <cstdint>
#include <cstring>

#include "codec/alphabet.h"
#include "codec/include/tessaly.h"
#include "codec/kernels.h"
#include "codec/library/url_alphabet.h"

namespace tessaly {
namespace {

constexpr std::size_t too_long = TESSALY_TOO_LONG;

std::size_t line_end_bytes(unsigned flags) { return flags & TESSALY_CRLF ? 2 : 1; }

// a + b, or too_long where that is not below SIZE_MAX.
std::size_t add(std::size_t a, std::size_t b) {
  return a >= too_long - b ? too_long : a + b;
}

std::size_t multiply(std::size_t a, std::size_t b) {
  return b != 0 && a > (too_long - 1) / b ? too_long : a * b;
}

// The URL alphabet's text is translated after every piece of this many
// bytes, a multiple of 3, is encoded.
constexpr std::size_t url_piece_bytes = 3 * 4096;

// Inputs shorter than this are encoded in one pass of the scalar kernel
// and the last group: a call of a vector kernel and the encoder's state
// would cost more than the few groups.
constexpr std::size_t small_input = 32;

// The one to four characters of a last group of held_len bytes, 1 or 2
// (none for 0), padded unless the flags say otherwise.
std::size_t encode_last_group(const std::uint8_t* held, unsigned held_len, unsigned flags,
                              char* out) {
  if (held_len == 0) return 0;
  const unsigned b0 = held[0];
  const unsigned b1 = held_len == 2 ? held[1] : 0;
  std::size_t n = 0;
  out[n++] = encode_alphabet[b0 >> 2];
  out[n++] = encode_alphabet[(b0 & 3) << 4 | b1 >> 4];
  if (held_len == 2) out[n++] = encode_alphabet[(b1 & 15) << 2];
  if (!(flags & TESSALY_OMIT_PADDING))
    while (n < 4) out[n++] = '=';
  return n;
}

// Copies text into lines of e.width_ characters, carrying the room left
// on the current line.
std::size_t lay_out(const char* in, std::size_t len, tessaly_encoder& e, char* out) {
  char* const start = out;
  while (len != 0) {
    const std::size_t take = len < e.line_left_ ? len : e.line_left_;
    std::memcpy(out, in, take);
    out += take;
    in += take;
    len -= take;
    e.line_left_ -= take;
    if (e.line_left_ == 0) {
      if (e.flags_ & TESSALY_CRLF) *out++ = '\r';
      *out++ = '\n';
      e.line_left_ = e.width_;
    }
  }
  return static_cast<std::size_t>(out - start);
}

// Encodes len bytes, a multiple of 3, straight into LF-ended lines of a
// width that is a multiple of 4, so that every line holds whole groups.
std::size_t encode_lines(const codec_kernel& kernel, const std::uint8_t* in, std::size_t len,
                         tessaly_encoder& e, char* out) {
  const std::size_t first = len < e.line_left_ / 4 * 3 ? len : e.line_left_ / 4 * 3;
  std::size_t written = kernel.encode(in, first, out, 0);
  e.line_left_ -= first / 3 * 4;
  if (e.line_left_ == 0) {
    out[written++] = '\n';
    written += kernel.encode(in + first, len - first, out + written, e.width_);
    e.line_left_ = e.width_ - (len - first) / 3 * 4 % e.width_;
  }
  return written;
}

// The standard-alphabet text of len bytes, a multiple of 3, laid out.
std::size_t encode_groups(const std::uint8_t* in, std::size_t len, tessaly_encoder& e,
                          char* out) {
  if (len == 0) return 0;
  const codec_kernel& kernel = active_kernel();
  if (e.width_ == 0) return kernel.encode(in, len, out, 0);
  // The kernels end lines with LF alone, every whole number of groups.
  if (e.width_ % 4 == 0 && !(e.flags_ & TESSALY_CRLF)) return encode_lines(kernel, in, len, e, out);
  // Other layouts copy the text into lines, a piece at a time from the
  // stack: no buffer outlives the call.
  constexpr std::size_t piece_bytes = 3 * 2048;
  char text[piece_bytes / 3 * 4];
  std::size_t written = 0;
  for (std::size_t done = 0; done < len; done += piece_bytes) {
    const std::size_t n = len - done < piece_bytes ? len - done : piece_bytes;
    written += lay_out(text, kernel.encode(in + done, n, text, 0), e, out + written);
  }
  return written;
}

}  // namespace
}  // namespace tessaly

using namespace tessaly;

extern "C" {

size_t tessaly_encoded_length(size_t len, size_t width, unsigned flags) {
  const std::size_t rest = len % 3;
  std::size_t chars = multiply(len / 3, 4);
  if (rest != 0) chars = add(chars, flags & TESSALY_OMIT_PADDING ? rest + 1 : 4);
  if (chars == too_long || width == 0 || chars == 0) return chars;
  const std::size_t lines = (chars - 1) / width + 1;
  return add(chars, multiply(lines, line_end_bytes(flags)));
}

size_t tessaly_encoder_room(size_t len, size_t width, unsigned flags) {
  // The groups of the bytes held from before and of len more, and one
  // more for the padded group that finishing writes.
  const std::size_t groups = len / 3 + (len % 3 + 2) / 3 + 1;
  const std::size_t chars = multiply(groups, 4);
  if (chars == too_long || width == 0) return chars;
  return add(chars, multiply(chars / width + 2, line_end_bytes(flags)));
}

void tessaly_encoder_init(tessaly_encoder* encoder, size_t width, unsigned flags) {
  *encoder = tessaly_encoder{};
  encoder->width_ = width;
  encoder->line_left_ = width;
  encoder->flags_ = flags;
}

size_t tessaly_encoder_update(tessaly_encoder* encoder, const void* src, size_t len, char* dst) {
  tessaly_encoder& e = *encoder;
  const auto* in = static_cast<const std::uint8_t*>(src);
  const bool url = e.flags_ & TESSALY_URL;
  std::size_t written = 0;
  if (e.held_len_ != 0) {
    // Complete the group begun in an earlier call.
    while (e.held_len_ < 3 && len != 0) {
      e.held_[e.held_len_++] = *in++;
      --len;
    }
    if (e.held_len_ < 3) return 0;
    written = encode_groups(e.held_, 3, e, dst);
    if (url) to_url_alphabet(dst, written);
    e.held_len_ = 0;
  }
  const std::size_t whole = len / 3 * 3;
  // The URL alphabet's text is translated a piece at a time, while the
  // piece is still in cache.
  const std::size_t piece = url ? url_piece_bytes : whole;
  for (std::size_t done = 0; done < whole;) {
    const std::size_t n = whole - done < piece ? whole - done : piece;
    const std::size_t chars = encode_groups(in + done, n, e, dst + written);
    if (url) to_url_alphabet(dst + written, chars);
    written += chars;
    done += n;
  }
  for (std::size_t i = whole; i < len; ++i) e.held_[e.held_len_++] = in[i];
  return written;
}

size_t tessaly_encoder_finish(tessaly_encoder* encoder, char* dst) {
  tessaly_encoder& e = *encoder;
  char tail[4];
  const std::size_t tail_len = encode_last_group(e.held_, e.held_len_, e.flags_, tail);
  std::size_t written = 0;
  if (e.width_ == 0) {
    if (tail_len != 0) std::memcpy(dst, tail, tail_len);
    written = tail_len;
  } else {
    written = lay_out(tail, tail_len, e, dst);
    if (e.line_left_ != e.width_) {
      if (e.flags_ & TESSALY_CRLF) dst[written++] = '\r';
      dst[written++] = '\n';
    }
  }
  if (e.flags_ & TESSALY_URL) to_url_alphabet(dst, written);
  tessaly_encoder_init(encoder, e.width_, e.flags_);
  return written;
}

size_t tessaly_encode(const void* src, size_t len, char* dst, size_t width, unsigned flags) {
  const std::size_t length = tessaly_encoded_length(len, width, flags);
  if (length == too_long) return length;
  if (width == 0 && len < small_input) {
    const auto* in = static_cast<const std::uint8_t*>(src);
    const std::size_t whole = len / 3 * 3;
    std::size_t written = scalar_kernel.encode(in, whole, dst, 0);
    written += encode_last_group(in + whole, static_cast<unsigned>(len - whole), flags,
                                 dst + written);
    if (flags & TESSALY_URL) to_url_alphabet(dst, written);
    return written;
  }
  tessaly_encoder encoder;
  tessaly_encoder_init(&encoder, width, flags);
  const std::size_t written = tessaly_encoder_update(&encoder, src, len, dst);
  return written + tessaly_encoder_finish(&encoder, dst + written);
}

}  // extern "C"
