#include "memory_stream.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)

// Each run's input goes after the last one and is read from its start to
// the end of the file, and each run's output is read back from the start
// of the file by its length: every file operation under Wine costs
// several system calls, and truncating a file many.
std::FILE* open_chunked_input(chunked_input& state) {
  std::FILE* input = std::tmpfile();
  if (input != nullptr) restart_input(input, state, state.data);
  return input;
}

std::FILE* open_collected_output(collected_output&) { return std::tmpfile(); }

void collect_output(std::FILE* output, collected_output& state) {
  std::fflush(output);
  const long length = std::ftell(output);
  std::rewind(output);
  const std::size_t old_size = state.bytes.size();
  state.bytes.resize(old_size + static_cast<std::size_t>(length));
  state.bytes.resize(old_size + std::fread(state.bytes.data() + old_size, 1,
                                           static_cast<std::size_t>(length), output));
  std::rewind(output);
}

void restart_input(std::FILE* input, chunked_input& state, std::string_view data) {
  state.data = data;
  state.pos = 0;
  std::fseek(input, 0, SEEK_END);
  const long start = std::ftell(input);
  std::fwrite(data.data(), 1, data.size(), input);
  std::fseek(input, start, SEEK_SET);
  std::clearerr(input);
}

#else
#include <sys/types.h>

namespace {

ssize_t read_chunk(void* cookie, char* buffer, std::size_t size) {
  auto& s = *static_cast<chunked_input*>(cookie);
  if (s.pos >= s.fail_at) {
    errno = EIO;
    return -1;
  }
  std::size_t n = (s.data.size() < s.fail_at ? s.data.size() : s.fail_at) - s.pos;
  if (n > size) n = size;
  if (s.max_read != 0 && n > 1) {
    s.seed = s.seed * 1103515245u + 12345u;  // any cheap, repeatable sequence
    const std::size_t limit = 1 + (s.seed >> 8) % s.max_read;
    if (n > limit) n = limit;
  }
  std::memcpy(buffer, s.data.data() + s.pos, n);
  s.pos += n;
  ++s.reads;
  return static_cast<ssize_t>(n);
}

ssize_t write_collected(void* cookie, const char* buffer, std::size_t size) {
  auto& s = *static_cast<collected_output*>(cookie);
  const std::size_t room = s.capacity - s.bytes.size();
  if (size > room) {
    s.bytes.append(buffer, room);
    errno = ENOSPC;
    return -1;
  }
  s.bytes.append(buffer, size);
  return static_cast<ssize_t>(size);
}

}  // namespace

std::FILE* open_chunked_input(chunked_input& state) {
  return fopencookie(&state, "rb", {read_chunk, nullptr, nullptr, nullptr});
}

std::FILE* open_collected_output(collected_output& state) {
  return fopencookie(&state, "wb", {nullptr, write_collected, nullptr, nullptr});
}

void collect_output(std::FILE* output, collected_output&) { std::fflush(output); }

void restart_input(std::FILE* input, chunked_input& state, std::string_view data) {
  state.data = data;
  state.pos = 0;
  std::clearerr(input);
}

#endif

namespace {

std::size_t piece_most = 0;
std::uint32_t piece_seed = 1;

}  // namespace

void read_in_pieces(std::size_t most, std::uint32_t seed) {
  piece_most = most;
  piece_seed = seed;
}

std::ptrdiff_t read_piece(std::FILE* input, void* buffer, std::size_t size) {
  if (piece_most != 0 && size > 1) {
    piece_seed = piece_seed * 1103515245u + 12345u;
    const std::size_t limit = 1 + (piece_seed >> 8) % piece_most;
    if (size > limit) size = limit;
  }
  const std::size_t got = std::fread(buffer, 1, size, input);
  if (got == 0 && std::ferror(input)) return -1;
  return static_cast<std::ptrdiff_t>(got);
}
