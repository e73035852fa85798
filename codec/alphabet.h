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

}  // namespace tessaly
