// The decoding stream fed in reads of random sizes through stdio buffers of
// random sizes, strict and ignoring garbage, with every kernel, against the
// reference decoder; also with a read or a write that fails part way.
//
// Input: five parameter bytes, then the text.
#include <cerrno>
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

[[noreturn]] void fail(const char* what, const tessaly::codec_kernel& kernel, bool ignore_garbage) {
  std::fprintf(stderr, "decode_stream: %s (kernel %s, ignore_garbage %d)\n", what, kernel.name,
               ignore_garbage);
  std::abort();
}

// Buffering of the streams around the codec: the default, none, or a
// small odd size, so that reads and writes reach the device in every
// pattern.
void set_buffering(std::FILE* stream, std::uint8_t choice, char* buffer) {
  switch (choice % 4) {
    case 1:
      std::setvbuf(stream, nullptr, _IONBF, 0);
      break;
    case 2:
      std::setvbuf(stream, buffer, _IOFBF, 1 + choice);
      break;
    default:
      break;
  }
}

bool starts_with(std::string_view whole, std::string_view part) {
  return whole.substr(0, part.size()) == part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  fuzz_input in{bytes, size};
  const std::uint8_t max_read = in.take_byte();
  const std::uint8_t buffering = in.take_byte();
  const std::uint8_t fault = in.take_byte();
  const std::uint8_t fault_place = in.take_byte();
  const std::uint8_t repeat = in.take_byte();
  // Longer texts come in proportionally longer reads.
  const std::size_t copies = copies_for(repeat);
  const std::string all_text = repeated(in.rest(), copies);
  const std::string_view text = all_text;

  for_each_kernel([&](const tessaly::codec_kernel& kernel) {
    for (const bool ignore_garbage : {false, true}) {
      const reference::decoded want = reference::decode(text, ignore_garbage);

      chunked_input source{text};
      source.max_read = max_read * copies;
      source.seed = fault_place;
      collected_output sink;
      // A fault somewhere in the input or the expected output, never
      // beyond it: it must then show.
      const bool read_fault = fault % 3 == 1;
      const bool write_fault = fault % 3 == 2 && !want.out.empty();
      if (read_fault) source.fail_at = text.size() * fault_place / 256;
      if (write_fault) sink.capacity = want.out.size() * fault_place / 256;

      std::FILE* input = open_chunked_input(source);
      std::FILE* output = open_collected_output(sink);
      if (input == nullptr || output == nullptr) std::abort();
      char input_buffer[256];
      char output_buffer[256];
      set_buffering(input, buffering, input_buffer);
      set_buffering(output, buffering >> 2, output_buffer);

      errno = 0;
      const stream_status status = tessaly::decode_stream(input, output, ignore_garbage);
      const int stream_errno = errno;
      const bool flushed = std::fflush(output) == 0;
      std::fclose(input);
      std::fclose(output);

      // Whatever happens, what was written is the start of the right output.
      if (!starts_with(want.out, sink.bytes)) fail("output is not a prefix of the reference", kernel, ignore_garbage);
      if (status == stream_status::read_error && stream_errno != EIO)
        fail("read error without the system's error", kernel, ignore_garbage);
      if (status == stream_status::write_error && stream_errno != ENOSPC)
        fail("write error without the system's error", kernel, ignore_garbage);

      if (write_fault) {
        if (status == stream_status::ok && flushed) fail("lost output reported as success", kernel, ignore_garbage);
        continue;
      }
      if (!flushed) fail("flush failed on a good output", kernel, ignore_garbage);
      if (read_fault) {
        if (status != stream_status::read_error &&
            !(status == stream_status::invalid_input && !want.ok))
          fail("read failure not reported", kernel, ignore_garbage);
        continue;
      }
      if (status != (want.ok ? stream_status::ok : stream_status::invalid_input))
        fail("status differs from the reference", kernel, ignore_garbage);
      if (sink.bytes != want.out) fail("output differs from the reference", kernel, ignore_garbage);
    }
  });
  return 0;
}
