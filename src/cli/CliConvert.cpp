#include "BmpFiles.h"
#include "CliCommands.h"
#include "CliRasterOptions.h"
#include "MapOutputs.h"
#include "RasterManagers.h"

#include <QFileInfo>

namespace {

int RunConvert(const QStringList& args) {
  const TCliRasterOptions options = ParseRasterOptions(args, TCliExtra::Resolution);
  if (options.Positional.size() != 2)
    throw ECliUsage(QStringLiteral("нужны два файла: исходный и результат"));
  TCliRaster cli(options);
  const TSaveOptions save = cli.OutputFormat(options.Positional[1]);
  TRasterManager& raster = cli.Raster();
  cli.Open(options.Positional[0]);
  if (options.Resolution) {
    raster.SetXPelsPerMeter(options.Resolution->first);
    raster.SetYPelsPerMeter(options.Resolution->second);
  }
  // Written over the file it was read from, the picture is still where that file's world files
  // put it; another file's are for another picture.
  const bool again = QFileInfo(options.Positional[0]) == QFileInfo(options.Positional[1]);
  SaveOnTheMap(raster, options.Positional[1], save, std::nullopt,
               again ? TOldWorldFiles::Keep : TOldWorldFiles::Remove);
  return 0;
}

}  // namespace

TCliCommand CliConvertCommand() {
  return {
      QStringLiteral("convert"),
      QStringLiteral("convert IN OUT.bmp|OUT.tif [--ppm X Y | --dpi X Y] "
                     "[--compress deflate|lzw|none] [--cache KB]"),
      QStringLiteral("прочитать растр и записать его заново, по желанию с новым разрешением"),
      QStringLiteral(
          "Читает растр так же, как программа (BMP, TIFF, PNG, JPEG или страницу PDF), и\n"
          "сохраняет его в BMP или TIFF, смотря по расширению результата (.bmp, .tif,\n"
          ".tiff): через временный файл рядом с результатом (OUT.XXXXXX.~bm), который\n"
          "затем получает имя результата. При ошибке файл результата не создаётся и не\n"
          "меняется. TIFF пишется тайлами 256 × 256, с разрешением растра.\n"
          "  --ppm X Y     разрешение в точках на метр\n"
          "  --dpi X Y     разрешение в точках на дюйм\n"
          "  --compress C  сжатие TIFF: deflate (по умолчанию), lzw или none\n") +
          CliPageHelp() +
          QStringLiteral("  --cache KB    память для частей растра, Кб (по умолчанию 5120)\n"
                         "  --progress    показывать ход работы, даже когда stderr не терминал\n"
                         "  --quiet       не показывать ход работы"),
      &RunConvert};
}
