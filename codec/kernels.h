// One interface over the instruction-set kernels that do the codec's bulk
// work. Each kernel handles whole groups only; the streams around them
// handle padding, partial lines and errors. A kernel is a file in
// codec/kernels/, its declaration below and its entry in registry.cpp,
// whose caps the build reads; its CPU check, tests, dispatch check and
// tables are in docs/design.md's checklist for adding a kernel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The x86 kernels need the compiler's per-function target attribute.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define TESSALY_X86_KERNELS 1
#else
#define TESSALY_X86_KERNELS 0
#endif
// AVX-512 uses 64-bit masks: 64-bit code only.
#if TESSALY_X86_KERNELS && defined(__x86_64__)
#define TESSALY_X86_64_KERNELS 1
#else
#define TESSALY_X86_64_KERNELS 0
#endif
// NEON is part of every AArch64 CPU, so no check is needed at run time. The
// kernel reads its lanes in little-endian order, which big-endian AArch64
// (rare) does not share: that one gets the scalar kernel.
#if defined(__aarch64__) && defined(__AARCH64EL__)
#define TESSALY_NEON_KERNEL 1
#else
#define TESSALY_NEON_KERNEL 0
#endif

namespace tessaly {

struct decoded_run {
  std::size_t consumed;  // input bytes used, up to the last whole group
  std::size_t written;   // output bytes, three per group
};

struct codec_kernel {
  // Letters, digits and underscores: the tests are named after it, and
  // scripts pick them and the benchmarks by it.
  const char* name;
  // Whether this CPU can run the kernel.
  bool (*supported)();
  // Encodes len bytes, a multiple of 3, into len / 3 * 4 characters, with
  // a newline after every line_chars of them; line_chars is a multiple of
  // 4, or 0 for one unbroken run. A last line shorter than line_chars gets
  // no newline. Returns the number of characters written, newlines
  // included; out has room for exactly those.
  std::size_t (*encode)(const std::uint8_t* in, std::size_t len, char* out,
                        std::size_t line_chars);
  // Decodes groups of four alphabet characters into three bytes each,
  // passing over any white space (line feed, carriage return, space, tab)
  // before and inside a group. Stops before the first group that meets any
  // other byte or the end of the input; consumed ends just after the last
  // whole group's fourth character. out has room for len / 4 * 3 bytes.
  decoded_run (*decode)(const char* in, std::size_t len, std::uint8_t* out);
};

extern const codec_kernel scalar_kernel;
#if TESSALY_X86_KERNELS
extern const codec_kernel ssse3_kernel;
extern const codec_kernel avx2_kernel;
#endif
#if TESSALY_X86_64_KERNELS
extern const codec_kernel vbmi2_kernel;
#endif
#if TESSALY_NEON_KERNEL
extern const codec_kernel neon_kernel;
#endif

// The kernels this build holds that this CPU can run, best last.
std::span<const codec_kernel* const> available_kernels();

// The kernel the streams use: the best available one, chosen on first use.
const codec_kernel& active_kernel();

// Makes the streams use kernel, for tests and benchmarks.
void use_kernel(const codec_kernel& kernel);

}  // namespace tessaly
