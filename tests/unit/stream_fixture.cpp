#include "stream_fixture.h"

#include "tests/reference/reference_codec.h"

#include <cstdio>
#include <stdexcept>

namespace {

std::FILE* file_holding(std::string_view bytes) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) throw std::runtime_error("tmpfile");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

std::string contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string all;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) != 0;)
    all.append(buffer, n);
  std::fclose(f);
  return all;
}

template <typename Run>
stream_result run_stream(std::string_view input, Run run) {
  std::FILE* in = file_holding(input);
  std::FILE* out = file_holding({});
  const tessaly::stream_status status = run(in, out);
  std::fclose(in);
  return {status, contents(out)};
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
