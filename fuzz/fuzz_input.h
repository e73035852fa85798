// Reading the fuzzer's bytes as parameters followed by data.
#pragma once

#include <cstddef>
#include <cstdint>
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
