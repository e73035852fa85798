#include "codec/kernels.h"

#include <iterator>

// A build capped for measuring what each kernel gives the whole program
// (TESSALY_KERNEL_CAP in CMake) holds no kernel above the cap: 0 scalar,
// 1 SSSE3 (and NEON, the one vector kernel on its CPU), 2 AVX2, 3 every
// kernel.
#ifndef TESSALY_KERNEL_CAP
#define TESSALY_KERNEL_CAP 3
#endif

namespace tessaly {
namespace {

// Every kernel of this build, best last.
const codec_kernel* const all_kernels[] = {
    &scalar_kernel,
#if TESSALY_X86_KERNELS && TESSALY_KERNEL_CAP >= 1
    &ssse3_kernel,
#endif
#if TESSALY_X86_KERNELS && TESSALY_KERNEL_CAP >= 2
    &avx2_kernel,
#endif
#if TESSALY_X86_64_KERNELS && TESSALY_KERNEL_CAP >= 3
    &vbmi2_kernel,
#endif
#if TESSALY_NEON_KERNEL && TESSALY_KERNEL_CAP >= 1
    &neon_kernel,
#endif
};

const codec_kernel* usable[std::size(all_kernels)];
std::size_t usable_count = 0;
const codec_kernel* chosen = nullptr;

}  // namespace

std::span<const codec_kernel* const> available_kernels() {
  if (usable_count == 0) {
    for (const codec_kernel* kernel : all_kernels)
      if (kernel->supported()) usable[usable_count++] = kernel;
  }
  return {usable, usable_count};
}

const codec_kernel& active_kernel() {
  if (chosen == nullptr) chosen = available_kernels().back();
  return *chosen;
}

void use_kernel(const codec_kernel& kernel) { chosen = &kernel; }

}  // namespace tessaly
