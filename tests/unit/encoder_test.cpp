#include <gtest/gtest.h>

#include <random>
#include <string>

#include "stream_fixture.h"

namespace {

using tessaly::stream_status;

using tessaly::line_end;

// The unwrapped text, laid out in lines of width characters.
std::string wrapped(const std::string& text, std::size_t width, line_end eol = line_end::lf) {
  if (width == 0) return text;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += width)
    out += text.substr(i, width) + (eol == line_end::crlf ? "\r\n" : "\n");
  return out;
}

struct encode_case {
  std::string input;
  int width;
  std::string expected;
  line_end eol = line_end::lf;
};

class EncoderVectors : public testing::TestWithParam<encode_case> {};

TEST_P(EncoderVectors, WritesTheExactText) {
  const auto& c = GetParam();
  const stream_result r = run_encode(c.input, c.width, c.eol);
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
                    encode_case{"\xff\xfe\xfd", 76, "//79\n"},
                    // CR LF: the same text, each line end two bytes.
                    encode_case{"", 76, "", line_end::crlf},
                    encode_case{"abc", 0, "YWJj", line_end::crlf},
                    encode_case{"a", 76, "YQ==\r\n", line_end::crlf},
                    encode_case{"abc", 1, "Y\r\nW\r\nJ\r\nj\r\n", line_end::crlf},
                    encode_case{"abcd", 3, "YWJ\r\njZA\r\n==\r\n", line_end::crlf},
                    encode_case{"foobar", 4, "Zm9v\r\nYmFy\r\n", line_end::crlf},
                    encode_case{"foobarx", 8, "Zm9vYmFy\r\neA==\r\n", line_end::crlf}));

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
  // A whole chunk and one byte more: at width 1 with CR LF its text is
  // three times as long.
  for (std::size_t len : {std::size_t{3071}, std::size_t{3072}, std::size_t{3073},
                          std::size_t{49153}, tessaly::encode_chunk_size + 1}) {
    std::string input(len, '\0');
    for (auto& ch : input) ch = static_cast<char>(rng());
    for (int width : {0, 1, 76, 77, 4096}) {
      for (line_end eol : {line_end::lf, line_end::crlf}) {
        SCOPED_TRACE(testing::Message() << "len " << len << " width " << width
                                        << (eol == line_end::crlf ? " CR LF" : " LF"));
        const stream_result r = run_encode(input, width, eol);
        EXPECT_EQ(r.status, stream_status::ok);
        EXPECT_TRUE(same_bytes(r.out, wrapped(reference_encode(input), width, eol)));
      }
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
