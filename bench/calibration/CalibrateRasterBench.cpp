// The calibration alone of a 4000 × 3000 raster of 8 and 24 bits with a 10 × 10 grid of moved
// nodes: with a cache that holds the whole raster (the mapping and the pixels only) and with the
// default cache of 5120 KB (the parts going through the swap file as well).
#include "BenchRasters.h"
#include "BmpFiles.h"
#include "CalibrateRaster.h"
#include "RasterManagers.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

QString RasterFile(int bitsPerPixel) {
  static QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("r%1.bmp").arg(bitsPerPixel));
  if (QFile::exists(name)) return name;
  QByteArray bytes = BenchBmpHeader(kWidth, bitsPerPixel);
  // The header is square; the height is set apart.
  for (int i = 0; i < 4; ++i) bytes[22 + i] = static_cast<char>(kHeight >> (8 * i));
  const int64_t rowSize = DibRowSize(kWidth, bitsPerPixel);
  QByteArray row(static_cast<qsizetype>(rowSize), 0);
  QFile file(name);
  file.open(QIODevice::WriteOnly);
  file.write(bytes);
  for (int y = 0; y < kHeight; ++y) {
    for (qsizetype i = 0; i < row.size(); ++i) row[i] = static_cast<char>(i * 7 + y);
    file.write(row);
  }
  return name;
}

TGridInfo MovedGrid() {
  TGridInfo grid;
  grid.SetSize(11, 11);
  grid.SetOrigin(TPoint{100, 75});
  grid.SetStep(TPoint{380, 285});
  std::mt19937 random(11);
  std::uniform_int_distribution<int> offset(-8, 8);
  for (int j = 0; j < grid.NY; ++j)
    for (int i = 0; i < grid.NX; ++i)
      grid.NodeAt(i, j).Offset = TPoint{offset(random), offset(random)};
  return grid;
}

void Calibrate(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  const int64_t cache = state.range(1) * 1024;
  const QString name = RasterFile(bits);
  const TGridInfo grid = MovedGrid();
  TLocalFileProvider provider;
  RegisterBmpFormat(&provider);
  for (auto _ : state) {
    state.PauseTiming();
    auto raster = std::make_unique<TRasterManager>(&provider, cache, nullptr);
    raster->Open(name);
    state.ResumeTiming();
    CalibrateRaster(*raster, grid);
    state.PauseTiming();
    raster.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(Calibrate)
    ->ArgNames({"bits", "cacheKB"})
    ->Args({8, 64 << 10})
    ->Args({24, 64 << 10})
    ->Args({8, 5120})
    ->Args({24, 5120})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
