// Every kernel this CPU can run against the scalar kernel and against a
// small model of the block rules, directly and through the streams.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "codec/kernels.h"
#include "stream_fixture.h"

namespace {

using tessaly::codec_kernel;
using tessaly::decoded_run;
using tessaly::stream_status;

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char guard = 0xA5;

std::string random_bytes(std::mt19937& rng, std::size_t len) {
  std::string s(len, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

std::string random_text(std::mt19937& rng, std::size_t len) {
  std::string s(len, 'A');
  for (auto& c : s) c = alphabet[rng() % 64];
  return s;
}

std::string with_breaks(const std::string& text, std::size_t width, const char* brk) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += width) out += text.substr(i, width) + brk;
  return out;
}

// Exactly what the kernel contract promises: groups of alphabet characters
// with white space passed over, up to the first other byte.
struct kernel_output {
  decoded_run run;
  std::string bytes;
};

kernel_output run_kernel_decode(const codec_kernel& kernel, const std::string& in) {
  std::vector<unsigned char> out(in.size() / 4 * 3 + 64, guard);
  const decoded_run run = kernel.decode(in.data(), in.size(), out.data());
  for (std::size_t i = in.size() / 4 * 3; i < out.size(); ++i)
    EXPECT_EQ(out[i], guard) << "written past the room, at " << i;
  return {run, std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(run.written))};
}

std::string run_kernel_encode(const codec_kernel& kernel, const std::string& in,
                              std::size_t line_chars) {
  const std::size_t chars = in.size() / 3 * 4;
  const std::size_t room = chars + (line_chars ? chars / line_chars : 0);
  std::vector<char> out(room + 64, static_cast<char>(guard));
  const std::size_t n =
      kernel.encode(reinterpret_cast<const std::uint8_t*>(in.data()), in.size(), out.data(), line_chars);
  EXPECT_EQ(n, room);
  for (std::size_t i = room; i < out.size(); ++i)
    EXPECT_EQ(static_cast<unsigned char>(out[i]), guard) << "written past the text, at " << i;
  return {out.data(), n < room ? n : room};
}

// The block rules as a plain model: blocks of 4096 bytes less the carry,
// garbage fails a whole block, the first "=" ends the data.
std::string decode_groups_until_pad(const std::string& text) {
  std::string out;
  std::uint32_t bits = 0;
  int held = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = bits << 6 | static_cast<std::uint32_t>(std::string_view(alphabet).find(c));
    held += 6;
    if (held >= 8) out += static_cast<char>(bits >> (held -= 8));
  }
  return out;
}

stream_result model_decode(const std::string& input, bool ignore_garbage) {
  std::string out;
  std::string carry;
  bool finished = false;
  for (std::size_t pos = 0; pos < input.size();) {
    const std::size_t n = std::min(4096 - carry.size(), input.size() - pos);
    std::string text = carry;
    bool garbage = false;
    for (char c : input.substr(pos, n)) {
      if (c == '=' || std::string_view(alphabet).find(c) != std::string_view::npos) text += c;
      else if (c != '\n' && c != '\r' && c != ' ' && c != '\t') garbage = true;
    }
    pos += n;
    if (garbage && !ignore_garbage) return {stream_status::invalid_input, out};
    carry = text.substr(text.size() / 4 * 4);
    text.resize(text.size() / 4 * 4);
    if (finished) continue;
    out += decode_groups_until_pad(text);
    finished = text.find('=') != std::string::npos;
  }
  if (!finished) out += decode_groups_until_pad(carry);
  return {stream_status::ok, out};
}

class Kernel : public testing::TestWithParam<const codec_kernel*> {
 protected:
  void SetUp() override { tessaly::use_kernel(*GetParam()); }
  void TearDown() override { tessaly::use_kernel(*tessaly::available_kernels().back()); }
  const codec_kernel& kernel() const { return *GetParam(); }
  const codec_kernel& scalar() const { return tessaly::scalar_kernel; }
};

