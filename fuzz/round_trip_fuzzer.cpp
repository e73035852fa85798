// Bytes encoded at a random width, in reads of random sizes, with any
// kernel: the text is the reference encoding, and decoding it, strict or
// ignoring garbage, gives the bytes back.
//
// Input: six parameter bytes (width, read sizes, kernel and mode, filler,
// its length), then the data.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codec/base64.h"
#include "codec/input.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/kernel_choice.h"
#include "tests/reference/reference_codec.h"
#include "tests/support/memory_stream.h"

namespace {

using tessaly::stream_status;

[[noreturn]] void fail(const char* what, const tessaly::codec_kernel& kernel, std::int32_t width) {
  std::fprintf(stderr, "round trip: %s (kernel %s, width %d)\n", what, kernel.name,
               static_cast<int>(width));
  std::abort();
}

// Runs codec from data into out, whose buffer is kept from run to run so
// that a long text costs no fresh pages.
template <typename Codec>
stream_status run(std::string_view data, std::size_t max_read, std::string& out, Codec codec) {
  chunked_input source{data};
  source.max_read = max_read;
  out.clear();
  collected_output sink{std::move(out)};
  // The stream gets its input in pieces up to the same size, as from a
  // pipe behind a slow producer.
  read_in_pieces(max_read);
  tessaly::use_input_reader(read_piece);
  std::FILE* input = open_chunked_input(source);
  std::FILE* output = open_collected_output(sink);
  if (input == nullptr || output == nullptr) std::abort();
  const stream_status status = codec(input, output);
  const bool flushed = std::fflush(output) == 0;
  std::fclose(input);
  std::fclose(output);
  if (!flushed) std::abort();
  out = std::move(sink.bytes);
  return status;
}

// Mostly short lines, where the layout is busiest; now and then one of the
// extremes.
std::int32_t width_from(std::uint8_t a, std::uint8_t b) {
  if (a == 255) return INT32_MAX - b;
  return (a & 0x80) ? (a & 0x7f) << 8 | b : a % 80;
}

// Filler lengths at the encoder's first 768 KiB chunk, and the one whose
// text at this width first fills the decoder's 256 KiB input buffer; later
// chunks and refills take the same paths.
std::array<std::size_t, 2> boundaries_for(std::int32_t width) {
  constexpr std::uint64_t chunk = tessaly::encode_chunk_size;
  constexpr std::uint64_t read = 64 * tessaly::decode_block_size;
  // Four characters for three bytes, and a newline after every width.
  const std::uint64_t w = static_cast<std::uint64_t>(width);
  const auto data_for = [w](std::uint64_t chars) {
    return static_cast<std::size_t>(w == 0 ? chars * 3 / 4 : chars * 3 * w / (4 * (w + 1)));
  };
  return {chunk, data_for(read)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  fuzz_input in{bytes, size};
  const std::uint8_t a = in.take_byte();
  const std::uint8_t b = in.take_byte();
  const std::uint8_t max_read = in.take_byte();
  const kernel_choice choice = choose_kernel(in.take_byte());
  const tessaly::codec_kernel& kernel = *choice.kernel;
  const bool ignore_garbage = choice.ignore_garbage;
  const std::uint8_t filler_choice = in.take_byte();
  const std::uint8_t filler_offset = in.take_byte();
  const std::int32_t width = width_from(a, b);
  // Zero bytes, which encode to whole groups of "A".
  const std::size_t filler = filler_length(filler_choice, filler_offset, boundaries_for(width));
  static std::string all_data;
  const std::string_view data = pad(all_data, std::string_view("\0\0\0", 3), filler, in.rest());
  const std::size_t reads = read_limit(max_read, filler);

  static std::string encoded;
  static std::string decoded;
  const stream_status encoding = run(data, reads, encoded, [width](std::FILE* i, std::FILE* o) {
    return tessaly::encode_stream(i, o, width);
  });
  if (encoding != stream_status::ok) fail("encoding failed", kernel, width);
  static std::string want;
  reference::encode_into(data, width, want);
  if (encoded != want) fail("text differs from the reference encoding", kernel, width);
  const stream_status decoding = run(encoded, reads, decoded, [ignore_garbage](std::FILE* i, std::FILE* o) {
    return tessaly::decode_stream(i, o, ignore_garbage);
  });
  if (decoding != stream_status::ok) fail("decoding failed", kernel, width);
  if (decoded != data) fail("decoding does not give the bytes back", kernel, width);
  return 0;
}
