// Steps that the AVX-512 kernel and its line walk share. Every function is
// marked for the instruction set, so that nothing here runs before the CPU
// check.
#pragma once

#include "codec/kernels.h"

#if TESSALY_X86_64_KERNELS

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

#define TESSALY_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi,popcnt")))

namespace tessaly::avx512 {

constexpr std::uint64_t all_64 = ~std::uint64_t{0};

// A mask of the first n of 64 bytes.
constexpr std::uint64_t first_bytes(std::size_t n) {
  return n < 64 ? (std::uint64_t{1} << n) - 1 : all_64;
}

constexpr std::array<std::uint8_t, 64> make_byte_index() {
  std::array<std::uint8_t, 64> index{};
  for (int i = 0; i < 64; ++i) index[i] = static_cast<std::uint8_t>(i);
  return index;
}

// The three bytes of each 32-bit lane's 24 bits, first byte highest.
constexpr std::array<std::uint8_t, 64> make_pack() {
  std::array<std::uint8_t, 64> index{};
  for (int i = 0; i < 48; ++i) index[i] = static_cast<std::uint8_t>(i / 3 * 4 + 2 - i % 3);
  return index;
}

alignas(64) inline constexpr auto byte_index = make_byte_index();
alignas(64) inline constexpr auto pack_index = make_pack();

TESSALY_VBMI inline __m512i load(const void* p) { return _mm512_loadu_si512(p); }

// The zero-masking forms: GCC 12 warns about the undefined source that the
// plain ones pass on.
TESSALY_VBMI inline __m512i permute(__m512i index, __m512i table) {
  return _mm512_maskz_permutexvar_epi8(all_64, index, table);
}

// The bytes of the first groups of 64 values, as many as mask covers.
TESSALY_VBMI inline void store_groups(__m512i values, std::uint64_t mask, std::uint8_t* out) {
  const __m512i pairs = _mm512_maddubs_epi16(values, _mm512_set1_epi32(0x01400140));
  const __m512i groups = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
  _mm512_mask_storeu_epi8(out, mask, permute(load(pack_index.data()), groups));
}

}  // namespace tessaly::avx512

#endif
