// Runs a check once with each kernel this CPU can run, so that the fast
// kernels are fuzzed as soon as the build holds them.
#pragma once

#include "codec/kernels.h"

template <typename Check>
void for_each_kernel(Check check) {
  for (const tessaly::codec_kernel* kernel : tessaly::available_kernels()) {
    tessaly::use_kernel(*kernel);
    check(*kernel);
  }
}