TEST_P(Kernel, EncodesEveryLengthAsTheScalarKernelAndTheReference) {
  std::mt19937 rng(1);
  for (std::size_t len = 0; len <= 300; ++len) {
    const std::string in = random_bytes(rng, len);
    const std::string whole = in.substr(0, len / 3 * 3);
    const std::string want = reference_encode(whole);
    for (std::size_t line : {0u, 4u, 8u, 28u, 32u, 36u, 64u, 76u, 100u}) {
      SCOPED_TRACE(testing::Message() << "len " << len << " line " << line);
      const std::string got = run_kernel_encode(kernel(), whole, line);
      ASSERT_TRUE(same_bytes(got, run_kernel_encode(scalar(), whole, line)));
      std::string laid_out = want;
      if (line != 0) {
        laid_out.clear();
        for (std::size_t i = 0; i < want.size(); i += line) {
          laid_out += want.substr(i, line);
          if (i + line <= want.size()) laid_out += '\n';
        }
      }
      ASSERT_TRUE(same_bytes(got, laid_out));
    }
  }
}

TEST_P(Kernel, DecodesEveryLengthAsTheScalarKernel) {
  std::mt19937 rng(2);
  const std::string odd_bytes = std::string("=\0 \t#-_.:@[`{\x7f\x80\xff", 16);
  for (std::size_t len = 0; len <= 300; ++len) {
    const std::string text = random_text(rng, len);
    std::vector<std::string> inputs = {text, with_breaks(text, 76, "\n"),
                                       with_breaks(text, 64, "\r\n"), with_breaks(text, 5, "\n"),
                                       with_breaks(text, 31, "\n\n"), with_breaks(text, 76, " \n"),
                                       with_breaks(text, 60, "\t \r\n"), with_breaks(text, 3, " \t ")};
    // CR LF line ends across the last lane of a 64-byte window, the third
    // one spoiled.
    if (len > 256) {
      std::string split = text.substr(0, 127) + "\r\n" + with_breaks(text.substr(127), 64, "\r\n");
      split[127 + 2 + 64 + 2 + 64 + 1] = 'A';
      inputs.push_back(split);
    }
    // A run of white space at every offset of a 64-byte window, one per length.
    std::string spaced = text;
    spaced.insert(std::min(len, len % 64), std::string(" \t\n  \t\r\n \t").substr(0, 1 + len % 11));
    inputs.push_back(spaced);
    // One byte of any kind at a random place, and every byte value once.
    std::string spoiled = text;
    spoiled.insert(len ? rng() % len : 0, 1, odd_bytes[rng() % odd_bytes.size()]);
    inputs.push_back(spoiled);
    inputs.push_back(random_bytes(rng, len));
    if (len != 0) {
      std::string marked = text;
      marked[len - 1 - rng() % std::min<std::size_t>(len, 40)] = static_cast<char>(len % 256);
      inputs.push_back(marked);
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "len " << len << " input " << i);
      const kernel_output got = run_kernel_decode(kernel(), inputs[i]);
      const kernel_output want = run_kernel_decode(scalar(), inputs[i]);
      ASSERT_EQ(got.run.consumed, want.run.consumed);
      ASSERT_EQ(got.run.written, want.run.written);
      ASSERT_TRUE(same_bytes(got.bytes, want.bytes));
    }
  }
}

