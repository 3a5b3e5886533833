// The whole job on a large TIFF as the program's window does it, for tiff.sh: open with the
// pictures of the parts that drawing keeps, calibrate over the grid file, save as a Deflate TIFF
// (or as a BMP, for an OUT that ends in .bmp: the same job on BMP, to compare with).
//   velmora_tiff_job IN OUT.tif|OUT.bmp GRID.json [CACHE_KB]
// Prints "open SECONDS", "calibrate SECONDS" and "save SECONDS".
#include "BmpFiles.h"
#include "CalibrateRaster.h"
#include "GdalFiles.h"
#include "GridFiles.h"
#include "RasterManagers.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: velmora_tiff_job IN OUT.tif|OUT.bmp GRID.json [CACHE_KB]\n");
    return 2;
  }
  const int64_t cacheKb = argc > 4 ? std::atoll(argv[4]) : 5120;
  TLocalFileProvider provider;
  RegisterBmpFormat(&provider);
  RegisterGdalFormats(&provider);
  try {
    using TClock = std::chrono::steady_clock;
    const auto seconds = [](TClock::time_point a, TClock::time_point b) {
      return std::chrono::duration<double>(b - a).count();
    };
    TRasterManager raster(&provider, cacheKb * 1024, nullptr);
    raster.Pictures();
    const auto start = TClock::now();
    raster.Open(QString::fromLocal8Bit(argv[1]));
    const auto opened = TClock::now();
    TGridInfo grid = MakeGrid(ReadGridFile(QString::fromLocal8Bit(argv[3])), raster);
    CalibrateRaster(raster, grid);
    const auto calibrated = TClock::now();
    const QString out = QString::fromLocal8Bit(argv[2]);
    raster.Save(out, {provider.SaveFormatByExt(out).value_or(TRasterFormat::Tiff),
                      TTiffCompression::Deflate});
    const auto saved = TClock::now();
    std::printf("open %.3f\ncalibrate %.3f\nsave %.3f\n", seconds(start, opened),
                seconds(opened, calibrated), seconds(calibrated, saved));
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
