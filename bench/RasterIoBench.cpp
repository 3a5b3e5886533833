// Times opening and saving a raster through the raster manager, as velmora-cli convert does:
// velmora_io_bench IN.bmp OUT.bmp [CACHE_KB] [--pictures]. Prints "open SECONDS" and
// "save SECONDS"; OUT "-" only opens. With --pictures the raster keeps pictures of its parts for
// drawing, as the program's window has it: open then reads every pixel.
#include "BmpFiles.h"
#include "RasterManagers.h"

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: velmora_io_bench IN.bmp OUT.bmp [CACHE_KB]\n");
    return 2;
  }
  const int64_t cacheKb = argc > 3 ? std::atoll(argv[3]) : 5120;
  const bool pictures = argc > 4 && std::string(argv[4]) == "--pictures";
  TLocalFileProvider provider;
  RegisterBmpFormat(&provider);
  try {
    using TClock = std::chrono::steady_clock;
    TRasterManager raster(&provider, cacheKb * 1024, nullptr);
    if (pictures) raster.Pictures();
    const auto start = TClock::now();
    raster.Open(QString::fromLocal8Bit(argv[1]));
    const auto opened = TClock::now();
    if (std::string(argv[2]) != "-") raster.Save(QString::fromLocal8Bit(argv[2]));
    const auto saved = TClock::now();
    std::printf("open %.3f\nsave %.3f\n", std::chrono::duration<double>(opened - start).count(),
                std::chrono::duration<double>(saved - opened).count());
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
