// The kernels in memory: input bytes per second for each kernel this CPU
// can run, encoding and decoding, unbroken and in 76-column lines (ended
// by LF, CR LF, or a space and LF).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/kernels.h"

namespace {

using tessaly::codec_kernel;

// About one stream buffer's worth, so that the data stays in cache.
constexpr std::size_t input_bytes = 3 * 64 * 1024;
constexpr std::size_t line_chars = 76;

std::vector<std::uint8_t> random_input() {
  std::mt19937 rng(42);
  std::vector<std::uint8_t> bytes(input_bytes);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

std::string encoded(const std::vector<std::uint8_t>& bytes, std::size_t line, const char* brk) {
  std::string text(bytes.size() / 3 * 4 * 2, '\0');
  text.resize(tessaly::scalar_kernel.encode(bytes.data(), bytes.size(), text.data(), 0));
  if (line == 0) return text;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += line) out += text.substr(i, line) + brk;
  return out;
}

void encode(benchmark::State& state, const codec_kernel* kernel, std::size_t line) {
  const auto in = random_input();
  std::vector<char> out(in.size() / 3 * 4 * 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(kernel->encode(in.data(), in.size(), out.data(), line));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void decode(benchmark::State& state, const codec_kernel* kernel, std::size_t line,
            const char* brk) {
  const std::string text = encoded(random_input(), line, brk);
  std::vector<std::uint8_t> out(text.size() / 4 * 3);
  for (auto _ : state) {
    const auto run = kernel->decode(text.data(), text.size(), out.data());
    if (run.written != input_bytes) state.SkipWithError("decode stopped early");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

}  // namespace

int main(int argc, char** argv) {
  for (const codec_kernel* k : tessaly::available_kernels()) {
    const std::string name = k->name;
    benchmark::RegisterBenchmark((name + "/encode").c_str(), encode, k, std::size_t{0});
    benchmark::RegisterBenchmark((name + "/encode_lines76").c_str(), encode, k, line_chars);
    benchmark::RegisterBenchmark((name + "/decode").c_str(), decode, k, std::size_t{0}, "");
    benchmark::RegisterBenchmark((name + "/decode_lines76").c_str(), decode, k, line_chars, "\n");
    benchmark::RegisterBenchmark((name + "/decode_crlf76").c_str(), decode, k, line_chars, "\r\n");
    benchmark::RegisterBenchmark((name + "/decode_spaces76").c_str(), decode, k, line_chars, " \n");
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
