// The C interface, with every kernel this CPU can run: fixed cases of the
// decoding rules and the line layouts, then random inputs against the
// model, in one call and in pieces, then on several threads at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "codec/include/tessaly.h"
#include "codec/kernels.h"
#include "tests/reference/library_model.h"

namespace {

using namespace std::string_view_literals;

constexpr std::size_t plenty = SIZE_MAX;
constexpr unsigned URL = TESSALY_URL, OMIT = TESSALY_OMIT_PADDING, CRLF = TESSALY_CRLF,
                   STRICT = TESSALY_STRICT, STOP = TESSALY_STOP_BEFORE_PARTIAL,
                   IGNORE = TESSALY_IGNORE_GARBAGE;
constexpr char guard = '\xA5';

struct decode_case {
  std::string_view text;
  unsigned flags;
  std::size_t room;
  tessaly_status status;
  std::size_t read;
  std::string_view out;
};

// RFC 4648 section 10 and the web rules' cases: white space, the three
// last-chunk modes, padding, characters outside the alphabet, room
// running out, and the bytes written before an error.
const decode_case decode_cases[] = {
    {""sv, 0, plenty, TESSALY_OK, 0, ""sv},
    {"Zg=="sv, 0, plenty, TESSALY_OK, 4, "f"sv},
    {"Zm8="sv, 0, plenty, TESSALY_OK, 4, "fo"sv},
    {"Zm9vYmFy"sv, 0, plenty, TESSALY_OK, 8, "foobar"sv},
    {" Zm9v\tYm\nFy\f\r "sv, STRICT, plenty, TESSALY_OK, 14, "foobar"sv},
    {"Zm9vYg = = \n"sv, STRICT, plenty, TESSALY_OK, 12, "foob"sv},
    {"-_-_"sv, URL, plenty, TESSALY_OK, 4, "\xfb\xff\xbf"sv},
    {"+/+/"sv, 0, plenty, TESSALY_OK, 4, "\xfb\xff\xbf"sv},
    {"-_-_"sv, 0, plenty, TESSALY_INVALID_CHARACTER, 0, ""sv},
    {"Zm9v+/+/"sv, URL, plenty, TESSALY_INVALID_CHARACTER, 4, "foo"sv},
    // The last chunk: loose, strict, stop-before-partial.
    {"Zm9vYg"sv, 0, plenty, TESSALY_OK, 6, "foob"sv},
    {"Zm9vYmE"sv, 0, plenty, TESSALY_OK, 7, "fooba"sv},
    {"Zm9vYg"sv, STRICT, plenty, TESSALY_BAD_LAST_CHUNK, 4, "foo"sv},
    {"Zm9vYg"sv, STOP, plenty, TESSALY_OK, 4, "foo"sv},
    {"Zm9vYmE "sv, STOP | STRICT, plenty, TESSALY_OK, 4, "foo"sv},
    {"Zm9vYg="sv, STOP, plenty, TESSALY_OK, 4, "foo"sv},
    {"Zm9vYg="sv, 0, plenty, TESSALY_BAD_PADDING, 4, "foo"sv},
    {"Zm9vY"sv, 0, plenty, TESSALY_BAD_LAST_CHUNK, 4, "foo"sv},
    {"Zm9v Y"sv, STOP, plenty, TESSALY_OK, 4, "foo"sv},
    {"Zm9vYh=="sv, 0, plenty, TESSALY_OK, 8, "foob"sv},
    {"Zm9vYh=="sv, STRICT, plenty, TESSALY_BAD_LAST_CHUNK, 5, "foo"sv},
    {"Zm9vYmF="sv, STRICT, plenty, TESSALY_BAD_LAST_CHUNK, 6, "foo"sv},
    {"Zm9vYmF="sv, STOP, plenty, TESSALY_OK, 8, "fooba"sv},
    // Padding: after two or three characters only, whole, and last.
    {"Zm9v="sv, 0, plenty, TESSALY_BAD_PADDING, 4, "foo"sv},
    {"Zm9vY="sv, STOP, plenty, TESSALY_BAD_PADDING, 5, "foo"sv},
    {"Zm9vYmE=="sv, 0, plenty, TESSALY_BAD_PADDING, 8, "foo"sv},
    {"Zm9vYg=x"sv, 0, plenty, TESSALY_BAD_PADDING, 7, "foo"sv},
    {"Zm9vYg==Zm9v"sv, 0, plenty, TESSALY_BAD_PADDING, 8, "foo"sv},
    {"Zm9vYg==#"sv, IGNORE, plenty, TESSALY_OK, 9, "foob"sv},
    // Characters outside the alphabet.
    {"Zm9v#mFy"sv, 0, plenty, TESSALY_INVALID_CHARACTER, 4, "foo"sv},
    {"Zm9vYm\0y"sv, 0, plenty, TESSALY_INVALID_CHARACTER, 6, "foo"sv},
    {"Zm9vYm\xc3"sv, 0, plenty, TESSALY_INVALID_CHARACTER, 6, "foo"sv},
    {"Zm\v9v"sv, 0, plenty, TESSALY_INVALID_CHARACTER, 2, ""sv},
    {"Zm9v#Ym\x80\0Fy"sv, IGNORE, plenty, TESSALY_OK, 11, "foobar"sv},
    {"Zm9v+/"sv, URL | IGNORE, plenty, TESSALY_OK, 6, "foo"sv},
    // Room: a chunk is decoded only if all its bytes fit.
    {"Zm9vYmFy"sv, 0, 0, TESSALY_OUTPUT_FULL, 0, ""sv},
    {" \n"sv, 0, 0, TESSALY_OK, 0, ""sv},
    {"Zm9vYmFy"sv, 0, 5, TESSALY_OUTPUT_FULL, 4, "foo"sv},
    {"Zm9vYmFy"sv, 0, 6, TESSALY_OK, 8, "foobar"sv},
    {"Zm9v \n"sv, 0, 3, TESSALY_OK, 4, "foo"sv},
    {"Zm9v#"sv, 0, 3, TESSALY_OUTPUT_FULL, 4, "foo"sv},
    {"Zm9v#"sv, IGNORE, 3, TESSALY_OK, 4, "foo"sv},
    {"Zm9vYg=="sv, 0, 3, TESSALY_OUTPUT_FULL, 4, "foo"sv},
    {"Zm9vYg=="sv, 0, 4, TESSALY_OK, 8, "foob"sv},
    {"Zm9vYmE="sv, 0, 4, TESSALY_OUTPUT_FULL, 4, "foo"sv},
    {"Zm9vYmE"sv, 0, 4, TESSALY_OUTPUT_FULL, 4, "foo"sv},
    {"Zm9vY#"sv, 0, 3, TESSALY_OUTPUT_FULL, 4, "foo"sv},
    {"Zm9vYm#"sv, 0, 4, TESSALY_INVALID_CHARACTER, 6, "foo"sv},
};

// Each case runs alone and behind 3000 bytes of valid text, unbroken or
// in lines, so that the kernels' runs meet it at every offset they reach.
std::string prefix_bytes() {
  std::string bytes(3000, '\0');
  std::mt19937 rng(3000);
  for (auto& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

class Library : public testing::TestWithParam<const tessaly::codec_kernel*> {
 protected:
  void SetUp() override { tessaly::use_kernel(*GetParam()); }
};

struct decode_call {
  tessaly_result result;
  std::string out;
};

decode_call decode(std::string_view text, std::size_t room, unsigned flags) {
  const std::size_t given = room == plenty ? tessaly_decoded_length_max(text.size()) : room;
  std::vector<char> out(given + 16, guard);
  const tessaly_result r = tessaly_decode(text.data(), text.size(), out.data(), given, flags);
  // Past the bytes decoded the kernels may use the room as scratch; past
  // the room, nothing is touched.
  for (std::size_t i = given; i < out.size(); ++i)
    EXPECT_EQ(out[i], guard) << "written past the room, at " << i;
  return {r, std::string(out.data(), r.written <= given ? r.written : given)};
}

TEST_P(Library, DecodesTheRulesCases) {
  const std::string bytes = prefix_bytes();
  for (const decode_case& c : decode_cases) {
    for (int variant = 0; variant < 3; ++variant) {
      std::string prefix, prefix_out;
      if (variant != 0) {
        prefix_out = bytes;
        prefix = library_model::encode(bytes, variant == 1 ? 0 : 76, c.flags & URL);
        // The case begins just after the prefix's last chunk.
        if (!prefix.empty() && prefix.back() == '\n') prefix.pop_back();
      }
      const std::string text = prefix + std::string(c.text);
      const std::size_t room = c.room == plenty ? plenty : c.room + prefix_out.size();
      const decode_call got = decode(text, room, c.flags);
      SCOPED_TRACE(testing::Message() << "case \"" << c.text << "\" flags " << c.flags
                                      << " room " << c.room << " variant " << variant);
      EXPECT_EQ(got.result.status, c.status);
      EXPECT_EQ(got.result.read, c.read + prefix.size());
      EXPECT_EQ(got.out, prefix_out + std::string(c.out));
      EXPECT_EQ(got.result.written, got.out.size());
    }
  }
}

struct encode_case {
  std::string_view data;
  std::size_t width;
  unsigned flags;
  std::string_view text;
};

const encode_case encode_cases[] = {
    {""sv, 76, 0, ""sv},
    {"f"sv, 0, 0, "Zg=="sv},
    {"fo"sv, 0, 0, "Zm8="sv},
    {"foo"sv, 0, 0, "Zm9v"sv},
    {"foob"sv, 0, 0, "Zm9vYg=="sv},
    {"fooba"sv, 0, 0, "Zm9vYmE="sv},
    {"foobar"sv, 0, 0, "Zm9vYmFy"sv},
    {"fooba"sv, 0, OMIT, "Zm9vYmE"sv},
    {"\xfb\xff\xbf\xfb"sv, 0, URL | OMIT, "-_-_-w"sv},
    {"\xfb\xff\xbf\xfb"sv, 0, 0, "+/+/+w=="sv},
    {"foobar"sv, 8, 0, "Zm9vYmFy\n"sv},
    {"foobar"sv, 4, 0, "Zm9v\nYmFy\n"sv},
    {"foobar"sv, 3, CRLF, "Zm9\r\nvYm\r\nFy\r\n"sv},
    {"foob"sv, 5, 0, "Zm9vY\ng==\n"sv},
    {"f"sv, 1, OMIT, "Z\ng\n"sv},
    {"f"sv, 0, CRLF, "Zg=="sv},
};

TEST_P(Library, EncodesTheLayoutCases) {
  for (const encode_case& c : encode_cases) {
    SCOPED_TRACE(testing::Message() << "\"" << c.data << "\" width " << c.width << " flags "
                                    << c.flags);
    ASSERT_EQ(tessaly_encoded_length(c.data.size(), c.width, c.flags), c.text.size());
    std::string text(c.text.size() + 16, guard);
    EXPECT_EQ(tessaly_encode(c.data.data(), c.data.size(), text.data(), c.width, c.flags),
              c.text.size());
    EXPECT_EQ(text, std::string(c.text) + std::string(16, guard));
  }
}

// Encodes data with the streaming encoder in pieces of random sizes,
// checking each call against the room it promised.
std::string encode_in_pieces(std::string_view data, std::size_t width, unsigned flags,
                             std::mt19937& rng) {
  tessaly_encoder encoder;
  tessaly_encoder_init(&encoder, width, flags);
  std::string text;
  std::size_t at = 0;
  for (;;) {
    const bool last = at == data.size();
    std::size_t n = last ? 0 : 1 + rng() % (rng() % 2 ? 7 : data.size() - at);
    if (n > data.size() - at) n = data.size() - at;
    const std::size_t room = tessaly_encoder_room(n, width, flags);
    std::vector<char> out(room + 16, guard);
    const std::size_t got = last ? tessaly_encoder_finish(&encoder, out.data())
                                 : tessaly_encoder_update(&encoder, data.data() + at, n, out.data());
    EXPECT_LE(got, room);
    EXPECT_LE(room, TESSALY_ENCODER_ROOM_MAX(n));
    for (std::size_t i = room; i < out.size(); ++i) EXPECT_EQ(out[i], guard);
    text.append(out.data(), got);
    if (last) return text;
    at += n;
  }
}

TEST_P(Library, EncodesAsTheModelInOneCallAndInPieces) {
  std::mt19937 rng(76);
  for (std::size_t width : {0, 1, 2, 3, 4, 5, 7, 8, 64, 76, 77, 1000}) {
    for (unsigned flags = 0; flags < 8; ++flags) {
      const std::size_t len = rng() % (width == 1 ? 300 : 5000);
      std::string data(len, '\0');
      for (auto& c : data) c = static_cast<char>(rng());
      const std::string want = library_model::encode(data, width, flags);
      SCOPED_TRACE(testing::Message() << "width " << width << " flags " << flags << " length "
                                      << len);
      ASSERT_EQ(tessaly_encoded_length(len, width, flags), want.size());
      std::string text(want.size(), guard);
      EXPECT_EQ(tessaly_encode(data.data(), len, text.data(), width, flags), want.size());
      EXPECT_EQ(text, want);
      EXPECT_EQ(encode_in_pieces(data, width, flags, rng), want);
    }
  }
}

// Valid text, then mangled in ways the rules tell apart.
std::string random_text(std::mt19937& rng, unsigned flags) {
  std::string data(rng() % 400, '\0');
  for (auto& c : data) c = static_cast<char>(rng());
  const std::size_t widths[] = {0, 4, 76, 5};
  std::string text = library_model::encode(data, widths[rng() % 4], flags & (URL | OMIT | CRLF));
  constexpr std::string_view odd = "=\f \r\n#-_+/A\0\x80\t"sv;
  for (unsigned k = rng() % 4; k-- > 0;) {
    const std::size_t at = text.empty() ? 0 : rng() % (text.size() + 1);
    if (rng() % 3 == 0 && at < text.size()) {
      text.erase(at, 1 + rng() % 3);
    } else {
      text.insert(at, 1, odd[rng() % odd.size()]);
    }
  }
  return text;
}

TEST_P(Library, DecodesAsTheModel) {
  std::mt19937 rng(4648);
  for (int round = 0; round < 3000; ++round) {
    const unsigned flags = static_cast<unsigned>(rng() % 64);
    const std::string text = random_text(rng, flags);
    const std::size_t most = tessaly_decoded_length_max(text.size());
    const std::size_t room = rng() % 4 == 0 ? plenty : rng() % (most + 4);
    const library_model::decoded want =
        library_model::decode(text, room == plenty ? most : room, flags);
    const decode_call got = decode(text, room, flags);
    SCOPED_TRACE(testing::Message() << "text \"" << text << "\" flags " << flags << " room "
                                    << room);
    ASSERT_EQ(got.result.status, want.status);
    ASSERT_EQ(got.result.read, want.read);
    ASSERT_EQ(got.out, want.out);
  }
}

// A stream decoded in pieces, each call taking what the last one left
// unread with the next piece, gives the bytes of one call.
TEST_P(Library, DecodesAStreamInPieces) {
  std::mt19937 rng(20);
  for (int round = 0; round < 200; ++round) {
    std::string data(rng() % 3000, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    const unsigned flags = rng() % 2 ? URL : 0;
    const std::string text = library_model::encode(data, rng() % 2 ? 76 : 0, flags);
    std::string out, pending;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t n = 1 + rng() % (text.size() - at);
      pending.append(text, at, n);
      at += n;
      const decode_call got = decode(pending, plenty, flags | STOP);
      ASSERT_EQ(got.result.status, TESSALY_OK);
      out += got.out;
      pending.erase(0, got.result.read);
    }
    const decode_call last = decode(pending, plenty, flags);
    ASSERT_EQ(last.result.status, TESSALY_OK);
    EXPECT_EQ(out + last.out, data);
  }
}

std::string kernel_name(const testing::TestParamInfo<const tessaly::codec_kernel*>& info) {
  return info.param->name;
}

INSTANTIATE_TEST_SUITE_P(Available, Library, testing::ValuesIn(tessaly::available_kernels()),
                         kernel_name);

// Lengths past what memory holds are answered, never wrapped round.
TEST(LibraryLengths, AnswerEveryLength) {
  EXPECT_EQ(tessaly_encoded_length(SIZE_MAX, 0, 0), TESSALY_TOO_LONG);
  EXPECT_EQ(tessaly_encoded_length(SIZE_MAX / 4 * 3, 0, 0), SIZE_MAX / 4 * 4);
  EXPECT_EQ(tessaly_encoded_length(SIZE_MAX / 4 * 3, 1, 0), TESSALY_TOO_LONG);
  EXPECT_EQ(tessaly_encoded_length(SIZE_MAX / 4 * 3, 76, CRLF), TESSALY_TOO_LONG);
  EXPECT_EQ(tessaly_encoder_room(SIZE_MAX, 0, 0), TESSALY_TOO_LONG);
  EXPECT_EQ(tessaly_encoder_room(0, 1, CRLF), 16u);
  EXPECT_EQ(tessaly_decoded_length_max(SIZE_MAX), SIZE_MAX / 4 * 3 + 2);
  EXPECT_EQ(tessaly_decoded_length_max(5), 4u);
  EXPECT_EQ(tessaly_encode(nullptr, SIZE_MAX, nullptr, 0, 0), TESSALY_TOO_LONG);
  EXPECT_EQ(tessaly_encode(nullptr, 0, nullptr, 76, 0), 0u);
  const tessaly_result r = tessaly_decode(nullptr, 0, nullptr, 0, 0);
  EXPECT_EQ(r.status, TESSALY_OK);
  EXPECT_EQ(r.read + r.written, 0u);
  EXPECT_STREQ(tessaly_status_text(TESSALY_BAD_PADDING), "bad padding");
  EXPECT_STREQ(tessaly_status_text(static_cast<tessaly_status>(99)), "unknown status");
  EXPECT_EQ(std::string(tessaly_version()),
            std::to_string(TESSALY_VERSION_MAJOR) + "." + std::to_string(TESSALY_VERSION_MINOR) +
                "." + std::to_string(TESSALY_VERSION_PATCH));
}

// The first calls of a process, on several threads at once: the kernel is
// chosen once, and the calls share nothing else.
TEST(LibraryThreads, RunTheCasesAtOnce) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      std::mt19937 rng(static_cast<unsigned>(t));
      for (int round = 0; round < 50; ++round) {
        for (const decode_case& c : decode_cases) {
          std::vector<char> out(64);
          const tessaly_result r = tessaly_decode(c.text.data(), c.text.size(), out.data(),
                                                  c.room == plenty ? 64 : c.room, c.flags);
          if (r.status != c.status || r.read != c.read ||
              std::string_view(out.data(), r.written) != c.out)
            ++failures[t];
        }
        std::string data(rng() % 2000, '\0');
        for (auto& c : data) c = static_cast<char>(rng());
        std::string text(tessaly_encoded_length(data.size(), 76, 0), '\0');
        tessaly_encode(data.data(), data.size(), text.data(), 76, 0);
        if (text != library_model::encode(data, 76, 0)) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
