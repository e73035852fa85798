#include "codec/kernels.h"

#include <iterator>

namespace tessaly {
namespace {

// Every kernel of this build, best last.
const codec_kernel* const all_kernels[] = {
    &scalar_kernel,
#if TESSALY_X86_KERNELS
    &ssse3_kernel,
    &avx2_kernel,
#endif
#if TESSALY_X86_64_KERNELS
    &vbmi2_kernel,
#endif
#if TESSALY_NEON_KERNEL
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
