#include <array>
#include <cerrno>
#include <cstring>

#include "codec/alphabet.h"
#include "codec/base64.h"
#include "codec/block_decoder.h"
#include "codec/input_runs.h"
#include "codec/kernels.h"

namespace tessaly {
namespace {

// Input is read in large pieces, but checked and decoded in blocks of
// decode_block_size bytes (less the characters carried into them), so
// that where an error falls never depends on how the input arrives.
constexpr std::size_t read_size = 64 * decode_block_size;
// Read ahead, the bytes of several runs gather into one write while the
// next run is ready: into a file, fewer and larger writes are measurably
// faster.
constexpr std::size_t output_size = 256 * decoded_block_capacity;

alignas(64) char text[decode_block_size + 1];
alignas(64) std::uint8_t decoded[output_size];

enum byte_class : std::uint8_t { kept = 1, white = 2, garbage = 4, pad = 8 };

constexpr std::array<std::uint8_t, 256> make_class_table() {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[c] = c == '='                                           ? kept | pad
               : decode_table[c] >= 0                             ? kept
               : is_white_space(static_cast<unsigned char>(c)) ? white
                                                                : garbage;
  return table;
}

constexpr auto classes = make_class_table();

struct block_scan {
  std::size_t kept;  // characters in text, carry included
  std::size_t first_pad;  // index in text of the first "=", or kept
  bool garbage;
};

// Appends the block's kept characters to text[from...], in one pass.
block_scan compact(const char* block, std::size_t len, std::size_t from) {
  std::size_t k = from;
  std::uint8_t seen = 0;
  for (std::size_t i = 0; i < from; ++i)  // the carried characters
    seen |= classes[static_cast<unsigned char>(text[i])];
  for (std::size_t i = 0; i < len; ++i) {
    const char c = block[i];
    const std::uint8_t cls = classes[static_cast<unsigned char>(c)];
    seen |= cls;
    text[k] = c;
    k += cls & kept;
  }
  // "=" is rare: look for it only in the blocks that hold one.
  const void* first = (seen & pad) ? std::memchr(text, '=', k) : nullptr;
  return {k,
          first ? static_cast<std::size_t>(static_cast<const char*>(first) - text) : k,
          (seen & garbage) != 0};
}

// The input not yet decoded: the bytes of the current run from pos on.
// The input's runs leave room in front of them for the characters
// carried into a block, so that a clean block decodes in place.
struct reader {
  input_runs runs;
  std::size_t pos = 0;

  reader(std::FILE* input) : runs(input, read_size) {}
  char* next() const { return runs.start + pos; }
  std::size_t available() const { return runs.len - pos; }

  // Reads what has arrived after the bytes not yet used. Returns the
  // count, 0 at the end, or -1 on a read error.
  std::ptrdiff_t refill() {
    const std::ptrdiff_t got = next_run(runs, available());
    pos = 0;
    return got;
  }
};

// Decodes a block that holds only alphabet characters and white space
// straight from the input, its carried characters put in front of it.
// Any other block is left to the exact path: false, nothing committed.
bool decode_clean_block(char* block, std::size_t len, char* carry,
                        std::size_t& carry_len, std::uint8_t* out,
                        std::size_t& written) {
  char* const start = block - carry_len;
  std::memcpy(start, carry, carry_len);
  const decoded_run run = active_kernel().decode(start, len + carry_len, out);
  // What the kernel left must be white space and the next carry.
  char next[3];
  std::size_t next_len = 0;
  for (std::size_t i = run.consumed; i < len + carry_len; ++i) {
    const auto c = static_cast<unsigned char>(start[i]);
    if (classes[c] == white) continue;
    if (classes[c] != kept || next_len == 3) return false;
    next[next_len++] = static_cast<char>(c);
  }
  std::memcpy(carry, next, next_len);
  carry_len = next_len;
  written = run.written;
  return true;
}

struct writer {
  std::FILE* output;
  std::size_t len = 0;

  bool flush() {
    // The error flag as well: fwrite may count bytes whose flush failed.
    const bool ok =
        len == 0 || (std::fwrite(decoded, 1, len, output) == len && !std::ferror(output));
    len = 0;
    return ok;
  }
  // Room for one more block's bytes.
  bool make_room() {
    return output_size - len >= decoded_block_capacity || flush();
  }
};

// The state of a decoding run between blocks.
struct decoding {
  reader in;
  writer out;
  bool ignore_garbage;
  char carry[3] = {};
  std::size_t carry_len = 0;
  // The first "=" ends the data; later blocks are only checked.
  bool finished = false;
};

// Checks and decodes the next block, the carried characters and n bytes
// of input. Anything but ok ends the stream with that status.
stream_status decode_next_block(decoding& d, std::size_t n) {
  if (!d.finished) {
    if (!d.out.make_room()) return stream_status::write_error;
    std::size_t written = 0;
    if (decode_clean_block(d.in.next(), n, d.carry, d.carry_len,
                           decoded + d.out.len, written)) {
      d.in.pos += n;
      d.out.len += written;
      return stream_status::ok;
    }
  }
  std::memcpy(text, d.carry, d.carry_len);
  const block_scan scan = compact(d.in.next(), n, d.carry_len);
  d.in.pos += n;
  if (scan.garbage && !d.ignore_garbage)
    return d.out.flush() ? stream_status::invalid_input : stream_status::write_error;
  d.carry_len = scan.kept % 4;
  const std::size_t text_len = scan.kept - d.carry_len;
  std::memcpy(d.carry, text + text_len, d.carry_len);
  if (d.finished) return stream_status::ok;
  if (!d.out.make_room()) return stream_status::write_error;
  d.out.len += static_cast<std::size_t>(decode_text(decoded + d.out.len, text, text_len));
  d.finished = scan.first_pad < text_len;
  return stream_status::ok;
}

}  // namespace

stream_status decode_stream(std::FILE* input, std::FILE* output,
                            bool ignore_garbage) {
  decoding d{reader{input}, writer{output}, ignore_garbage};
  for (;;) {
    // Every block whose bytes have all arrived is decided: decode it.
    while (d.in.available() >= decode_block_size - d.carry_len) {
      const stream_status status = decode_next_block(d, decode_block_size - d.carry_len);
      if (status != stream_status::ok) return status;
    }
    // Its bytes go out before the next read, which may wait on a slow
    // producer or a slow medium; they wait only for a run already read.
    if (!next_run_ready(d.in.runs) && !d.out.flush()) return stream_status::write_error;
    // A block cut short by a failure is not the end of the input, but
    // every block before it is written.
    const std::ptrdiff_t got = d.in.refill();
    if (got < 0) {
      // What gathered behind a slot read ahead goes out before the failure.
      const int error = errno;
      if (!d.out.flush()) return stream_status::write_error;
      errno = error;
      return stream_status::read_error;
    }
    if (got == 0) break;
  }
  // The last block, short of a full one.
  if (d.in.available() != 0) {
    const stream_status status = decode_next_block(d, d.in.available());
    if (status != stream_status::ok) return status;
  }
  if (!d.finished && d.carry_len != 0) {
    if (!d.out.make_room()) return stream_status::write_error;
    d.out.len += static_cast<std::size_t>(decode_text(decoded + d.out.len, d.carry, d.carry_len));
  }
  return d.out.flush() ? stream_status::ok : stream_status::write_error;
}

}  // namespace tessaly
