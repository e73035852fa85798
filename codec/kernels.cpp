#include "codec/kernels.h"

namespace tessaly {
namespace {

const codec_kernel* const all_kernels[] = {&scalar_kernel};
const codec_kernel* chosen = nullptr;

}  // namespace

std::span<const codec_kernel* const> available_kernels() { return all_kernels; }

const codec_kernel& active_kernel() {
  if (chosen == nullptr) chosen = available_kernels().back();
  return *chosen;
}

void use_kernel(const codec_kernel& kernel) { chosen = &kernel; }

}  // namespace tessaly
