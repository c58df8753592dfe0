// HRC block speed in MB/s of uncompressed data, on design records and on a
// few megabytes of mixed data, with lz4 on the same data as a reference.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "design_builder.h"
#include "files/hrc.h"
#include "files/resource.h"

#if defined(ZM_BENCH_LZ4)
#include <lz4.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// A plain growable memory stream, so that the figures show the codec rather
// than the storage behind it.
class VectorStream : public zm::TResource {
 public:
  VectorStream() : TResource("bench:", zm::rmReadWrite) {}
  explicit VectorStream(Bytes content) : VectorStream() { data = std::move(content); }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  bool Eof() override { return position >= GetLength(); }
  int32_t GetPosition() override { return position; }
  void SetPosition(int32_t p) override { position = p; }
  int32_t GetLength() override { return static_cast<int32_t>(data.size()); }
  void SetLength(int32_t n) override { data.resize(static_cast<size_t>(n)); }
  void Read(void* buffer, int32_t count) override {
    if (position + count > GetLength()) {
      throw zm::ERscReadPastEnd(zm::Format(zm::msg::rsc::sRscReadPastEnd, {Name}));
    }
    if (count > 0) std::memcpy(buffer, data.data() + position, static_cast<size_t>(count));
    position += count;
  }
  void Write(const void* buffer, int32_t count) override {
    if (position + count > GetLength()) data.resize(static_cast<size_t>(position + count));
    if (count > 0) std::memcpy(data.data() + position, buffer, static_cast<size_t>(count));
    position += count;
  }
  Bytes data;
  int32_t position = 0;
};

// A furnished hall: most slots used, as a host would save it.
Bytes DesignRecord(uint32_t seed) {
  std::mt19937 rng(seed);
  auto real = [&](double scale) { return scale * static_cast<double>(rng() % 10000) / 10000.0; };
  zm::test::DesignBuilder d;
  d.Title("Hall " + std::to_string(seed));
  int materials[12];
  for (int i = 0; i < 12; ++i) {
    materials[i] = d.AddMaterial("Material " + std::to_string(i), real(1), real(0.3), real(1));
  }
  // Walls share their corners, as in a drawn plan with 200 point slots.
  double cx[120], cy[120];
  for (int i = 0; i < 120; ++i) {
    cx[i] = real(40);
    cy[i] = real(30);
  }
  for (int i = 0; i < 140; ++i) {
    const int a = i % 120, b = (i + 1 + static_cast<int>(rng() % 3)) % 120;
    d.AddWall(cx[a], cy[a], cx[b], cy[b], materials[rng() % 12]);
  }
  for (int i = 0; i < 8; ++i) d.AddEmitter(real(40), real(30), real(6.28), 5000, real(6.28));
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&d.Record());
  return Bytes(raw, raw + sizeof(TDesignRecord));
}

// Design records, text, random bytes and runs, in pieces of varied size.
Bytes Mixed(size_t size) {
  std::mt19937 rng(42);
  static const char* words[] = {"wall ",    "ray ", "reflection ", "the ",     "absorbs ",
                                "emitter ", "of ",  "room\n",      "diffuse ", "air "};
  Bytes out;
  while (out.size() < size) {
    switch (rng() % 4) {
      case 0: {
        Bytes record = DesignRecord(rng());
        out.insert(out.end(), record.begin(), record.end());
        break;
      }
      case 1:
        for (size_t n = rng() % 60000; n > 0; --n) {
          const char* w = words[rng() % 10];
          out.insert(out.end(), w, w + std::strlen(w));
        }
        break;
      case 2:
        for (size_t n = rng() % 40000; n > 0; --n) out.push_back(static_cast<uint8_t>(rng()));
        break;
      default:
        out.insert(out.end(), rng() % 20000, static_cast<uint8_t>(rng()));
        break;
    }
  }
  out.resize(size);
  return out;
}

