// The tables of the SSSE3 and AVX2 kernels' byte shuffles, after Muła and
// Lemire. A shuffle looks up within 16 bytes, so each table is 16 bytes
// long, and the AVX2 kernel repeats it in both halves of its registers.
#pragma once

#include <cstdint>

namespace tessaly::shuffle_tables {

struct table {
  alignas(16) std::int8_t bytes[16];
};

// Each group of three bytes b0 b1 b2 into one 32-bit lane as b1 b0 b2 b1,
// so that each 6-bit field sits within one 16-bit half.
inline constexpr table encode_spread = {{1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10}};

// The offset to each value's character, by range: 0-25 "A"-"Z", 26-51
// "a"-"z", 52-61 digits, 62 "+", 63 "/".
inline constexpr table encode_offsets = {
    {65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0}};

// Each byte's high nibble selects the low nibbles that are valid with it:
// a bit common to its entries in the two tables marks the byte invalid.
inline constexpr table valid_by_low = {
    {0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A}};
inline constexpr table valid_by_high = {
    {0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10}};

// The offset from each character to its value, by high nibble; "/"
// shares its nibble with "+" and takes the slot below.
inline constexpr table decode_offsets = {{0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0}};

// The three bytes of each 32-bit lane's 24 bits, first byte highest, in
// the first 12 bytes.
inline constexpr table decode_pack = {{2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1}};

// The one white space byte each low nibble can be; for the other nibbles
// a byte of another low nibble, which no byte looked up there equals.
inline constexpr table white_by_low = {
    {' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', -1, -1, '\r', -1, 0}};

}  // namespace tessaly::shuffle_tables
