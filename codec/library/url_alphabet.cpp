// The translation between the alphabets, a register at a time: it runs
// beside kernels of 20 to 70 GB/s, so it uses the widest registers that
// the active kernel's CPU check has already vouched for.
#include "codec/library/url_alphabet.h"

#include <cstring>

#include "codec/kernels.h"

namespace tessaly {
namespace {

// A character that becomes another: the difference is added where it
// stands, so that a register of characters is translated with a compare,
// an and and an add per change.
struct change {
  signed char from;
  signed char by;
};

constexpr change to_url[] = {{'+', '-' - '+'}, {'/', '_' - '/'}};
constexpr change from_url[] = {
    {'-', '+' - '-'}, {'_', '/' - '_'}, {'+', '*' - '+'}, {'/', '*' - '/'}};

template <std::size_t N>
void translate_bytes(const char* in, std::size_t len, char* out, const change (&changes)[N]) {
  for (std::size_t i = 0; i < len; ++i) {
    const auto c = static_cast<signed char>(in[i]);
    signed char by = 0;
    for (const change& ch : changes)
      if (c == ch.from) by = ch.by;
    out[i] = static_cast<char>(c + by);
  }
}

#if defined(__GNUC__) || defined(__clang__)
#define TESSALY_VECTOR_TRANSLATION 1

using v16 = signed char __attribute__((vector_size(16)));
using v32 = signed char __attribute__((vector_size(32)));
using v64 = signed char __attribute__((vector_size(64)));

// Inlined into a caller built for the register's width, where it is one
// instruction per step; returns the bytes translated, a multiple of the
// width.
template <typename V, std::size_t N>
[[gnu::always_inline]] inline std::size_t translate_registers(const char* in, std::size_t len,
                                                              char* out,
                                                              const change (&changes)[N]) {
  std::size_t i = 0;
  for (; len - i >= sizeof(V); i += sizeof(V)) {
    V v;
    std::memcpy(&v, in + i, sizeof v);
    V by = {};
    for (const change& ch : changes) by += (v == ch.from) & ch.by;
    v += by;
    std::memcpy(out + i, &v, sizeof v);
  }
  return i;
}

template <std::size_t N>
void translate_16(const char* in, std::size_t len, char* out, const change (&changes)[N]) {
  const std::size_t done = translate_registers<v16>(in, len, out, changes);
  translate_bytes(in + done, len - done, out + done, changes);
}

#if TESSALY_X86_KERNELS
template <std::size_t N>
[[gnu::target("avx2")]] void translate_32(const char* in, std::size_t len, char* out,
                                          const change (&changes)[N]) {
  const std::size_t done = translate_registers<v32>(in, len, out, changes);
  translate_bytes(in + done, len - done, out + done, changes);
}
#endif

#if TESSALY_X86_64_KERNELS
template <std::size_t N>
[[gnu::target("avx512f,avx512bw")]] void translate_64(const char* in, std::size_t len, char* out,
                                                      const change (&changes)[N]) {
  const std::size_t done = translate_registers<v64>(in, len, out, changes);
  translate_bytes(in + done, len - done, out + done, changes);
}
#endif

#else
#define TESSALY_VECTOR_TRANSLATION 0
#endif

template <std::size_t N>
void translate(const char* in, std::size_t len, char* out, const change (&changes)[N]) {
#if TESSALY_VECTOR_TRANSLATION
  [[maybe_unused]] const codec_kernel* kernel = &active_kernel();
#if TESSALY_X86_64_KERNELS
  if (kernel == &vbmi2_kernel) return translate_64(in, len, out, changes);
#endif
#if TESSALY_X86_KERNELS
  if (kernel == &avx2_kernel) return translate_32(in, len, out, changes);
#endif
  translate_16(in, len, out, changes);
#else
  translate_bytes(in, len, out, changes);
#endif
}

}  // namespace

void to_url_alphabet(char* text, std::size_t len) { translate(text, len, text, to_url); }

void from_url_alphabet(const char* in, std::size_t len, char* out) {
  translate(in, len, out, from_url);
}

}  // namespace tessaly
