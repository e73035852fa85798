// The reference models against hand-worked vectors, so that the tests and
// fuzzers built on them rest on something checked.
#include <gtest/gtest.h>

#include <string>

#include "tests/reference/reference_codec.h"

namespace {

struct encode_vector {
  std::string data;
  std::int32_t width;
  std::string text;
};

TEST(ReferenceEncode, MatchesHandWorkedVectors) {
  const encode_vector vectors[] = {
      {"", 0, ""},          {"", 4, ""},           {"f", 0, "Zg=="},
      {"fo", 0, "Zm8="},    {"foo", 0, "Zm9v"},    {"foobar", 0, "Zm9vYmFy"},
      {"foob", 3, "Zm9\nvYg\n==\n"},               {"foo", 4, "Zm9v\n"},
      {"\xff\xfe\xfd", 1, "/\n/\n7\n9\n"},         {"fooba", 76, "Zm9vYmE=\n"},
  };
  for (const auto& v : vectors) EXPECT_EQ(reference::encode(v.data, v.width), v.text) << v.data;
}

struct decode_vector {
  std::string text;
  bool ignore_garbage;
  std::string out;
  bool ok;
};

TEST(ReferenceDecode, MatchesHandWorkedVectors) {
  const std::string zeros(3069, '\0');
  const decode_vector vectors[] = {
      {"Zm9vYmFy", false, "foobar", true},
      {"Zm9\nv YmE\t=\r\n", false, "fooba", true},
      {"QUI", false, "AB", true},
      {"QQ", false, "A", true},
      {"Q", false, "", true},
      {"QQ==QUJD", false, "A", true},
      {"QUJDQQ=", false, "ABCA", true},
      {"QU-JD", false, "", false},
      {"QU-JD", true, "ABC", true},
      {std::string("QUJD\0QUJD", 9), false, "", false},
      {std::string("QUJD\0QUJD", 9), true, "ABCABC", true},
      // The first "=" of the input ends the data, across blocks too.
      {std::string(4092, 'A') + "QQ==QUJD", false, zeros + "A", true},
      {std::string(4093, 'A') + "QQ==QUJD", false, std::string(3069, '\0') + "\x01\x04", true},
      // A block with garbage keeps the earlier blocks' output.
      {std::string(4096, 'A') + "QUJD!", false, std::string(3072, '\0'), false},
      {std::string(4096, 'A') + "=QU!", false, std::string(3072, '\0'), false},
      // Characters carried over a block boundary join the next block.
      {std::string(4094, 'A') + "\n\nQUJD", false, zeros + std::string("\0\x04\x14\x24", 4),
       true},
  };
  for (const auto& v : vectors) {
    const reference::decoded got = reference::decode(v.text, v.ignore_garbage);
    EXPECT_EQ(got.ok, v.ok) << v.text.substr(0, 16);
    EXPECT_EQ(got.out, v.out) << v.text.substr(0, 16);
  }
}

}  // namespace
