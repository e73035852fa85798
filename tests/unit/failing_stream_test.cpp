// Streams whose device fails: the codec must report the failure with the
// system's error, and stop reading once its output has failed.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "codec/base64.h"
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

// glibc's fwrite counts bytes as written when the flush of an unbuffered
// or line-buffered stream fails; every mode must still show the failure.
TEST(FailingOutput, IsReportedAndEndsTheReadingInEveryBufferMode) {
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

}  // namespace
