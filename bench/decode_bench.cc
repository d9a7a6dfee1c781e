// Decoding throughput on text and binary data: a whole stream per iteration,
// decoded in slices of 8192 bytes into one output buffer, as the installer
// decodes an entry. The streams are made by the project's compressor when the
// program starts: the text from the files below /usr/include, the binary
// from shared libraries, about 32 MiB each, concatenated in path order so
// that every run measures the same bytes.
//
// With ZOLT_BENCH_REFERENCE_DECODER defined (and tests/codec/
// reference_decoder.cc among the sources), the same streams also go through
// the step-by-step reference decoder, so that one run shows the ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"
#ifdef ZOLT_BENCH_REFERENCE_DECODER
#include "tests/codec/reference_decoder.h"
#endif

namespace {

namespace fs = std::filesystem;

constexpr size_t INPUT_SIZE = size_t(32) << 20;

// INPUT_SIZE bytes of the regular files below `root` whose name passes
// `wanted`, in path order; `fallback` bytes stand in for what is missing.
std::string gather(const char* root, bool (*wanted)(const fs::path&), char fallback) {
  std::vector<fs::path> paths;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_regular_file(ignored) && !it->is_symlink(ignored) && wanted(it->path())) paths.push_back(it->path());
  }
  std::sort(paths.begin(), paths.end());
  std::string bytes;
  std::vector<char> buffer(1 << 16);
  for (const auto& path : paths) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) continue;
    size_t n;
    while (bytes.size() < INPUT_SIZE && (n = fread(buffer.data(), 1, buffer.size(), f)) > 0) bytes.append(buffer.data(), n);
    fclose(f);
    if (bytes.size() >= INPUT_SIZE) break;
  }
  bytes.resize(INPUT_SIZE, fallback);
  return bytes;
}

bool any_file(const fs::path&) { return true; }
bool shared_library(const fs::path& p) { return p.filename().string().find(".so") != std::string::npos; }

struct Sample {
  std::string plain;
  std::string stream;  // empty when compressing failed
};

Sample compress(std::string plain) {
  Sample s{std::move(plain), {}};
  CodecContext* context = nullptr;
  if (codec_create(&context) != CODEC_OK) return s;
  std::string out(s.plain.size() + s.plain.size() / 8 + 64, '\0');
  auto* ip = reinterpret_cast<uint8_t*>(s.plain.data());
  auto* op = reinterpret_cast<uint8_t*>(out.data());
  ByteRange in{ip, ip + s.plain.size(), 0, ip, int32_t(s.plain.size())};
  ByteRange result{op, op + out.size(), 0, op, int32_t(out.size())};
  if (codec_encode(context, &in, &result) == 1) s.stream = out.substr(0, result.count);
  codec_release(&context);
  return s;
}

const Sample& text() {
  static const Sample s = compress(gather("/usr/include", any_file, ' '));
  return s;
}
const Sample& binary() {
  static const Sample s = compress(gather("/usr/lib/x86_64-linux-gnu", shared_library, '\0'));
  return s;
}

using Decoder = int32_t (*)(CodecContext*, ByteRange*, ByteRange*);

void decode_throughput(benchmark::State& state, const Sample& sample, Decoder decode) {
  if (sample.stream.empty()) {
    state.SkipWithError("the compressor failed");
    return;
  }
  std::vector<uint8_t> stream(sample.stream.begin(), sample.stream.end());
  std::vector<uint8_t> out(sample.plain.size());
  for (auto _ : state) {
    CodecContext* context = nullptr;
    if (codec_create(&context) != CODEC_OK) {
      state.SkipWithError("no context");
      break;
    }
    ByteRange in{stream.data(), stream.data() + stream.size(), 0, stream.data(), int32_t(stream.size())};
    for (size_t done = 0; done < out.size();) {
      const size_t slice = std::min<size_t>(out.size() - done, CODEC_WINDOW);
      ByteRange part{out.data() + done, out.data() + done + slice, 0, out.data() + done, int32_t(slice)};
      if (decode(context, &in, &part) != CODEC_OK) {
        state.SkipWithError("decoding failed");
        break;
      }
      done += slice;
    }
    codec_release(&context);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  if (memcmp(out.data(), sample.plain.data(), out.size()) != 0) state.SkipWithError("decoded bytes differ");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
  state.counters["ratio"] = double(sample.stream.size()) / double(sample.plain.size());
}

void BM_DecodeText(benchmark::State& state) { decode_throughput(state, text(), codec_decode); }
void BM_DecodeBinary(benchmark::State& state) { decode_throughput(state, binary(), codec_decode); }
BENCHMARK(BM_DecodeText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBinary)->Unit(benchmark::kMillisecond);

#ifdef ZOLT_BENCH_REFERENCE_DECODER
void BM_DecodeTextReference(benchmark::State& state) { decode_throughput(state, text(), reference_decode); }
void BM_DecodeBinaryReference(benchmark::State& state) { decode_throughput(state, binary(), reference_decode); }
BENCHMARK(BM_DecodeTextReference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBinaryReference)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
