#include "codec/kernels.h"

#include <atomic>
#include <iterator>

// A build capped for measuring what each kernel gives the whole program
// (-DTESSALY_KERNEL_CAP) holds no kernel above the cap. Every kernel but
// the scalar one sits under TESSALY_UNDER_CAP(cap), and CMakeLists.txt
// reads the caps from those lines: their order of first appearance is
// their rank, scalar below them all, so the list of caps, their ranks
// (TESSALY_CAP_name) and the cap's rank (TESSALY_KERNEL_CAP) come from
// here and nothing needs renumbering. A kernel of another CPU shares the
// rank of its x86 peer: NEON, the one vector kernel on its CPU, is under
// ssse3. The default, best, sets no cap, so a build holds every kernel.
#ifdef TESSALY_KERNEL_CAP
#define TESSALY_UNDER_CAP(cap) (TESSALY_KERNEL_CAP >= TESSALY_CAP_##cap)
#else
#define TESSALY_UNDER_CAP(cap) 1
#endif

namespace tessaly {
namespace {

// Every kernel of this build, best last.
const codec_kernel* const all_kernels[] = {
    &scalar_kernel,
#if TESSALY_X86_KERNELS && TESSALY_UNDER_CAP(ssse3)
    &ssse3_kernel,
#endif
#if TESSALY_X86_KERNELS && TESSALY_UNDER_CAP(avx2)
    &avx2_kernel,
#endif
#if TESSALY_X86_64_KERNELS && TESSALY_UNDER_CAP(vbmi2)
    &vbmi2_kernel,
#endif
#if TESSALY_NEON_KERNEL && TESSALY_UNDER_CAP(ssse3)
    &neon_kernel,
#endif
};

// Filled once, by whichever thread asks first; the others wait for it.
// Atomics with constant initialisers: no static constructor, and no lock
// that would need the threads library.
const codec_kernel* usable[std::size(all_kernels)];
std::size_t usable_count = 0;
enum : int { unfilled, filling, filled };
std::atomic<int> usable_state{unfilled};
std::atomic<const codec_kernel*> chosen{nullptr};

}  // namespace

std::span<const codec_kernel* const> available_kernels() {
  if (usable_state.load(std::memory_order_acquire) != filled) {
    int expected = unfilled;
    if (usable_state.compare_exchange_strong(expected, filling, std::memory_order_acquire)) {
      for (const codec_kernel* kernel : all_kernels)
        if (kernel->supported()) usable[usable_count++] = kernel;
      usable_state.store(filled, std::memory_order_release);
    } else {
      // A few CPUID queries away from done.
      while (usable_state.load(std::memory_order_acquire) != filled) {
      }
    }
  }
  return {usable, usable_count};
}

const codec_kernel& active_kernel() {
  const codec_kernel* kernel = chosen.load(std::memory_order_acquire);
  if (kernel == nullptr) {
    // Every thread that gets here picks the same kernel; the first store wins.
    const codec_kernel* best = available_kernels().back();
    chosen.compare_exchange_strong(kernel, best, std::memory_order_acq_rel);
    kernel = chosen.load(std::memory_order_acquire);
  }
  return *kernel;
}

void use_kernel(const codec_kernel& kernel) {
  chosen.store(&kernel, std::memory_order_release);
}

}  // namespace tessaly
