// Any bytes as a grid file given to velmora-cli calibrate: parsed and checked, laid over a small
// raster whose resolution the input's length chooses, then the raster is calibrated and clipped.
#include "CalibrateRaster.h"
#include "FuzzFiles.h"
#include "GridFiles.h"
#include "RasterManagers.h"

#include <QByteArray>

#include <climits>

namespace {

// Resolutions a BMP file may state, the absurd ones included.
constexpr int kResolutions[8] = {0, 1, -1, 3780, 2835, 118110, INT_MAX, INT_MIN};

// A 24 × 16 raster of 24 bits: every colour, white included, can be written.
QByteArray SmallRaster() {
  const int width = 24, height = 16, row = 72;
  QByteArray bytes(54 + row * height, '\0');
  auto* p = reinterpret_cast<uint8_t*>(bytes.data());
  const auto put32 = [&](int offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[offset + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  p[0] = 'B';
  p[1] = 'M';
  put32(2, static_cast<uint32_t>(bytes.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, width);
  put32(22, height);
  p[26] = 1;
  p[28] = 24;
  for (int i = 54; i < bytes.size(); ++i) p[i] = static_cast<uint8_t>(i * 37);
  return bytes;
}

TRasterManager& BaseRaster() {
  static TMemoryFileProvider provider;
  static TRasterManager* raster = [] {
    const QByteArray bytes = SmallRaster();
    provider.SetBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
    auto* r = new TRasterManager(&provider, TPartCache::PartUnit, nullptr);
    r->Open("base.bmp");
    return r;
  }();
  return *raster;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TRasterManager& base = BaseRaster();
  try {
    const TGridFile file = ParseGridFile(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), "fuzz.json");
    TRasterManager raster(base.Provider(), TPartCache::PartUnit, nullptr);
    raster.CopyFrom(base);
    raster.SetXPelsPerMeter(kResolutions[size % 8]);
    raster.SetYPelsPerMeter(kResolutions[size / 8 % 8]);
    TGridInfo grid = MakeGrid(file, raster);
    CalibrateRaster(raster, grid);
    ClipRasterToGrid(raster, grid);
  } catch (const Exception&) {
    // A refused grid is a correct answer; only crashes, undefined behaviour and leaks are not.
  }
  return 0;
}
