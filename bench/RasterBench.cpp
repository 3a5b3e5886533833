// The pixel access that clip and calibration run on, per pixel.
#include "BenchRasters.h"
#include "BmpFiles.h"
#include "RasterManagers.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kSize = 2000;

// A kSize × kSize raster of the depth with a grey palette, written once per depth.
QString RasterFile(int bitsPerPixel) {
  static QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("r%1.bmp").arg(bitsPerPixel));
  if (QFile::exists(name)) return name;
  const int rowSize = static_cast<int>(DibRowSize(kSize, bitsPerPixel));
  QByteArray bytes = BenchBmpHeader(kSize, bitsPerPixel);
  const int palette = bytes.size() - 54;
  bytes.resize(bytes.size() + rowSize * kSize, '\0');
  for (int i = 54 + palette; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4099);
  QFile file(name);
  file.open(QIODevice::WriteOnly);
  file.write(bytes);
  return name;
}

struct TOpened {
  explicit TOpened(int bitsPerPixel, int64_t cacheSize = int64_t{64} << 20)
      : Raster(&Provider, cacheSize, nullptr) {
    RegisterBmpFormat(&Provider);
    Raster.Open(RasterFile(bitsPerPixel));
  }
  TLocalFileProvider Provider;
  TRasterManager Raster;
};

void GetPixelRowByRow(benchmark::State& state) {
  TOpened opened(static_cast<int>(state.range(0)));
  uint32_t sum = 0;
  for (auto _ : state)
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) sum += opened.Raster.GetPixel(x, y);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(GetPixelRowByRow)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

void SetPixelRowByRow(benchmark::State& state) {
  TOpened opened(static_cast<int>(state.range(0)));
  for (auto _ : state)
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x)
        opened.Raster.SetPixel(x, y, static_cast<uint32_t>((x + y) & 255) * 0x010101u);
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(SetPixelRowByRow)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

// A clip that keeps all but a margin, with the default cache: copy, rebuild and move every pixel.
void ClipMargin(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    TOpened opened(static_cast<int>(state.range(0)), 5120 * 1024);
    state.ResumeTiming();
    opened.Raster.Clip({3, 5, kSize - 7, kSize - 2});
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(ClipMargin)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
