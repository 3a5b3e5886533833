// Repaint of a 1600 × 1000 view of a 20000 × 20000 raster with the default cache of 5120 KB: the
// whole raster fitted into the view, 1:1 and 4:1, for 8 and 24 bits. The open (with the reduced
// copies made while reading) and the first paint of each view are reported as counters, and the
// open with and without those copies is timed for 1, 8 and 24 bits.
#include "BenchRasters.h"
#include "BmpFiles.h"
#include "Cursors.h"
#include "RasterDraw.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <memory>

namespace {

constexpr int kSize = 20000;
constexpr int kViewWidth = 1600;
constexpr int kViewHeight = 1000;
constexpr int64_t kDefaultCache = 5120 * 1024;

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// A grey-palette or colour raster whose rows differ, with black grid lines every 100 pixels.
QString RasterFile(QTemporaryDir& dir, int bitsPerPixel) {
  const QString name = dir.filePath(QStringLiteral("r%1.bmp").arg(bitsPerPixel));
  const int64_t rowSize = DibRowSize(kSize, bitsPerPixel);
  const QByteArray header = BenchBmpHeader(kSize, bitsPerPixel);
  QFile file(name);
  file.open(QIODevice::WriteOnly);
  file.write(header);
  QByteArray row(static_cast<qsizetype>(rowSize), 0);
  for (int y = 0; y < kSize; ++y) {
    for (int64_t i = 0; i < rowSize; ++i) {
      const int x = static_cast<int>(i * 8 / bitsPerPixel);
      row[static_cast<qsizetype>(i)] =
          static_cast<char>(x % 100 == 0 || y % 100 == 0 ? 0 : 128 + (i * 7 + y) % 128);
    }
    file.write(row);
  }
  return name;
}

struct TOpenRaster {
  explicit TOpenRaster(int bitsPerPixel) : Raster(&Provider, kDefaultCache, nullptr) {
    RegisterBmpFormat(&Provider);
    const QString name = RasterFile(Dir, bitsPerPixel);
    Raster.Pictures();
    const auto start = std::chrono::steady_clock::now();
    Raster.Open(name);
    OpenMs = MillisecondsSince(start);
  }
  QTemporaryDir Dir;
  TLocalFileProvider Provider;
  TRasterManager Raster;
  double OpenMs = 0;
  std::map<double, double> FirstPaintMs;
};

TOpenRaster& Opened(int bitsPerPixel) {
  static std::map<int, std::unique_ptr<TOpenRaster>> rasters;
  std::unique_ptr<TOpenRaster>& r = rasters[bitsPerPixel];
  if (!r) r = std::make_unique<TOpenRaster>(bitsPerPixel);
  return *r;
}

void Repaint(benchmark::State& state, int bitsPerPixel, double zoom) {
  TOpenRaster& opened = Opened(bitsPerPixel);
  TDeviceInfo device;
  const TRect all{0, 0, kViewWidth, kViewHeight};
  device.SetDevice(TPoint{96, 96}, all);
  device.SetClipRect(all);
  SetCenteredView(device, zoom, TWorldPoint{kSize / 2.0, kSize / 2.0});
  QImage image(kViewWidth, kViewHeight, QImage::Format_RGB32);
  TCanvas canvas(image);
  if (!opened.FirstPaintMs.count(zoom)) {
    const auto start = std::chrono::steady_clock::now();
    opened.Raster.Draw(device, canvas);
    opened.FirstPaintMs[zoom] = MillisecondsSince(start);
  }
  for (auto _ : state) {
    ResetCanvas(canvas);
    opened.Raster.Draw(device, canvas);
  }
  state.counters["open_ms"] = opened.OpenMs;
  state.counters["first_paint_ms"] = opened.FirstPaintMs[zoom];
}

// Opening the same file again, with and without the reduced copies made while reading.
void Open(benchmark::State& state, int bitsPerPixel, bool pictures) {
  TOpenRaster& opened = Opened(bitsPerPixel);
  const QString name = opened.Dir.filePath(QStringLiteral("r%1.bmp").arg(bitsPerPixel));
  for (auto _ : state) {
    TRasterManager raster(&opened.Provider, kDefaultCache, nullptr);
    if (pictures) raster.Pictures();
    raster.Open(name);
  }
}

// Fitting a square raster into the view leaves an eighth of it free on every side.
constexpr double kFitted = static_cast<double>(kViewHeight) / (kSize * 1.25);

}  // namespace

BENCHMARK_CAPTURE(Repaint, fitted_8bit, 8, kFitted)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Repaint, one_to_one_8bit, 8, 1.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Repaint, four_to_one_8bit, 8, 4.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Repaint, fitted_24bit, 24, kFitted)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Repaint, one_to_one_24bit, 24, 1.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Repaint, four_to_one_24bit, 24, 4.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, plain_1bit, 1, false)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Open, with_pictures_1bit, 1, true)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Open, plain_8bit, 8, false)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Open, with_pictures_8bit, 8, true)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Open, plain_24bit, 24, false)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(Open, with_pictures_24bit, 24, true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
