// Streams whose device fails: the codec must report the failure with the
// system's error, and stop reading once its output has failed.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "codec/base64.h"
#include "codec/input.h"
#include "tests/reference/reference_codec.h"
#include "tests/support/memory_stream.h"

namespace {

using tessaly::stream_status;

struct codec_case {
  const char* name;
  stream_status (*run)(std::FILE*, std::FILE*);
  std::string input;
};

const codec_case codecs[] = {
    {"encode", [](std::FILE* i, std::FILE* o) { return tessaly::encode_stream(i, o, 76); },
     std::string(1 << 20, 'x')},
    {"decode", [](std::FILE* i, std::FILE* o) { return tessaly::decode_stream(i, o, false); },
     std::string(1 << 20, 'A')},
};

constexpr const char* no_failing_devices =
    "the Windows runtime has no streams over user functions, so no device fails part way";

// glibc's fwrite counts bytes as written when the flush of an unbuffered
// or line-buffered stream fails; every mode must still show the failure.
TEST(FailingOutput, IsReportedAndEndsTheReadingInEveryBufferMode) {
  if (!devices_can_fail) GTEST_SKIP() << no_failing_devices;
  for (const codec_case& c : codecs) {
    for (const int mode : {_IOFBF, _IOLBF, _IONBF}) {
      chunked_input source{c.input};
      collected_output sink;
      sink.capacity = 10;
      std::FILE* in = open_chunked_input(source);
      std::FILE* out = open_collected_output(sink);
      std::setvbuf(out, nullptr, mode, mode == _IONBF ? 0 : 4096);
      errno = 0;
      EXPECT_EQ(c.run(in, out), stream_status::write_error) << c.name << " mode " << mode;
      EXPECT_EQ(errno, ENOSPC) << c.name << " mode " << mode;
      EXPECT_LT(source.pos, c.input.size()) << c.name << " read all of its input";
      std::fclose(in);
      std::fclose(out);
    }
  }
}

TEST(FailingInput, IsReportedWithTheSystemsError) {
  if (!devices_can_fail) GTEST_SKIP() << no_failing_devices;
  for (const codec_case& c : codecs) {
    for (const std::size_t fail_at : {std::size_t{0}, std::size_t{4095}, std::size_t{70000}}) {
      chunked_input source{c.input};
      source.fail_at = fail_at;
      source.max_read = 100;
      collected_output sink;
      std::FILE* in = open_chunked_input(source);
      std::FILE* out = open_collected_output(sink);
      errno = 0;
      EXPECT_EQ(c.run(in, out), stream_status::read_error) << c.name << " at " << fail_at;
      EXPECT_EQ(errno, EIO) << c.name << " at " << fail_at;
      std::fclose(in);
      std::fclose(out);
    }
  }
}

// What was read before the failure is not lost: every whole group when
// encoding (unpadded, the line left open), every whole block when decoding,
// whether the input came in one piece or in many.
TEST(FailingInput, KeepsTheOutputOfWhatWasReadBeforeIt) {
  if (!devices_can_fail) GTEST_SKIP() << no_failing_devices;
  const std::string bytes(1 << 20, 'x');
  const std::string text(1 << 20, 'A');
  tessaly::use_input_reader(read_piece);
  for (const std::size_t pieces : {std::size_t{0}, std::size_t{1}, std::size_t{97}}) {
    read_in_pieces(pieces);
    for (const std::size_t fail_at : {std::size_t{0}, std::size_t{4095}, std::size_t{70000},
                                      std::size_t{300001}}) {
      chunked_input source{bytes};
      source.fail_at = fail_at;
      collected_output sink;
      std::FILE* in = open_chunked_input(source);
      std::FILE* out = open_collected_output(sink);
      EXPECT_EQ(tessaly::encode_stream(in, out, 76), stream_status::read_error);
      std::fflush(out);
      std::string want = reference::encode(bytes.substr(0, fail_at / 3 * 3), 76);
      if (want.size() % 77 != 0) want.pop_back();
      EXPECT_TRUE(sink.bytes == want) << "encode, failing at " << fail_at << ", pieces " << pieces;
      std::fclose(in);
      std::fclose(out);

      chunked_input text_source{text};
      text_source.fail_at = fail_at;
      collected_output decoded;
      in = open_chunked_input(text_source);
      out = open_collected_output(decoded);
      EXPECT_EQ(tessaly::decode_stream(in, out, false), stream_status::read_error);
      std::fflush(out);
      EXPECT_EQ(decoded.bytes.size(), fail_at / tessaly::decode_block_size * 3072)
          << "decode, failing at " << fail_at << ", pieces " << pieces;
      std::fclose(in);
      std::fclose(out);
    }
  }
  read_in_pieces(0);
  tessaly::use_input_reader(nullptr);
}

}  // namespace
