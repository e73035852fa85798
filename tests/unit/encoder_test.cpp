#include <gtest/gtest.h>

#include <random>
#include <string>

#include "stream_fixture.h"

namespace {

using tessaly::stream_status;

// The unwrapped text, laid out in lines of width characters.
std::string wrapped(const std::string& text, std::size_t width) {
  if (width == 0) return text;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += width)
    out += text.substr(i, width) + "\n";
  return out;
}

struct encode_case {
  std::string input;
  int width;
  std::string expected;
};

class EncoderVectors : public testing::TestWithParam<encode_case> {};

TEST_P(EncoderVectors, WritesTheExactText) {
  const auto& c = GetParam();
  const stream_result r = run_encode(c.input, c.width);
  EXPECT_EQ(r.status, stream_status::ok);
  EXPECT_EQ(r.out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, EncoderVectors,
    testing::Values(encode_case{"", 76, ""}, encode_case{"", 0, ""},
                    encode_case{"a", 76, "YQ==\n"}, encode_case{"ab", 76, "YWI=\n"},
                    encode_case{"abc", 76, "YWJj\n"}, encode_case{"abc", 0, "YWJj"},
                    encode_case{"abc", 1, "Y\nW\nJ\nj\n"},
                    encode_case{"abcd", 3, "YWJ\njZA\n==\n"},
                    encode_case{"foobar", 4, "Zm9v\nYmFy\n"},
                    encode_case{"\xff\xfe\xfd", 76, "//79\n"}));

TEST(Encoder, FillsLinesExactlyWithoutAnEmptyLine) {
  const std::string input(57, '\0');
  EXPECT_EQ(run_encode(input, 76).out, std::string(76, 'A') + "\n");
  EXPECT_EQ(run_encode(std::string(58, '\0'), 76).out,
            std::string(76, 'A') + "\nAA==\n");
}

TEST(Encoder, CarriesTheLineAcrossChunks) {
  // Lengths around the read chunk and the old 3072-byte boundary; lines
  // must run on across every chunk.
  std::mt19937 rng(7);
  for (std::size_t len : {3071u, 3072u, 3073u, 49151u, 49152u, 49153u, 98305u}) {
    std::string input(len, '\0');
    for (auto& ch : input) ch = static_cast<char>(rng());
    for (int width : {0, 1, 76, 77, 4096}) {
      SCOPED_TRACE(testing::Message() << "len " << len << " width " << width);
      const stream_result r = run_encode(input, width);
      EXPECT_EQ(r.status, stream_status::ok);
      EXPECT_TRUE(same_bytes(r.out, wrapped(reference_encode(input), width)));
    }
  }
  const std::string zeros(3073, '\0');
  const std::string text = run_encode(zeros, 76).out;
  EXPECT_TRUE(same_bytes(text, wrapped(std::string(4096, 'A') + "AA==", 76)));
  EXPECT_EQ(text.size(), 4100u + 54u);
}

TEST(Encoder, HugeWidthsGiveOneLine) {
  EXPECT_EQ(run_encode("abcdef", 2147483647).out, "YWJjZGVm\n");
  EXPECT_EQ(run_encode(std::string(100000, 'a'), 2147483647).out,
            reference_encode(std::string(100000, 'a')) + "\n");
}

TEST(Encoder, ReportsAFailedWrite) {
  std::FILE* in = std::tmpfile();
  std::fputs("abc", in);
  std::rewind(in);
  std::FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  std::setvbuf(full, nullptr, _IONBF, 0);
  EXPECT_EQ(tessaly::encode_stream(in, full, 76), stream_status::write_error);
  std::fclose(full);
  std::fclose(in);
}

}  // namespace
