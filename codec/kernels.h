// One interface over the instruction-set kernels that do the codec's bulk
// work. Each kernel handles whole groups only; the streams around them
// handle padding, line layout, white space and errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tessaly {

struct codec_kernel {
  const char* name;
  // Encodes len bytes, a multiple of 3, into len / 3 * 4 characters.
  void (*encode)(const std::uint8_t* in, std::size_t len, char* out);
  // Decodes groups of four alphabet characters from in (len a multiple of
  // 4) into three bytes each, and stops before the first group holding any
  // other byte. Returns the number of characters decoded.
  std::size_t (*decode)(const char* in, std::size_t len, std::uint8_t* out);
};

extern const codec_kernel scalar_kernel;

// The kernels this build holds that this CPU can run, best last.
std::span<const codec_kernel* const> available_kernels();

// The kernel the streams use: the best available one, chosen on first use.
const codec_kernel& active_kernel();

// Makes the streams use kernel, for tests and benchmarks.
void use_kernel(const codec_kernel& kernel);

}  // namespace tessaly
