// The search for a grid's crossings on a large scan against the calibration that follows it, both
// on the raster as the program opens it (the default cache of 5120 KB). The scan: 8000 × 6000
// pixels, 24 bits, a grid of 11 × 11 nodes (cells of 760 × 570 pixels from (200, 150)) printed
// with lines 3 pixels wide, turned by 0.8 degrees, bent by a slow wave, with words scattered over
// it and the paper's grain. Read the figures as ratios between the cases of one run.
//
// Counters: CpuMs, the processor time of all threads per run (the machine may be busy: compare it
// with the real time); PeakMB, the process's peak resident memory while the search runs.
#include "BmpFiles.h"
#include "CalibrateRaster.h"
#include "FindNodes.h"
#include "RasterManagers.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 8000, kHeight = 6000, kCells = 10;
constexpr int kOriginX = 200, kOriginY = 150, kStepX = 760, kStepY = 570;
constexpr double kPi = 3.14159265358979323846;

// Where the scanner put the point (u, v) of the sheet.
void Warp(double u, double v, double& x, double& y) {
  const double a = 0.8 * kPi / 180, cx = kWidth / 2.0, cy = kHeight / 2.0;
  x = cx + std::cos(a) * (u - cx) - std::sin(a) * (v - cy) + 12 * std::sin(v / 2500.0) + 9;
  y = cy + std::sin(a) * (u - cx) + std::cos(a) * (v - cy) + 15 * std::sin(u / 3000.0 + 1) - 7;
}

// The scan's darkness, drawn once.
class TScanPicture {
 public:
  TScanPicture() : FDark(size_t(kWidth) * kHeight, 18) {}

  void Stroke(double x0, double y0, double x1, double y1, double width, uint8_t ink) {
    const double reach = width / 2 + 1;
    const int left = std::max(0, int(std::min(x0, x1) - reach));
    const int right = std::min(kWidth - 1, int(std::max(x0, x1) + reach));
    const int top = std::max(0, int(std::min(y0, y1) - reach));
    const int bottom = std::min(kHeight - 1, int(std::max(y0, y1) + reach));
    const double dx = x1 - x0, dy = y1 - y0, length2 = std::max(1e-9, dx * dx + dy * dy);
    for (int y = top; y <= bottom; ++y)
      for (int x = left; x <= right; ++x) {
        const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / length2, 0.0, 1.0);
        const double cover =
            std::clamp(width / 2 + 0.5 - std::hypot(x0 + t * dx - x, y0 + t * dy - y), 0.0, 1.0);
        uint8_t& pixel = FDark[size_t(y) * kWidth + x];
        pixel = std::max(pixel, uint8_t(18 + (ink - 18) * cover));
      }
  }
  // The warped straight line of the sheet from (u0, v0) to (u1, v1).
  void Line(double u0, double v0, double u1, double v1) {
    const int n = int(std::hypot(u1 - u0, v1 - v0) / 20);
    double px = 0, py = 0;
    for (int k = 0; k <= n; ++k) {
      double x, y;
      Warp(u0 + (u1 - u0) * k / n, v0 + (v1 - v0) * k / n, x, y);
      if (k) Stroke(px, py, x, y, 3, 235);
      px = x;
      py = y;
    }
  }
  // Writes a bottom-up 24-bit BMP with yellowish paper and grain.
  void Save(const std::string& name) const {
    const int rowSize = (kWidth * 3 + 3) / 4 * 4;
    std::vector<uint8_t> header(54, 0);
    auto put = [&](int offset, uint32_t value) {
      for (int i = 0; i < 4; ++i) header[size_t(offset + i)] = uint8_t(value >> (8 * i));
    };
    header[0] = 'B';
    header[1] = 'M';
    put(2, uint32_t(54 + int64_t(rowSize) * kHeight));
    put(10, 54);
    put(14, 40);
    put(18, kWidth);
    put(22, kHeight);
    header[26] = 1;
    header[28] = 24;
    std::ofstream file(name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(header.data()), 54);
    std::mt19937 random(3);
    std::vector<uint8_t> row(size_t(rowSize), 0);
    for (int y = kHeight - 1; y >= 0; --y) {
      for (int x = 0; x < kWidth; ++x) {
        const int light = 255 - FDark[size_t(y) * kWidth + x] + int(random() % 17) - 8;
        row[size_t(3 * x)] = uint8_t(std::clamp(light * 88 / 100, 0, 255));
        row[size_t(3 * x + 1)] = uint8_t(std::clamp(light * 97 / 100, 0, 255));
        row[size_t(3 * x + 2)] = uint8_t(std::clamp(light, 0, 255));
      }
      file.write(reinterpret_cast<const char*>(row.data()), rowSize);
    }
  }

 private:
  std::vector<uint8_t> FDark;
};

