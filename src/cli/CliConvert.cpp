#include "BmpFiles.h"
#include "CliCommands.h"
#include "CliRasterOptions.h"
#include "RasterManagers.h"

namespace {

int RunConvert(const QStringList& args) {
  const TCliRasterOptions options = ParseRasterOptions(args, TCliExtra::Resolution);
  if (options.Positional.size() != 2)
    throw ECliUsage(QStringLiteral("нужны два файла: исходный и результат"));
  TCliRaster cli(options);
  TRasterManager& raster = cli.Raster();
  raster.Open(options.Positional[0]);
  if (options.Resolution) {
    raster.SetXPelsPerMeter(options.Resolution->first);
    raster.SetYPelsPerMeter(options.Resolution->second);
  }
  raster.Save(options.Positional[1]);
  return 0;
}

}  // namespace

TCliCommand CliConvertCommand() {
  return {QStringLiteral("convert"),
          QStringLiteral("convert IN.bmp OUT.bmp [--ppm X Y | --dpi X Y] [--cache KB]"),
          QStringLiteral("прочитать растр и записать его заново, по желанию с новым разрешением"),
          QStringLiteral(
              "Читает растр так же, как программа, и сохраняет его: через временный файл\n"
              "рядом с результатом (OUT.XXXXXX.~bm), который затем получает имя результата.\n"
              "При ошибке файл результата не создаётся и не меняется.\n"
              "  --ppm X Y     разрешение в точках на метр\n"
              "  --dpi X Y     разрешение в точках на дюйм\n"
              "  --cache KB    память для частей растра, Кб (по умолчанию 5120)\n"
              "  --progress    показывать ход работы, даже когда stderr не терминал\n"
              "  --quiet       не показывать ход работы"),
          &RunConvert};
}
