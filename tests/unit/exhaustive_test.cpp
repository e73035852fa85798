// Every input of a small space, through every kernel this CPU can run,
// against the reference models.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codec/base64.h"
#include "codec/kernels.h"
#include "tests/reference/reference_codec.h"
#include "tests/support/memory_stream.h"

namespace {

using tessaly::stream_status;

// One input and one output stream, reused for every run: a fresh stream
// per input would cost more than the codec.
class reusable_streams {
 public:
  reusable_streams()
      : input_(open_chunked_input(in_state_)), output_(open_collected_output(out_state_)) {}
  ~reusable_streams() {
    std::fclose(input_);
    std::fclose(output_);
  }
  reusable_streams(const reusable_streams&) = delete;
  reusable_streams& operator=(const reusable_streams&) = delete;

  template <typename Run>
  stream_status run(std::string_view data, Run codec) {
    restart_input(input_, in_state_, data);
    out_state_.bytes.clear();
    const stream_status status = codec(input_, output_);
    collect_output(output_, out_state_);
    return status;
  }
  const std::string& out() const { return out_state_.bytes; }

 private:
  chunked_input in_state_;
  collected_output out_state_;
  std::FILE* input_;
  std::FILE* output_;
};

std::string bytes_of(std::uint32_t value, std::size_t len) {
  std::string data(len, '\0');
  for (std::size_t k = 0; k < len; ++k) data[k] = static_cast<char>(value >> (8 * k));
  return data;
}

// Under an emulator or the sanitizers a stream run costs many times as
// much, so there (TESSALY_SAMPLED) the three-byte inputs are sampled; the
// plain build still runs them all, and the kernels meet every group below.
std::uint32_t three_byte_step() { return std::getenv("TESSALY_SAMPLED") != nullptr ? 251 : 1; }

// The streams at one width, with the kernel the program uses. The kernels
// themselves get every group below.
class EveryWidth : public testing::TestWithParam<std::int32_t> {};

TEST_P(EveryWidth, EncodesAndRoundTripsEveryInputUpToThreeBytes) {
  const std::int32_t width = GetParam();
  const auto encode = [width](std::FILE* in, std::FILE* out) {
    return tessaly::encode_stream(in, out, width);
  };
  const auto decode = [](std::FILE* in, std::FILE* out) {
    return tessaly::decode_stream(in, out, false);
  };
  reusable_streams streams;
  std::string text;
  const std::uint32_t step = three_byte_step();
  for (std::size_t len = 0; len <= 3; ++len) {
    for (std::uint32_t value = 0; value < (1u << (8 * len)); value += len == 3 ? step : 1) {
      const std::string data = bytes_of(value, len);
      ASSERT_EQ(streams.run(data, encode), stream_status::ok);
      text = streams.out();
      ASSERT_EQ(text, reference::encode(data, width)) << "value " << value;
      ASSERT_EQ(streams.run(text, decode), stream_status::ok);
      ASSERT_EQ(streams.out(), data) << "value " << value;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, EveryWidth, testing::Range(0, 6));

// Characters that stand for each kind of byte the decoder tells apart.
constexpr char decode_symbols[] = {'A', 'Q', '/', '9', '=', '\n', ' ', '\t', '-', '\0'};
constexpr std::size_t symbol_count = sizeof decode_symbols;

TEST(EveryShortText, DecodesAsTheReferenceDoes) {
  reusable_streams streams;
  for (std::size_t len = 1; len <= 5; ++len) {
    std::size_t total = 1;
    for (std::size_t k = 0; k < len; ++k) total *= symbol_count;
    for (std::size_t index = 0; index < total; ++index) {
      std::string text;
      for (std::size_t rest = index, k = 0; k < len; ++k, rest /= symbol_count)
        text += decode_symbols[rest % symbol_count];
      for (const bool ignore_garbage : {false, true}) {
        const auto decode = [ignore_garbage](std::FILE* in, std::FILE* out) {
          return tessaly::decode_stream(in, out, ignore_garbage);
        };
        const stream_status status = streams.run(text, decode);
        const reference::decoded want = reference::decode(text, ignore_garbage);
        ASSERT_EQ(status, want.ok ? stream_status::ok : stream_status::invalid_input)
            << testing::PrintToString(text) << " -i " << ignore_garbage;
        ASSERT_EQ(streams.out(), want.out) << testing::PrintToString(text);
      }
    }
  }
}

class EveryKernel : public testing::TestWithParam<const tessaly::codec_kernel*> {};

// All 2^24 groups in one call, so that they pass through every lane of a
// wide kernel: value v is the bytes v >> 16, v >> 8, v.
TEST_P(EveryKernel, EncodesEveryGroup) {
  constexpr std::size_t groups = std::size_t{1} << 24;
  std::string data(groups * 3, '\0');
  for (std::size_t v = 0; v < groups; ++v) {
    data[3 * v] = static_cast<char>(v >> 16);
    data[3 * v + 1] = static_cast<char>(v >> 8);
    data[3 * v + 2] = static_cast<char>(v);
  }
  std::string text(groups * 4, '\0');
  GetParam()->encode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), text.data(), 0);
  EXPECT_TRUE(text == reference::encode(data, 0));
}

// The text of value v is the four characters of its sextets, so decoding
// every group of the alphabet in order gives every value in order.
TEST_P(EveryKernel, DecodesEveryGroupOfTheAlphabet) {
  constexpr std::string_view alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  constexpr std::size_t groups = std::size_t{1} << 24;
  std::string text(groups * 4, '\0');
  for (std::size_t v = 0; v < groups; ++v)
    for (std::size_t k = 0; k < 4; ++k) text[4 * v + k] = alphabet[v >> (18 - 6 * k) & 63];
  std::string out(groups * 3, '\x55');
  const tessaly::decoded_run done =
      GetParam()->decode(text.data(), text.size(), reinterpret_cast<std::uint8_t*>(out.data()));
  ASSERT_EQ(done.consumed, text.size());
  ASSERT_EQ(done.written, out.size());
  for (std::size_t v = 0; v < groups; ++v) {
    const std::uint32_t got = static_cast<std::uint32_t>(static_cast<unsigned char>(out[3 * v])) << 16 |
                              static_cast<std::uint32_t>(static_cast<unsigned char>(out[3 * v + 1])) << 8 |
                              static_cast<unsigned char>(out[3 * v + 2]);
    ASSERT_EQ(got, v);
  }
}

// Any byte outside the alphabet but the white space the kernels pass over,
// at any place of any group of a run long enough for the widest kernel,
// unbroken or with runs of spaces, tabs and line breaks between groups,
// stops decoding right before its group.
TEST_P(EveryKernel, StopsBeforeTheFirstGroupWithAnyOtherByte) {
  constexpr std::size_t groups = 80;
  std::string spaced;
  for (std::size_t g = 0; g < groups; ++g)
    spaced += "QQQQ" + std::string(" \t\n \t\r\n\t  ").substr(g % 7, g % 6);
  // Room for the bytes of every group the longer text could hold.
  std::string out(spaced.size() / 4 * 3, '\0');
  for (int byte = 0; byte < 256; ++byte) {
    if (std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
            .find(static_cast<char>(byte)) != std::string_view::npos ||
        byte == '\n' || byte == '\r' || byte == ' ' || byte == '\t')
      continue;
    for (const std::string& base : {std::string(groups * 4, 'Q'), spaced}) {
      for (std::size_t at = 0; at < base.size(); at += 3) {
        std::string text = base;
        text[at] = static_cast<char>(byte);
        // Up to just after the last whole group before the byte.
        std::size_t chars = 0;
        std::size_t end = 0;
        for (std::size_t i = 0; i < at; ++i)
          if (text[i] == 'Q' && ++chars % 4 == 0) end = i + 1;
        const tessaly::decoded_run done =
            GetParam()->decode(text.data(), text.size(), reinterpret_cast<std::uint8_t*>(out.data()));
        ASSERT_EQ(done.consumed, end) << "byte " << byte << " at " << at;
        ASSERT_EQ(done.written, chars / 4 * 3) << "byte " << byte << " at " << at;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, EveryKernel, testing::ValuesIn(tessaly::available_kernels()),
                         [](const auto& info) { return std::string(info.param->name); });

}  // namespace