const QString& ScanFile() {
  static QTemporaryDir dir;
  static const QString name = dir.filePath(QStringLiteral("scan.bmp"));
  if (QFile::exists(name)) return name;
  auto picture = std::make_unique<TScanPicture>();
  std::mt19937 random(5);
  auto uniform = [&](double a, double b) {
    return std::uniform_real_distribution<double>(a, b)(random);
  };
  for (int k = 0; k < 4000; ++k) {  // words of a few strokes each
    double x = uniform(0, kWidth - 150);
    const double y = uniform(0, kHeight - 40), h = uniform(14, 30);
    for (int letter = 0; letter < 5; ++letter, x += 0.8 * h)
      for (int s = 0; s < 3; ++s)
        picture->Stroke(x + uniform(0, 0.6 * h), y + uniform(0, h), x + uniform(0, 0.6 * h),
                        y + uniform(0, h), 2, 220);
  }
  const double left = kOriginX - 0.3 * kStepX, right = kOriginX + (kCells + 0.3) * kStepX;
  const double top = kOriginY - 0.3 * kStepY, bottom = kOriginY + (kCells + 0.3) * kStepY;
  for (int k = 0; k <= kCells; ++k) {
    picture->Line(left, kOriginY + k * kStepY, right, kOriginY + k * kStepY);
    picture->Line(kOriginX + k * kStepX, top, kOriginX + k * kStepX, bottom);
  }
  picture->Save(name.toStdString());
  return name;
}

TGridInfo Lattice() {
  TGridInfo grid;
  grid.SetSize(kCells + 1, kCells + 1);
  grid.SetOrigin(TPoint{kOriginX, kOriginY});
  grid.SetStep(TPoint{kStepX, kStepY});
  return grid;
}

struct TOpened {
  TOpened() : Raster(&Provider, 5120 * 1024, nullptr) {
    RegisterBmpFormat(&Provider);
    Raster.Open(ScanFile());
  }
  TLocalFileProvider Provider;
  TRasterManager Raster;
};

// The peak resident memory since the last reset, in megabytes.
double PeakMegabytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024;
  return 0;
}

void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// The processor time of all the process's threads, in milliseconds.
double ProcessMilliseconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

void FindGridNodes(benchmark::State& state) {
  TOpened opened;
  const TGridInfo grid = Lattice();
  int found = 0;
  ResetPeak();
  const double start = ProcessMilliseconds();
  for (auto _ : state) found = FindGridNodes(opened.Raster, grid).FoundCount();
  state.counters["CpuMs"] = (ProcessMilliseconds() - start) / state.iterations();
  state.counters["Found"] = found;
  state.counters["PeakMB"] = PeakMegabytes();
}
BENCHMARK(FindGridNodes)->Unit(benchmark::kMillisecond)->UseRealTime();

void CalibrateFoundGrid(benchmark::State& state) {
  TGridInfo grid = Lattice();
  {
    TOpened opened;
    ApplyFoundNodes(grid, FindGridNodes(opened.Raster, grid));
  }
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TOpened opened;
    const double start = ProcessMilliseconds();
    state.ResumeTiming();
    CalibrateRaster(opened.Raster, grid);
    state.PauseTiming();
    cpu += ProcessMilliseconds() - start;
    state.ResumeTiming();
  }
  state.counters["CpuMs"] = cpu / state.iterations();
}
BENCHMARK(CalibrateFoundGrid)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
