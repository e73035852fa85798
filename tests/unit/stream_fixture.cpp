#include "stream_fixture.h"

#include "tests/reference/reference_codec.h"
#include "tests/support/memory_stream.h"

#include <cstdio>
#include <stdexcept>

namespace {

// One pair of streams serves every run: a fresh temporary file for each
// would cost more than the codec, under Wine many times more.
template <typename Run>
stream_result run_stream(std::string_view input, Run run) {
  static chunked_input source;
  static collected_output sink;
  static std::FILE* const in = open_chunked_input(source);
  static std::FILE* const out = open_collected_output(sink);
  if (in == nullptr || out == nullptr) throw std::runtime_error("no memory streams");
  restart_input(in, source, input);
  sink.bytes.clear();
  const tessaly::stream_status status = run(in, out);
  collect_output(out, sink);
  return {status, sink.bytes};
}

}  // namespace

stream_result run_encode(std::string_view input, std::int32_t width, tessaly::line_end eol) {
  return run_stream(input, [width, eol](std::FILE* in, std::FILE* out) {
    return tessaly::encode_stream(in, out, width, eol);
  });
}

stream_result run_decode(std::string_view input, bool ignore_garbage) {
  return run_stream(input, [ignore_garbage](std::FILE* in, std::FILE* out) {
    return tessaly::decode_stream(in, out, ignore_garbage);
  });
}

std::string reference_encode(std::string_view input) { return reference::encode(input, 0); }

testing::AssertionResult same_bytes(std::string_view got, std::string_view want) {
  if (got == want) return testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  auto byte_at = [at](std::string_view s) {
    return at < s.size() ? std::to_string(static_cast<unsigned char>(s[at])) : "end";
  };
  return testing::AssertionFailure()
         << "lengths " << got.size() << " and " << want.size() << ", first difference at "
         << at << ": got " << byte_at(got) << ", want " << byte_at(want);
}
