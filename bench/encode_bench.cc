// Compression throughput on text, binary and incompressible data: one whole
// input per iteration into an output buffer made beforehand, on a context
// made beforehand, as the packing tool compresses an entry.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/corpus.h"
#include "codec/encoder.h"

namespace {

void encode_throughput(benchmark::State& state, const std::string& input) {
  CodecContext* context = nullptr;
  if (codec_create(&context) != CODEC_OK) {
    state.SkipWithError("no context");
    return;
  }
  std::string in = input;
  std::string out(in.size() + in.size() / 8 + 64, '\0');
  uint32_t stream_size = 0;
  for (auto _ : state) {
    auto* ip = reinterpret_cast<uint8_t*>(in.data());
    auto* op = reinterpret_cast<uint8_t*>(out.data());
    ByteRange input_range{ip, ip + in.size(), 0, ip, int32_t(in.size())};
    ByteRange output_range{op, op + out.size(), 0, op, int32_t(out.size())};
    if (codec_encode(context, &input_range, &output_range) != 1) {
      state.SkipWithError("codec_encode failed");
      break;
    }
    stream_size = output_range.count;
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
  state.counters["ratio"] = double(stream_size) / double(in.size());
  codec_release(&context);
}

void BM_EncodeText(benchmark::State& state) { encode_throughput(state, corpus_text()); }
void BM_EncodeBinary(benchmark::State& state) { encode_throughput(state, corpus_binary()); }
void BM_EncodeRandom(benchmark::State& state) { encode_throughput(state, corpus_random()); }

BENCHMARK(BM_EncodeText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeRandom)->Unit(benchmark::kMillisecond);

}  // namespace
