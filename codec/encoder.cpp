#include <cstring>

#include "codec/alphabet.h"
#include "codec/base64.h"
#include "codec/kernels.h"

namespace tessaly {
namespace {

// A multiple of 3, so that padding can only occur at the end of the input.
constexpr std::size_t chunk_bytes = 3072 * 16;
constexpr std::size_t chunk_chars = chunk_bytes / 3 * 4;

// Static rather than on the stack: the home platform's main thread has a
// small stack. The program is single-threaded.
alignas(64) std::uint8_t chunk[chunk_bytes];
alignas(64) char text[chunk_chars];
// Width 1 doubles the text: every character gets its own newline.
alignas(64) char lines[chunk_chars * 2];

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

// Lays text out in lines of width characters; line_left carries the room
// left on the current line from one chunk to the next.
std::size_t lay_out(const char* in, std::size_t len, std::int32_t width,
                    std::int32_t& line_left, char* out) {
  char* start = out;
  while (len != 0) {
    const std::size_t take =
        len < static_cast<std::size_t>(line_left) ? len : line_left;
    std::memcpy(out, in, take);
    out += take;
    in += take;
    len -= take;
    line_left -= static_cast<std::int32_t>(take);
    if (line_left == 0) {
      *out++ = '\n';
      line_left = width;
    }
  }
  return static_cast<std::size_t>(out - start);
}

// fwrite can count bytes as written when a flush has failed (glibc does,
// on unbuffered and line-buffered streams); the error flag cannot.
bool write_all(const char* data, std::size_t len, std::FILE* output) {
  return len == 0 || (std::fwrite(data, 1, len, output) == len && !std::ferror(output));
}

}  // namespace

stream_status encode_stream(std::FILE* input, std::FILE* output,
                            std::int32_t wrap_width) {
  const codec_kernel& kernel = active_kernel();
  std::int32_t line_left = wrap_width;
  for (;;) {
    const std::size_t n = std::fread(chunk, 1, chunk_bytes, input);
    if (n < chunk_bytes && std::ferror(input)) return stream_status::read_error;
    if (n == 0) break;

    const std::size_t whole = n / 3 * 3;
    kernel.encode(chunk, whole, text);
    const std::size_t text_len =
        whole / 3 * 4 + encode_tail(chunk + whole, n - whole, text + whole / 3 * 4);

    const bool written =
        wrap_width == 0
            ? write_all(text, text_len, output)
            : write_all(lines, lay_out(text, text_len, wrap_width, line_left, lines),
                        output);
    if (!written) return stream_status::write_error;
    if (n < chunk_bytes) break;
  }
  if (line_left != wrap_width && !write_all("\n", 1, output))
    return stream_status::write_error;
  return stream_status::ok;
}

}  // namespace tessaly
