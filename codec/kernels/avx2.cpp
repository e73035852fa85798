// The AVX2 kernel, after Muła and Lemire: the method of x86_method.h on
// 256-bit registers. Its byte shuffles look up within each 128-bit half,
// so its tables stand in both halves, and what crosses the halves (the
// encoder's input, a shift by one lane, the decoder's output) takes a
// lane permutation of its own. Only the functions marked for AVX2 use it,
// so nothing here runs on a CPU without it until the CPU check chose it.
#include "codec/kernels.h"

#if TESSALY_X86_KERNELS

#include <immintrin.h>

#include <cstdint>

#define TESSALY_X86_TARGET __attribute__((target("avx2,popcnt")))

#include "codec/kernels/cpu_features.h"
#include "codec/kernels/shuffle_tables.h"
#include "codec/kernels/x86_method.h"

namespace tessaly {
namespace {

// One 256-bit register of 32 byte lanes, and what the method does with it.
struct v256 {
  TESSALY_X86_REGISTER(__m256i, _mm256, si256)

  // What only this width needs.
  // A table in both 128-bit halves, where the byte shuffle looks up. Built
  // byte by byte, so that the compiler folds it into one constant.
  TESSALY_X86_TARGET static reg table(const shuffle_tables::table& t) {
    const std::int8_t* b = t.bytes;
    return _mm256_setr_epi8(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10],
                            b[11], b[12], b[13], b[14], b[15], b[0], b[1], b[2], b[3], b[4], b[5],
                            b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  }
  TESSALY_X86_TARGET static reg lane_numbers() {
    return _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                            20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
  }
  // The lanes of if_set where mask is set, of if_clear elsewhere.
  TESSALY_X86_TARGET static reg select(reg mask, reg if_set, reg if_clear) {
    return _mm256_blendv_epi8(if_clear, if_set, mask);
  }
  // encode_step's input: 24 bytes, read as 16 from in and 16 from in + 12.
  static constexpr std::size_t encode_reach = 28;
  // Each half's four groups as the shuffle within the half needs them.
  TESSALY_X86_TARGET static reg load_groups(const std::uint8_t* in) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12)), 1);
  }
  TESSALY_X86_TARGET static reg down_one_lane(reg v) {
    return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, v, 0x81), v, 1);
  }
  // The 12 packed bytes of each half side by side.
  TESSALY_X86_TARGET static reg join_lanes(reg v) {
    return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
  }
  TESSALY_X86_TARGET static bool all_zero(reg v) { return _mm256_testz_si256(v, v) != 0; }
  // Line ends counted in a general register with POPCNT. Counting them in
  // lanes, as the SSSE3 kernel must, took a tenth more instructions on
  // text in lines ended by LF.
  struct tally {
    std::size_t count = 0;
    TESSALY_X86_TARGET void add(reg ends) {
      count += static_cast<std::size_t>(__builtin_popcount(movemask8(ends)));
    }
    TESSALY_X86_TARGET std::size_t total() const { return count; }
  };
};

bool has_avx2() { return x86_features().avx2; }

}  // namespace

const codec_kernel avx2_kernel = {"avx2", has_avx2, encode_bytes<v256>, decode_text<v256>};

}  // namespace tessaly

#endif
