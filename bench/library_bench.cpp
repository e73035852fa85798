// The library's interface in memory, for each kernel this CPU can run:
// bytes of input a second of tessaly_encode and tessaly_decode at 64 KiB
// and 16 MiB, unbroken, in 76-column lines and in the URL alphabet, beside
// the kernel's own call on the same bytes (what the interface costs),
// memcpy and OpenSSL's EVP_EncodeBlock / EVP_DecodeBlock; and the time of
// one call on 16 bytes. bench/library_compare.py reads its figures.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "codec/include/tessaly.h"
#include "codec/kernels.h"

#if TESSALY_BENCH_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

using tessaly::codec_kernel;

constexpr std::size_t small_bytes = 64 * 1024;
constexpr std::size_t large_bytes = 16 * 1024 * 1024;
constexpr std::size_t tiny_bytes = 16;
constexpr std::size_t line_chars = 76;

struct layout {
  const char* name;
  std::size_t width;
  unsigned flags;
};

constexpr layout layouts[] = {
    {"", 0, 0},
    {"_lines76", line_chars, 0},
    {"_url", 0, TESSALY_URL},
};

const std::vector<std::uint8_t>& random_bytes(std::size_t len) {
  static std::map<std::size_t, std::vector<std::uint8_t>> made;
  auto& bytes = made[len];
  if (bytes.empty()) {
    std::mt19937 rng(42);
    bytes.resize(len);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  }
  return bytes;
}

// The text the library writes for len random bytes: what its decoder is
// given to read.
const std::string& library_text(std::size_t len, const layout& l) {
  static std::map<std::tuple<std::size_t, std::size_t, unsigned>, std::string> made;
  auto& text = made[{len, l.width, l.flags}];
  if (text.empty()) {
    const auto& bytes = random_bytes(len);
    text.resize(tessaly_encoded_length(len, l.width, l.flags));
    tessaly_encode(bytes.data(), len, text.data(), l.width, l.flags);
  }
  return text;
}

void count(benchmark::State& state, std::size_t bytes_per_call) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes_per_call));
}

void library_encode(benchmark::State& state, const codec_kernel* kernel, std::size_t len,
                    layout l) {
  tessaly::use_kernel(*kernel);
  const auto& in = random_bytes(len);
  std::vector<char> out(tessaly_encoded_length(len, l.width, l.flags));
  for (auto _ : state) {
    benchmark::DoNotOptimize(tessaly_encode(in.data(), len, out.data(), l.width, l.flags));
    benchmark::ClobberMemory();
  }
  count(state, len);
}

void library_decode(benchmark::State& state, const codec_kernel* kernel, std::size_t len,
                    layout l) {
  tessaly::use_kernel(*kernel);
  const std::string& text = library_text(len, l);
  std::vector<std::uint8_t> out(len);
  for (auto _ : state) {
    const tessaly_result r = tessaly_decode(text.data(), text.size(), out.data(), len, l.flags);
    if (r.status != TESSALY_OK || r.written != len) state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  count(state, text.size());
}

// The kernel alone, called as kernel_bench calls it, on the whole groups
// of the same bytes and the same text.
void kernel_encode(benchmark::State& state, const codec_kernel* kernel, std::size_t len,
                   layout l) {
  const auto& in = random_bytes(len);
  const std::size_t groups = len / 3 * 3;
  std::vector<char> out(tessaly_encoded_length(len, l.width, l.flags));
  for (auto _ : state) {
    benchmark::DoNotOptimize(kernel->encode(in.data(), groups, out.data(), l.width));
    benchmark::ClobberMemory();
  }
  count(state, groups);
}

void kernel_decode(benchmark::State& state, const codec_kernel* kernel, std::size_t len,
                   layout l) {
  const std::string& text = library_text(len, l);
  std::vector<std::uint8_t> out(len);
  for (auto _ : state) {
    const auto run = kernel->decode(text.data(), text.size(), out.data());
    benchmark::DoNotOptimize(run);
    benchmark::ClobberMemory();
  }
  count(state, text.size());
}

void copy(benchmark::State& state, std::size_t len) {
  const auto& in = random_bytes(len);
  std::vector<std::uint8_t> out(len);
  for (auto _ : state) {
    std::memcpy(out.data(), in.data(), len);
    benchmark::ClobberMemory();
  }
  count(state, len);
}

#if TESSALY_BENCH_OPENSSL
void openssl_encode(benchmark::State& state, std::size_t len) {
  const auto& in = random_bytes(len);
  std::vector<unsigned char> out(tessaly_encoded_length(len, 0, 0) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_EncodeBlock(out.data(), in.data(), static_cast<int>(len)));
    benchmark::ClobberMemory();
  }
  count(state, len);
}

void openssl_decode(benchmark::State& state, std::size_t len) {
  const std::string& text = library_text(len, layouts[0]);
  std::vector<unsigned char> out(len + 3);
  for (auto _ : state) {
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) state.SkipWithError("EVP_DecodeBlock failed");
    benchmark::ClobberMemory();
  }
  count(state, text.size());
}
#endif

std::string size_name(std::size_t len) {
  return len >= 1024 * 1024 ? std::to_string(len >> 20) + "MiB"
         : len >= 1024      ? std::to_string(len >> 10) + "KiB"
                            : std::to_string(len) + "B";
}

// "a/b/SIZE", or "a/SIZE" where b is empty.
std::string row(const std::string& a, const std::string& b, std::size_t len) {
  std::string name = a;
  if (!b.empty()) name.append("/").append(b);
  return name.append("/").append(size_name(len));
}

}  // namespace

// Rows are named KERNEL/WHAT_LAYOUT/SIZE, or WHAT/SIZE for the peers that
// run no kernel of ours.
int main(int argc, char** argv) {
  for (const std::size_t len : {small_bytes, large_bytes}) {
    benchmark::RegisterBenchmark(row("memcpy", "", len).c_str(), copy, len);
#if TESSALY_BENCH_OPENSSL
    benchmark::RegisterBenchmark(row("openssl_encode", "", len).c_str(), openssl_encode, len);
    benchmark::RegisterBenchmark(row("openssl_decode", "", len).c_str(), openssl_decode, len);
#endif
  }
  for (const codec_kernel* k : tessaly::available_kernels()) {
    for (const std::size_t len : {small_bytes, large_bytes}) {
      for (const layout& l : layouts) {
        const std::string suffix = l.name;
        benchmark::RegisterBenchmark(row(k->name, "encode" + suffix, len).c_str(), library_encode,
                                     k, len, l);
        benchmark::RegisterBenchmark(row(k->name, "decode" + suffix, len).c_str(), library_decode,
                                     k, len, l);
        if (l.flags != 0) continue;
        benchmark::RegisterBenchmark(row(k->name, "kernel_encode" + suffix, len).c_str(),
                                     kernel_encode, k, len, l);
        benchmark::RegisterBenchmark(row(k->name, "kernel_decode" + suffix, len).c_str(),
                                     kernel_decode, k, len, l);
      }
    }
    benchmark::RegisterBenchmark(row(k->name, "encode", tiny_bytes).c_str(), library_encode, k,
                                 tiny_bytes, layouts[0]);
    benchmark::RegisterBenchmark(row(k->name, "decode", tiny_bytes).c_str(), library_decode, k,
                                 tiny_bytes, layouts[0]);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