const Bytes& Input(int which) {
  static const Bytes design = DesignRecord(1);
  static const Bytes mixed = Mixed(4 << 20);
  return which == 0 ? design : mixed;
}

const char* NameOf(int which) {
  return which == 0 ? "design record" : "mixed 4 MB";
}

void HrcCompress(benchmark::State& state) {
  const Bytes& input = Input(static_cast<int>(state.range(0)));
  VectorStream stream;
  for (auto _ : state) {
    stream.data.clear();
    stream.position = 0;
    zm::HrcWriteBlock(stream, input.data(), static_cast<int32_t>(input.size()));
    benchmark::DoNotOptimize(stream.data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.counters["ratio"] = static_cast<double>(stream.data.size()) / input.size();
  state.SetLabel(NameOf(static_cast<int>(state.range(0))));
}

void HrcDecompress(benchmark::State& state) {
  const Bytes& input = Input(static_cast<int>(state.range(0)));
  VectorStream stream;
  zm::HrcWriteBlock(stream, input.data(), static_cast<int32_t>(input.size()));
  Bytes output(input.size());
  for (auto _ : state) {
    stream.position = 0;
    zm::HrcReadBlock(stream, output);
    benchmark::DoNotOptimize(output.data());
  }
  if (output != input) state.SkipWithError("round trip differs");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.SetLabel(NameOf(static_cast<int>(state.range(0))));
}

// The library's own allocating read, which checks the tokens before it
// allocates and so walks them twice.
void HrcReadNew(benchmark::State& state) {
  const Bytes& input = Input(static_cast<int>(state.range(0)));
  VectorStream stream;
  zm::HrcWriteBlock(stream, input.data(), static_cast<int32_t>(input.size()));
  for (auto _ : state) {
    stream.position = 0;
    Bytes output = zm::HrcReadNewBlock(stream);
    benchmark::DoNotOptimize(output.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.SetLabel(NameOf(static_cast<int>(state.range(0))));
}

BENCHMARK(HrcCompress)->Arg(0)->Arg(1);
BENCHMARK(HrcDecompress)->Arg(0)->Arg(1);
BENCHMARK(HrcReadNew)->Arg(0)->Arg(1);

#if defined(ZM_BENCH_LZ4)
void Lz4Compress(benchmark::State& state) {
  const Bytes& input = Input(static_cast<int>(state.range(0)));
  std::vector<char> out(static_cast<size_t>(LZ4_compressBound(static_cast<int>(input.size()))));
  int size = 0;
  for (auto _ : state) {
    size = LZ4_compress_default(reinterpret_cast<const char*>(input.data()), out.data(),
                                static_cast<int>(input.size()), static_cast<int>(out.size()));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.counters["ratio"] = static_cast<double>(size) / input.size();
  state.SetLabel(NameOf(static_cast<int>(state.range(0))));
}

void Lz4Decompress(benchmark::State& state) {
  const Bytes& input = Input(static_cast<int>(state.range(0)));
  std::vector<char> packed(static_cast<size_t>(LZ4_compressBound(static_cast<int>(input.size()))));
  const int size =
      LZ4_compress_default(reinterpret_cast<const char*>(input.data()), packed.data(),
                           static_cast<int>(input.size()), static_cast<int>(packed.size()));
  Bytes output(input.size());
  for (auto _ : state) {
    LZ4_decompress_safe(packed.data(), reinterpret_cast<char*>(output.data()), size,
                        static_cast<int>(output.size()));
    benchmark::DoNotOptimize(output.data());
  }
  if (output != input) state.SkipWithError("round trip differs");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.SetLabel(NameOf(static_cast<int>(state.range(0))));
}

BENCHMARK(Lz4Compress)->Arg(0)->Arg(1);
BENCHMARK(Lz4Decompress)->Arg(0)->Arg(1);
#endif

}  // namespace

BENCHMARK_MAIN();