TEST(ScalarKernel, DecodesUpToTheLastWholeGroup) {
  struct decode_case {
    std::string in;
    std::size_t consumed;
    std::string bytes;
  };
  const decode_case cases[] = {
      {"", 0, ""},           {"QUJD", 4, "ABC"},       {"QUJ", 0, ""},
      {"QU\nJD\n", 5, "ABC"}, {"\r\nQUJD", 6, "ABC"},   {"QUJD=QUJD", 4, "ABC"},
      {"QUJDQ UJD", 9, "ABCABC"}, {"QUJDQQ==", 4, "ABC"}, {std::string("QU\0JD", 5), 0, ""},
      {"\t QU\tJ D \r\n", 8, "ABC"}, {"  \n\t", 0, ""}, {"QUJD \t#QUJD", 4, "ABC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    const kernel_output got = run_kernel_decode(tessaly::scalar_kernel, c.in);
    EXPECT_EQ(got.run.consumed, c.consumed);
    EXPECT_EQ(got.bytes, c.bytes);
  }
}

// The kernel the streams pick on this CPU, where the caller names the one
// it should be: scripts/check-dispatch runs this under emulated CPUs.
TEST(Dispatch, PicksTheKernelTheCallerExpects) {
  const char* expected = std::getenv("TESSALY_EXPECT_KERNEL");
  if (expected == nullptr) GTEST_SKIP() << "TESSALY_EXPECT_KERNEL names the kernel to expect";
  EXPECT_STREQ(tessaly::available_kernels().back()->name, expected);
}

// Wrapped text of about three blocks with one byte put in or taken out at
// offsets near the block boundaries and at random ones, strict and
// ignoring garbage.
TEST_P(Kernel, DecodesStreamsAsTheBlockRulesSay) {
  std::mt19937 rng(3);
  const std::string bytes = random_bytes(rng, 9000);
  const std::string wrapped = run_encode(bytes, 76).out;
  // Lines that repeat every window or two, and lines whose end is two bytes.
  const std::string crlf = with_breaks(reference_encode(bytes), 64, "\r\n");
  const std::string mime = with_breaks(reference_encode(bytes), 76, "\r\n");
  const std::string pem = with_breaks(reference_encode(bytes), 64, "\n");
  const std::string eighty = with_breaks(reference_encode(bytes), 80, "\n");
  const std::string short_lines = with_breaks(reference_encode(bytes), 32, "\n");
  const std::string spaced = with_breaks(reference_encode(bytes), 100, " \n");
  std::vector<std::size_t> offsets;
  for (std::size_t edge : {0u, 4093u, 8189u, 12280u})
    for (std::size_t d = 0; d < 8; ++d) offsets.push_back(edge + d);
  for (int i = 0; i < 24; ++i) offsets.push_back(rng() % wrapped.size());
  for (const std::string* base : {&wrapped, &crlf, &mime, &pem, &eighty, &short_lines, &spaced}) {
    for (std::size_t at : offsets) {
      // A byte put in, or (last) a line end's byte taken out or made a
      // character: either leaves every character in the alphabet but the
      // lines out of step.
      for (int odd :
           {int{'#'}, int{'='}, int{' '}, int{'\t'}, int{'\n'}, int{'\r'}, 0, 0xc3, -1, -2}) {
        std::string input = *base;
        const std::size_t line_end = input.find_first_of("\r\n", at);
        if (odd >= 0)
          input.insert(std::min(at, input.size()), 1, static_cast<char>(odd));
        else if (line_end != std::string::npos && odd == -1)
          input.erase(line_end, 1);
        else if (line_end != std::string::npos)
          input[line_end] = 'Q';
        for (bool ignore : {false, true}) {
          SCOPED_TRACE(testing::Message() << "at " << at << " byte " << int(odd) << " ignore "
                                          << ignore);
          const stream_result got = run_decode(input, ignore);
          const stream_result want = model_decode(input, ignore);
          ASSERT_EQ(got.status, want.status);
          ASSERT_TRUE(same_bytes(got.out, want.out));
        }
      }
    }
  }
}

TEST_P(Kernel, RoundTripsLargeInputsAcrossChunks) {
  std::mt19937 rng(4);
  constexpr std::size_t chunk = tessaly::encode_chunk_size;
  for (std::size_t len : {chunk - 1, chunk, chunk + 1}) {
    const std::string bytes = random_bytes(rng, len);
    for (int width : {0, 76, 77, 4, 64}) {
      SCOPED_TRACE(testing::Message() << "len " << len << " width " << width);
      const stream_result text = run_encode(bytes, width);
      std::string want = reference_encode(bytes);
      if (width != 0) want = with_breaks(want, static_cast<std::size_t>(width), "\n");
      ASSERT_TRUE(same_bytes(text.out, want));
      const stream_result back = run_decode(text.out, false);
      ASSERT_EQ(back.status, stream_status::ok);
      ASSERT_TRUE(same_bytes(back.out, bytes));
    }
  }
}

std::string kernel_name(const testing::TestParamInfo<const codec_kernel*>& info) {
  return info.param->name;
}

INSTANTIATE_TEST_SUITE_P(Available, Kernel, testing::ValuesIn(tessaly::available_kernels()),
                         kernel_name);

}  // namespace
