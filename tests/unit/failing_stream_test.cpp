// Streams whose device fails: the codec must report the failure with the
// system's error, and stop reading once its output has failed.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/diagnostics.h"
#include "cli/texts.h"
#include "codec/base64.h"
#include "codec/input.h"
#include "codec/input_runs.h"
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

#if defined(_WIN32)
int descriptor(std::FILE* f) { return _fileno(f); }
std::ptrdiff_t read_descriptor(int fd, void* buffer, std::size_t size) {
  return _read(fd, buffer, static_cast<unsigned>(size));
}
bool make_pipe(int (&fds)[2]) { return _pipe(fds, 4096, _O_BINARY) == 0; }
int move_descriptor(int from, int to) { return _dup2(from, to); }
void write_byte(int fd) { (void)!_write(fd, "A", 1); }
#else
int descriptor(std::FILE* f) { return fileno(f); }
std::ptrdiff_t read_descriptor(int fd, void* buffer, std::size_t size) {
  return read(fd, buffer, size);
}
bool make_pipe(int (&fds)[2]) { return pipe(fds) == 0; }
int move_descriptor(int from, int to) { return dup2(from, to); }
void write_byte(int fd) { (void)!write(fd, "A", 1); }
#endif

// The read end of a pipe that nothing is written to: a read of it waits,
// as a read of a dead network share would, holding whatever the runtime
// locks for a read.
int hung_pipe[2] = {-1, -1};
std::thread::id test_thread;
std::atomic<int> reads_done{0};

// On the reading thread, reads the file itself twice, the piece that
// holds the garbage among them; then puts the hung pipe in the file's
// place and reads that.
std::ptrdiff_t read_then_hang(std::FILE* input, void* buffer, std::size_t size) {
  if (std::this_thread::get_id() != test_thread) {
    if (reads_done++ == 2) move_descriptor(hung_pipe[0], descriptor(input));
  }
  return read_descriptor(descriptor(input), buffer, size);
}

// Decodes, on the program's way out, a file whose second piece holds
// garbage while the reading thread waits in a read that never returns.
// Other ends: 3, no pipe or file; 4, the wrong status; 5, the thread never
// caught in its read; 6, a thread waited for inside its read; 7, no
// reading thread (one processor).
[[noreturn]] void fail_while_a_read_waits() {
  test_thread = std::this_thread::get_id();
  if (!make_pipe(hung_pipe)) std::exit(3);
  // Should the way out wait on the read after all, it returns in the end,
  // and the parent sees the wait.
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::seconds(20));
    write_byte(hung_pipe[1]);
  }).detach();
  std::string text;
  for (std::size_t i = 0; text.size() < (1 << 20); ++i) text += std::string(76, 'A') + "\n";
  text[250000] = '#';
  tessaly::use_input_reader(read_then_hang);
  // The stream may find the garbage before the thread has begun its
  // third read: then it is joined, and the case is tried again. A thread
  // that had begun it and was waited for all the same is the fault.
  for (int attempt = 0; attempt < 50; ++attempt) {
    reads_done = 0;
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    if (in == nullptr || out == nullptr) std::exit(3);
    std::fwrite(text.data(), 1, text.size(), in);
    std::fflush(in);
    std::rewind(in);
    if (tessaly::decode_stream(in, out, false) != stream_status::invalid_input) std::exit(4);
    if (tessaly::read_left_behind()) tessaly::fatal(1, "%s", tessaly::invalid_input_error);
    if (reads_done > 2) std::exit(6);
    if (reads_done == 0) std::exit(7);
  }
  std::exit(5);
}

// The runtime's exit closes every stream, and on Windows the input's
// descriptor stays locked while a read of it waits: the failure must end
// the process without either. The child is forked before any thread of
// the test starts, in the death test's default style; the style that
// executes the program again fails under qemu's user mode.
TEST(FailingInput, EndsTheProcessAtOnceWhileAReadWaits) {
  if (tessaly::processors_to_run_on() < 2) GTEST_SKIP() << "on one processor no thread reads ahead";
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EXIT(fail_while_a_read_waits(), testing::ExitedWithCode(1), "base64: invalid input");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

}  // namespace
