// The SSSE3 kernel: the method of x86_method.h, which the AVX2 kernel
// shares, on 128-bit registers, for the x86 CPUs without AVX2 (Intel's since 2006 and AMD's
// since 2011 have SSSE3, whose byte shuffle the method is built on). SSE2
// has no byte blend, so lanes are chosen with masks; a round of the line
// walk counts its line ends in a vector, since POPCNT may be missing, and
// its check compares with zero where SSE4.1 would test. Only the functions
// marked for SSSE3 use it, so nothing here runs before the CPU check chose
// it.
#include "codec/kernels.h"

#if TESSALY_X86_KERNELS

#include <tmmintrin.h>

#include <cstdint>

#define TESSALY_X86_TARGET __attribute__((target("ssse3")))

#include "codec/kernels/cpu_features.h"
#include "codec/kernels/shuffle_tables.h"
#include "codec/kernels/x86_method.h"

namespace tessaly {
namespace {

// One 128-bit register of 16 byte lanes, and what the method does with it.
struct v128 {
  TESSALY_X86_REGISTER(__m128i, _mm, si128)

  // What only this width needs.
  TESSALY_X86_TARGET static reg table(const shuffle_tables::table& t) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(t.bytes));
  }
  TESSALY_X86_TARGET static reg lane_numbers() {
    return _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  }
  // The lanes of if_set where mask is set, of if_clear elsewhere.
  TESSALY_X86_TARGET static reg select(reg mask, reg if_set, reg if_clear) {
    return _mm_or_si128(_mm_and_si128(mask, if_set), _mm_andnot_si128(mask, if_clear));
  }
  // encode_step's input: 12 bytes, read as 16.
  static constexpr std::size_t encode_reach = 16;
  TESSALY_X86_TARGET static reg load_groups(const std::uint8_t* in) { return load(in); }
  TESSALY_X86_TARGET static reg down_one_lane(reg v) { return _mm_srli_si128(v, 1); }
  // The packed bytes are already together in the one 128-bit lane.
  TESSALY_X86_TARGET static reg join_lanes(reg v) { return v; }
  // A comparison with zero, since PTEST is SSE4.1.
  TESSALY_X86_TARGET static bool all_zero(reg v) { return movemask8(cmpeq8(v, zero())) == 0xFFFF; }
  // Line ends counted in each lane, at most one a window, so that a
  // round's count fits in a byte.
  struct tally {
    reg lanes;
    TESSALY_X86_TARGET tally() : lanes(zero()) {}
    TESSALY_X86_TARGET void add(reg ends) { lanes = sub8(lanes, ends); }
    TESSALY_X86_TARGET std::size_t total() const {
      const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
      return static_cast<std::size_t>(
          _mm_cvtsi128_si32(_mm_add_epi32(sums, _mm_srli_si128(sums, 8))));
    }
  };
};

bool has_ssse3() { return x86_features().ssse3; }

}  // namespace

const codec_kernel ssse3_kernel = {"ssse3", has_ssse3, encode_bytes<v128>, decode_text<v128>};

}  // namespace tessaly

#endif
