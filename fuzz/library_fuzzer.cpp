// The C interface against its model, with any kernel: decoding with random
// flags and room, and encoding in one call against the streaming encoder
// fed in random pieces.
//
// Input: five parameter bytes (kernel and what to run, flags, room or
// width, two of piece sizes), then the data.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codec/include/tessaly.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/kernel_choice.h"
#include "tests/reference/library_model.h"

namespace {

[[noreturn]] void fail(const char* what, unsigned flags) {
  std::fprintf(stderr, "library: %s (kernel %s, flags %#x)\n", what, tessaly_kernel(), flags);
  std::abort();
}

constexpr char guard = '\x5a';

void check_decode(std::string_view text, unsigned flags, std::uint8_t room_choice) {
  // Mostly enough room; otherwise up to a few bytes short of it or over.
  const std::size_t most = tessaly_decoded_length_max(text.size());
  const std::size_t room = room_choice < 128 ? most : (most + 4) * (room_choice - 128) / 127;
  std::string out(room + 8, guard);
  const tessaly_result got = tessaly_decode(text.data(), text.size(), out.data(), room, flags);
  const library_model::decoded want = library_model::decode(text, room, flags);
  if (got.status != want.status) fail("decode status", flags);
  if (got.read != want.read) fail("decode read", flags);
  if (got.written != want.out.size() || out.compare(0, got.written, want.out) != 0)
    fail("decoded bytes", flags);
  if (out.find_first_not_of(guard, room) != std::string::npos) fail("written past the room", flags);
  if (room == most && got.status == TESSALY_OUTPUT_FULL) fail("room of the longest text too small", flags);
}

void check_encode(std::string_view data, unsigned flags, std::size_t width, std::uint8_t a,
                  std::uint8_t b) {
  const std::string want = library_model::encode(data, width, flags);
  if (tessaly_encoded_length(data.size(), width, flags) != want.size()) fail("encoded length", flags);
  std::string text(want.size() + 8, guard);
  if (tessaly_encode(data.data(), data.size(), text.data(), width, flags) != want.size() ||
      text.compare(0, want.size(), want) != 0 || text.find_first_not_of(guard, want.size()) != std::string::npos)
    fail("encode", flags);
  // Pieces of two sizes in turn, the first from 0 bytes up, the second
  // from 1, so that the input runs out.
  tessaly_encoder encoder;
  tessaly_encoder_init(&encoder, width, flags);
  std::string pieces, out;
  bool turn = false;
  for (std::size_t at = 0;;) {
    const std::size_t size = turn ? a : b + 1u;
    turn = !turn;
    const std::size_t n = data.size() - at < size ? data.size() - at : size;
    const bool last = at == data.size();
    const std::size_t room = tessaly_encoder_room(n, width, flags);
    out.assign(room + 8, guard);
    const std::size_t got = last ? tessaly_encoder_finish(&encoder, out.data())
                                 : tessaly_encoder_update(&encoder, data.data() + at, n, out.data());
    if (got > room || out.find_first_not_of(guard, room) != std::string::npos)
      fail("streaming encoder past its room", flags);
    pieces.append(out, 0, got);
    if (last) break;
    at += n;
  }
  if (pieces != want) fail("streaming encoder", flags);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  fuzz_input in{bytes, size};
  const std::uint8_t choice = in.take_byte();
  const kernel_choice k = choose_kernel(choice);
  const unsigned flags = in.take_byte() & 0x3f;
  const std::uint8_t room_or_width = in.take_byte();
  const std::uint8_t a = in.take_byte();
  const std::uint8_t b = in.take_byte();
  // The choice's low bit, the stream fuzzers' mode, picks what to run.
  if (k.ignore_garbage) {
    check_encode(in.rest(), flags, room_or_width % 2 ? room_or_width / 2 : 76, a, b);
  } else {
    check_decode(in.rest(), flags, room_or_width);
  }
  return 0;
}
