// Reading the fuzzer's bytes as parameters followed by data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct fuzz_input {
  const std::uint8_t* data;
  std::size_t size;

  // The next byte, or 0 once the bytes run out.
  std::uint8_t take_byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  std::string_view rest() const {
    return {reinterpret_cast<const char*>(data), size};
  }
};

// Rarely, the data comes after a filler that ends near one of the streams'
// buffer boundaries, so that even a short input meets them; mostly there
// is none, which keeps a run short. The filler is text the codec passes at
// its fastest, so that a padded run costs a few milliseconds whatever the
// data holds. A choice of 0xa0 to 0xa3 picks the boundary: values that the
// fuzzer's favourite fills (0x00, 0xff, text) do not give, so that padded
// runs stay a small share. offset moves the filler's end to either side of
// the boundary in steps that grow from 1 byte to 128: both the lengths next
// to it and the 4096-byte block around it are in reach (up to 8256 bytes
// away).
inline std::size_t filler_length(std::uint8_t choice, std::uint8_t offset,
                                 std::span<const std::size_t> boundaries) {
  const unsigned pick = choice - 0xa0u;
  if (pick >= 4 || boundaries.empty()) return 0;
  const std::size_t boundary = boundaries[pick % boundaries.size()];
  const std::ptrdiff_t d = offset - 128;
  const std::ptrdiff_t shift = d * ((d < 0 ? -d : d) + 1) / 2;
  return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(boundary) + shift);
}

// Makes all length bytes of pattern, repeated, then the data. The caller
// keeps all from run to run, so that a long text costs no fresh pages.
inline std::string_view pad(std::string& all, std::string_view pattern, std::size_t length,
                            std::string_view data) {
  all.clear();
  // Room for all of it first, so that the copies of all's own bytes below
  // never move it; doubling keeps them few.
  all.reserve(length + data.size());
  all.append(pattern.substr(0, length));
  while (!all.empty() && all.size() < length) {
    const std::size_t more = length - all.size();
    all.append(all.data(), more < all.size() ? more : all.size());
  }
  return all.append(data);
}

// Reads of the device up to max_read bytes, longer behind a filler so that
// it does not take thousands of them.
inline std::size_t read_limit(std::uint8_t max_read, std::size_t filler) {
  return max_read * (1 + filler / 1024);
}
