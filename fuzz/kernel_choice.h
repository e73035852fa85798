// One parameter byte picks the kernel and the decoding mode of an input:
// each input then runs once rather than once per kernel and mode, and the
// fuzzer still reaches them all through the byte.
#pragma once

#include <cstdint>

#include "codec/kernels.h"

struct kernel_choice {
  const tessaly::codec_kernel* kernel;
  bool ignore_garbage;
};

// The low bit is the mode; the rest, modulo the number of kernels this CPU
// can run, is the kernel, so a longer list needs no change here (up to 128
// kernels stay reachable).
inline kernel_choice choose_kernel(std::uint8_t choice) {
  const auto kernels = tessaly::available_kernels();
  const tessaly::codec_kernel* kernel = kernels[(choice >> 1) % kernels.size()];
  tessaly::use_kernel(*kernel);
  return {kernel, (choice & 1) != 0};
}
