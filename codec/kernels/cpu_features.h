// What the x86 CPU and the operating system let the vector kernels use.
#pragma once

#include "codec/kernels.h"

#if TESSALY_X86_KERNELS

namespace tessaly {

struct cpu_features {
  bool ssse3;
  bool avx2;         // with POPCNT
  bool avx512vbmi2;  // with AVX-512 F, BW and VBMI, and POPCNT
};

// Read on first use with at most three CPUID queries (leaves 0, 1 and 7),
// so that start-up pays for none (the C library's checks would run them
// all before main).
const cpu_features& x86_features();

}  // namespace tessaly

#endif
