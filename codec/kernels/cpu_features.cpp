#include "codec/kernels/cpu_features.h"

#if TESSALY_X86_KERNELS

#include <cpuid.h>

namespace tessaly {
namespace {

// The register state the operating system saves on a task switch.
unsigned long long enabled_state() {
  unsigned low = 0;
  unsigned high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return static_cast<unsigned long long>(high) << 32 | low;
}

cpu_features read_features() {
  cpu_features f{};
  unsigned a = 0, b = 0, c = 0, d = 0;
  const unsigned max_leaf = __get_cpuid_max(0, nullptr);
  if (max_leaf < 1) return f;
  __cpuid(1, a, b, c, d);
  // SSSE3 works on the SSE registers, which every operating system that
  // runs this program saves, so it needs no XGETBV.
  f.ssse3 = (c & bit_SSSE3) != 0;
  if (max_leaf < 7 || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return f;
  const unsigned ecx1 = c;
  const unsigned long long state = enabled_state();
  const bool ymm = (state & 0x6) == 0x6;     // SSE and AVX state
  const bool zmm = (state & 0xE6) == 0xE6;   // and the AVX-512 mask and upper registers
  __cpuid_count(7, 0, a, b, c, d);
  // POPCNT comes with every such CPU; the kernels count mask bits with it.
  f.avx2 = ymm && (b & bit_AVX2) && (ecx1 & bit_POPCNT);
  f.avx512vbmi2 = zmm && (b & bit_AVX512F) && (b & bit_AVX512BW) && (c & bit_AVX512VBMI) &&
                  (c & bit_AVX512VBMI2) && (ecx1 & bit_POPCNT);
  return f;
}

bool known = false;
cpu_features features{};

}  // namespace

const cpu_features& x86_features() {
  if (!known) {
    features = read_features();
    known = true;
  }
  return features;
}

}  // namespace tessaly

#endif
