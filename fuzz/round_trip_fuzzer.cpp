// Bytes encoded at a random width, in reads of random sizes, with every
// kernel: the text is the reference encoding, and decoding it, strict or
// ignoring garbage, gives the bytes back.
//
// Input: four parameter bytes (width, read sizes, repetition), then the
// data.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codec/base64.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/kernel_loop.h"
#include "tests/reference/reference_codec.h"
#include "tests/support/memory_stream.h"

namespace {

using tessaly::stream_status;

[[noreturn]] void fail(const char* what, const tessaly::codec_kernel& kernel, std::int32_t width) {
  std::fprintf(stderr, "round trip: %s (kernel %s, width %d)\n", what, kernel.name,
               static_cast<int>(width));
  std::abort();
}

struct stream_run {
  stream_status status;
  std::string out;
};

template <typename Codec>
stream_run run(std::string_view data, std::size_t max_read, Codec codec) {
  chunked_input source{data};
  source.max_read = max_read;
  collected_output sink;
  std::FILE* input = open_chunked_input(source);
  std::FILE* output = open_collected_output(sink);
  if (input == nullptr || output == nullptr) std::abort();
  const stream_status status = codec(input, output);
  const bool flushed = std::fflush(output) == 0;
  std::fclose(input);
  std::fclose(output);
  if (!flushed) std::abort();
  return {status, std::move(sink.bytes)};
}

// Mostly short lines, where the layout is busiest; now and then one of the
// extremes.
std::int32_t width_from(std::uint8_t a, std::uint8_t b) {
  if (a == 255) return INT32_MAX - b;
  return (a & 0x80) ? (a & 0x7f) << 8 | b : a % 80;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  fuzz_input in{bytes, size};
  const std::uint8_t a = in.take_byte();
  const std::uint8_t b = in.take_byte();
  const std::uint8_t max_read = in.take_byte();
  const std::uint8_t repeat = in.take_byte();
  const std::int32_t width = width_from(a, b);
  const std::size_t copies = copies_for(repeat);
  const std::string all_data = repeated(in.rest(), copies);
  const std::string_view data = all_data;
  const std::string want = reference::encode(data, width);

  for_each_kernel([&](const tessaly::codec_kernel& kernel) {
    const stream_run encoded = run(data, max_read * copies, [width](std::FILE* i, std::FILE* o) {
      return tessaly::encode_stream(i, o, width);
    });
    if (encoded.status != stream_status::ok) fail("encoding failed", kernel, width);
    if (encoded.out != want) fail("text differs from the reference encoding", kernel, width);
    for (const bool ignore_garbage : {false, true}) {
      const stream_run decoded = run(encoded.out, max_read * copies, [ignore_garbage](std::FILE* i, std::FILE* o) {
        return tessaly::decode_stream(i, o, ignore_garbage);
      });
      if (decoded.status != stream_status::ok) fail("decoding failed", kernel, width);
      if (decoded.out != data) fail("decoding does not give the bytes back", kernel, width);
    }
  });
  return 0;
}
