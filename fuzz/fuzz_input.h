// Reading the fuzzer's bytes as parameters followed by data.
#pragma once

#include <cstddef>
#include <cstdint>
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

// How many times a parameter byte says to repeat the data: mostly once,
// now and then up to 129 times, so that small inputs reach the streams'
// large buffer and chunk boundaries (64 KiB reads, 48 KiB encoding chunks).
inline std::size_t copies_for(std::uint8_t choice) {
  return choice < 248 ? 1 : std::size_t{choice - 247u} * 16 + 1;
}

inline std::string repeated(std::string_view data, std::size_t copies) {
  std::string all;
  all.reserve(data.size() * copies);
  for (std::size_t k = 0; k < copies; ++k) all.append(data);
  return all;
}
