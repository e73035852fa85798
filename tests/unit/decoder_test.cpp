#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "codec/base64.h"
#include "stream_fixture.h"

namespace {

using tessaly::stream_status;

std::string block(const std::string& text) {
  std::uint8_t out[tessaly::decoded_block_capacity];
  const std::int32_t n = tessaly::decode_block(out, text.c_str());
  return {reinterpret_cast<const char*>(out), static_cast<std::size_t>(n)};
}

struct decode_case {
  std::string input;
  std::string expected;
};

void PrintTo(const decode_case& c, std::ostream* os) {
  *os << c.input.size() << " bytes: \"" << c.input.substr(0, 24) << "\"...";
}

class BlockDecoder : public testing::TestWithParam<decode_case> {};

TEST_P(BlockDecoder, DecodesGroupsUpToTheFirstPad) {
  EXPECT_TRUE(same_bytes(block(GetParam().input), GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, BlockDecoder,
    testing::Values(decode_case{"QUJD", "ABC"}, decode_case{"QUI", "AB"},
                    decode_case{"QQ", "A"}, decode_case{"Q", ""}, decode_case{"", ""},
                    decode_case{"QUI=", "AB"}, decode_case{"QQ==", "A"},
                    decode_case{"QR==", "A"}, decode_case{"QQ==QUJD", "A"},
                    decode_case{"=QUJD", ""}, decode_case{"QUJDQQ=", "ABCA"},
                    decode_case{"Zm9vYmFy", "foobar"}, decode_case{"//79", "\xff\xfe\xfd"},
                    // Bytes outside the alphabet are skipped, even mid-group.
                    decode_case{"QU\nJ-D", "ABC"}, decode_case{"Q!U!I", "AB"}));

TEST(BlockDecoder, StopsAtItsCapacity) {
  EXPECT_EQ(block(std::string(4096, 'A')), std::string(3072, '\0'));
  EXPECT_EQ(block(std::string(4096, 'A') + "QUJD"), std::string(3072, '\0'));
  EXPECT_EQ(block(std::string(4096, 'A') + "QQ"), std::string(3072, '\0'));
  // Skipped bytes do not count against it.
  EXPECT_EQ(block(std::string(1, '\n').append(4096, 'A').append("QQ")), std::string(3072, '\0'));
}

class StreamDecoder : public testing::TestWithParam<decode_case> {};

TEST_P(StreamDecoder, DecodesAcrossBlocksAndWhiteSpace) {
  const stream_result r = run_decode(GetParam().input, false);
  EXPECT_EQ(r.status, stream_status::ok);
  EXPECT_TRUE(same_bytes(r.out, GetParam().expected));
}

std::string wrapped_a(std::size_t count, std::size_t width) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += 'A';
    if ((i + 1) % width == 0) text += '\n';
  }
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, StreamDecoder,
    testing::Values(
        decode_case{"", ""}, decode_case{"QUJD", "ABC"}, decode_case{"QUJD\n", "ABC"},
        decode_case{"QU JD", "ABC"}, decode_case{"QU\r\nJD", "ABC"},
        decode_case{"Q\tU J\r\nD\n", "ABC"}, decode_case{"QUJDRA", "ABCD"},
        decode_case{"QUJDRA==", "ABCD"}, decode_case{"QUJDREU", "ABCDE"},
        decode_case{"QUJDR", "ABC"}, decode_case{"QUJDQQ=", "ABCA"},
        decode_case{"QQ==QUJD", "A"},
        decode_case{wrapped_a(5000, 76), std::string(3750, '\0')},
        decode_case{std::string(4096, 'A'), std::string(3072, '\0')},
        // The second block holds two characters, decoded at the end.
        decode_case{std::string(4096, 'A') + "QQ", std::string(3072, '\0') + "A"},
        // The first "=" ends the data wherever the block boundaries fall.
        decode_case{std::string(4092, 'A') + "QQ==QUJD", std::string(3069, '\0') + "A"},
        decode_case{std::string(4094, 'A') + "QQ==QUJD", std::string(3070, '\0') + "\x04\x10"},
        decode_case{std::string(4093, 'A') + "=QUJD", std::string(3069, '\0')},
        decode_case{std::string(4096, 'A') + "=QUJD", std::string(3072, '\0')},
        // "Q==" is carried to the end, where one character gives nothing.
        decode_case{std::string(4095, 'A') + "QQ==", std::string(3071, '\0') + "\x10"},
        decode_case{"QUJD=" + std::string(9000, 'A'), "ABC"}));

TEST(StreamDecoder, GarbageStopsBeforeTheBlockThatHoldsIt) {
  // Earlier blocks stay written; nothing of the bad block is.
  for (char bad : {'#', '-', '_', '\0', '\x0b', '\x0c', '\x7f', '\x80', '\xff'}) {
    SCOPED_TRACE(static_cast<int>(bad));
    EXPECT_EQ(run_decode(std::string("QU") + bad + "JD", false).out, "");
    EXPECT_EQ(run_decode(std::string("QU") + bad + "JD", false).status,
              stream_status::invalid_input);
    const stream_result late = run_decode(std::string(4096, 'A') + "QU" + bad, false);
    EXPECT_EQ(late.status, stream_status::invalid_input);
    EXPECT_EQ(late.out, std::string(3072, '\0'));
    const stream_result ignored = run_decode(std::string("QU") + bad + "JD", true);
    EXPECT_EQ(ignored.status, stream_status::ok);
    EXPECT_EQ(ignored.out, "ABC");
  }
  // Garbage after the "=" is still garbage.
  EXPECT_EQ(run_decode("QQ==" + std::string(5000, 'A') + "#", false).status,
            stream_status::invalid_input);
  EXPECT_EQ(run_decode("QQ==" + std::string(5000, 'A') + "#", false).out, "A");
}

TEST(StreamDecoder, AZeroByteIsGarbage) {
  const std::string input = std::string("QUJD") + '\0' + "QUJD";
  EXPECT_EQ(run_decode(input, false).status, stream_status::invalid_input);
  EXPECT_EQ(run_decode(input, true).out, "ABCABC");
}

TEST(StreamDecoder, RoundTripsEncodedRandomBytes) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    std::string bytes(rng() % 20000, '\0');
    for (auto& ch : bytes) ch = static_cast<char>(rng());
    const int width = static_cast<int>(rng() % 100);
    const stream_result text = run_encode(bytes, width);
    const stream_result back = run_decode(text.out, false);
    ASSERT_EQ(back.status, stream_status::ok);
    ASSERT_TRUE(same_bytes(back.out, bytes)) << "length " << bytes.size() << " width " << width;
  }
}

}  // namespace
