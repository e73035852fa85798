#include <cstring>

#include "codec/alphabet.h"
#include "codec/base64.h"
#include "codec/input_runs.h"
#include "codec/kernels.h"

namespace tessaly {
namespace {

constexpr std::size_t chunk_bytes = encode_chunk_size;
constexpr std::size_t chunk_chars = chunk_bytes / 3 * 4;

// Static rather than on the stack: the home platform's main thread has a
// small stack. One stream runs at a time.
// The unbroken text, for widths that split groups between lines.
alignas(64) char text[chunk_chars];
// Width 1 with CR LF triples the text: every character gets its own line
// end.
alignas(64) char lines[chunk_chars * 3];

// The layout of the text, and the room left on the current line, carried
// from one chunk to the next.
struct layout {
  std::size_t width;
  bool crlf;
  std::size_t line_left;
};

std::size_t encode_tail(const std::uint8_t* in, std::size_t len, char* out) {
  if (len == 0) return 0;
  const unsigned b0 = in[0];
  const unsigned b1 = len == 2 ? in[1] : 0;
  out[0] = encode_alphabet[b0 >> 2];
  out[1] = encode_alphabet[(b0 & 3) << 4 | b1 >> 4];
  out[2] = len == 2 ? encode_alphabet[(b1 & 15) << 2] : '=';
  out[3] = '=';
  return 4;
}

// Lays text out in lines of l.width characters.
std::size_t lay_out(const char* in, std::size_t len, layout& l, char* out) {
  char* start = out;
  while (len != 0) {
    const std::size_t take = len < l.line_left ? len : l.line_left;
    std::memcpy(out, in, take);
    out += take;
    in += take;
    len -= take;
    l.line_left -= take;
    if (l.line_left == 0) {
      if (l.crlf) *out++ = '\r';
      *out++ = '\n';
      l.line_left = l.width;
    }
  }
  return static_cast<std::size_t>(out - start);
}

// Encodes len bytes, a multiple of 3, straight into LF-ended lines of
// l.width characters, a multiple of 4, so that every line holds whole
// groups.
std::size_t encode_lines(const codec_kernel& kernel, const std::uint8_t* in,
                         std::size_t len, layout& l, char* out) {
  const std::size_t first = len < l.line_left / 4 * 3 ? len : l.line_left / 4 * 3;
  std::size_t written = kernel.encode(in, first, out, 0);
  l.line_left -= first / 3 * 4;
  if (l.line_left == 0) {
    out[written++] = '\n';
    written += kernel.encode(in + first, len - first, out + written, l.width);
    l.line_left = l.width - (len - first) / 3 * 4 % l.width;
  }
  return written;
}

// The text of n bytes of chunk, laid out in lines at out.
std::size_t encode_chunk(const codec_kernel& kernel, const std::uint8_t* chunk, std::size_t n,
                         layout& l, char* out) {
  const std::size_t whole = n / 3 * 3;
  char tail[4];
  const std::size_t tail_len = encode_tail(chunk + whole, n - whole, tail);
  if (l.width == 0) {
    const std::size_t len = kernel.encode(chunk, whole, out, 0);
    std::memcpy(out + len, tail, tail_len);
    return len + tail_len;
  }
  // The kernels end lines with LF alone; CR LF lines are laid out here,
  // one copy of each line, as lines of other widths are.
  if (l.width % 4 == 0 && !l.crlf) {
    const std::size_t len = encode_lines(kernel, chunk, whole, l, out);
    return len + lay_out(tail, tail_len, l, out + len);
  }
  const std::size_t len = kernel.encode(chunk, whole, text, 0);
  std::memcpy(text + len, tail, tail_len);
  return lay_out(text, len + tail_len, l, out);
}

// fwrite can count bytes as written when a flush has failed (glibc does,
// on unbuffered and line-buffered streams); the error flag cannot.
bool write_all(const char* data, std::size_t len, std::FILE* output) {
  return len == 0 || (std::fwrite(data, 1, len, output) == len && !std::ferror(output));
}

}  // namespace

stream_status encode_stream(std::FILE* input, std::FILE* output,
                            std::int32_t wrap_width, line_end eol) {
  const codec_kernel& kernel = active_kernel();
  const auto width = static_cast<std::size_t>(wrap_width);
  layout l{width, eol == line_end::crlf, width};
  input_runs runs(input, chunk_bytes);
  // The one or two bytes of a group still incomplete, kept for the next run.
  std::size_t held = 0;
  for (;;) {
    const std::ptrdiff_t got = next_run(runs, held);
    // Every whole group read before a failure is already written; the
    // bytes after them are unknown, so nothing is padded.
    if (got < 0) return stream_status::read_error;
    if (got == 0) break;
    const auto* chunk = reinterpret_cast<const std::uint8_t*>(runs.start);
    const std::size_t whole = runs.len / 3 * 3;
    held = runs.len - whole;
    if (whole == 0) continue;
    // Whatever the input has decided goes out before the next read, which
    // may wait on a slow producer or a slow medium.
    if (!write_all(lines, encode_chunk(kernel, chunk, whole, l, lines), output))
      return stream_status::write_error;
  }
  // The padded last group and the last line's end, in one write.
  std::size_t len =
      encode_chunk(kernel, reinterpret_cast<const std::uint8_t*>(runs.start), held, l, lines);
  if (l.line_left != width) {
    if (l.crlf) lines[len++] = '\r';
    lines[len++] = '\n';
  }
  return write_all(lines, len, output) ? stream_status::ok : stream_status::write_error;
}

}  // namespace tessaly
