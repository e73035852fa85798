// The decoding stream fed in pieces of random sizes through stdio buffers of
// random sizes, strict or ignoring garbage, with any kernel, against the
// reference decoder; also with a read or a write that fails part way.
//
// Input: seven parameter bytes (read sizes, buffering, fault, its place,
// kernel and mode, filler, its length), then the text.
#include <cerrno>
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

// Where the stream first refills its 256 KiB input buffer and, for text
// of alphabet characters, flushes its 192 KiB of output; later refills and
// flushes take the same paths.
constexpr std::size_t boundaries[] = {64 * tessaly::decode_block_size};
// Lines of whole groups: every kernel decodes them on its fast path.
const std::string filler_line = std::string(76, 'A') + '\n';

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
  const kernel_choice choice = choose_kernel(in.take_byte());
  const tessaly::codec_kernel& kernel = *choice.kernel;
  const bool ignore_garbage = choice.ignore_garbage;
  const std::uint8_t filler_choice = in.take_byte();
  const std::uint8_t filler_offset = in.take_byte();
  const std::size_t filler = filler_length(filler_choice, filler_offset, boundaries);
  static std::string all_text;
  const std::string_view text = pad(all_text, filler_line, filler, in.rest());
  const reference::decoded want = reference::decode(text, ignore_garbage);

  chunked_input source{text};
  source.max_read = read_limit(max_read, filler);
  source.seed = fault_place;
  // Kept from run to run, like the text.
  static collected_output sink;
  sink.bytes.clear();
  sink.capacity = collected_output{}.capacity;
  // A fault somewhere in the input or the expected output, never beyond
  // it: it must then show.
  const bool read_fault = fault % 3 == 1;
  const bool write_fault = fault % 3 == 2 && !want.out.empty();
  if (read_fault) source.fail_at = text.size() * fault_place / 256;
  if (write_fault) sink.capacity = want.out.size() * fault_place / 256;

  // The stream gets its input in pieces up to the same size, as from a
  // pipe behind a slow producer.
  read_in_pieces(source.max_read, fault_place);
  tessaly::use_input_reader(read_piece);
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
    return 0;
  }
  if (!flushed) fail("flush failed on a good output", kernel, ignore_garbage);
  if (read_fault) {
    if (status != stream_status::read_error &&
        !(status == stream_status::invalid_input && !want.ok))
      fail("read failure not reported", kernel, ignore_garbage);
    return 0;
  }
  if (status != (want.ok ? stream_status::ok : stream_status::invalid_input))
    fail("status differs from the reference", kernel, ignore_garbage);
  if (sink.bytes != want.out) fail("output differs from the reference", kernel, ignore_garbage);
  return 0;
}
