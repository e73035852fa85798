#include "codec/base64.h"
#include "codec/include/tessaly.h"
#include "codec/input_runs.h"

namespace tessaly {
namespace {

constexpr std::size_t chunk_bytes = encode_chunk_size;

// Static rather than on the stack: the home platform's main thread has a
// small stack. One stream runs at a time. Width 1 with CR LF triples the
// text: every character gets its own line end.
alignas(64) char lines[TESSALY_ENCODER_ROOM_MAX(chunk_bytes)];

// fwrite can count bytes as written when a flush has failed (glibc does,
// on unbuffered and line-buffered streams); the error flag cannot.
bool write_all(const char* data, std::size_t len, std::FILE* output) {
  return len == 0 || (std::fwrite(data, 1, len, output) == len && !std::ferror(output));
}

}  // namespace

stream_status encode_stream(std::FILE* input, std::FILE* output,
                            std::int32_t wrap_width, line_end eol) {
  tessaly_encoder encoder;
  tessaly_encoder_init(&encoder, static_cast<std::size_t>(wrap_width),
                       eol == line_end::crlf ? TESSALY_CRLF : 0);
  input_runs runs(input, chunk_bytes);
  for (;;) {
    const std::ptrdiff_t got = next_run(runs, 0);
    // Every whole group read before a failure is already written; the
    // bytes after them are unknown, so nothing is padded.
    if (got < 0) return stream_status::read_error;
    if (got == 0) break;
    // Whatever the input has decided goes out before the next read, which
    // may wait on a slow producer or a slow medium; the one or two bytes
    // of a group still incomplete wait in the encoder.
    if (!write_all(lines, tessaly_encoder_update(&encoder, runs.start, runs.len, lines), output))
      return stream_status::write_error;
  }
  // The padded last group and the last line's end, in one write.
  return write_all(lines, tessaly_encoder_finish(&encoder, lines), output)
             ? stream_status::ok
             : stream_status::write_error;
}

}  // namespace tessaly
