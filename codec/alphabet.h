// The Base 64 alphabet and its inverse.
#pragma once

#include <array>
#include <cstdint>

namespace tessaly {

inline constexpr char encode_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline constexpr std::int16_t pad_value = 64;

namespace detail {
constexpr std::array<std::int16_t, 256> make_decode_table() {
  std::array<std::int16_t, 256> table{};
  for (auto& entry : table) entry = -1;
  for (int v = 0; v < 64; ++v)
    table[static_cast<unsigned char>(encode_alphabet[v])] =
        static_cast<std::int16_t>(v);
  table['='] = pad_value;
  return table;
}
}  // namespace detail

// Sextet value of each byte: 0-63 for the alphabet, pad_value for "=", -1
// for everything else. Built at compile time: no start-up cost.
inline constexpr std::array<std::int16_t, 256> decode_table =
    detail::make_decode_table();

inline constexpr bool is_white_space(unsigned char c) {
  return c == '\n' || c == '\r' || c == ' ' || c == '\t';
}

// The sextet value of each ASCII character, for the vector kernels'
// 128-byte lookups: white space gets white, any other character outside
// the alphabet ("=" included) gets outside.
constexpr std::array<std::uint8_t, 128> ascii_value_table(std::uint8_t outside,
                                                          std::uint8_t white) {
  std::array<std::uint8_t, 128> table{};
  for (int c = 0; c < 128; ++c) {
    const std::int16_t v = decode_table[c];
    table[c] = v >= 0 && v < 64                               ? static_cast<std::uint8_t>(v)
               : is_white_space(static_cast<unsigned char>(c)) ? white
                                                                : outside;
  }
  return table;
}

}  // namespace tessaly
