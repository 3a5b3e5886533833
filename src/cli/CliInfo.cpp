#include "BmpFiles.h"
#include "CliCommands.h"
#include "CliRasterOptions.h"

#include <cmath>

namespace {

QString Resolution(int32_t x, int32_t y) {
  if (x == 0 && y == 0) return QStringLiteral("не указано");
  const auto dpi = [](int32_t ppm) { return QString::number(std::lround(ppm * 0.0254)); };
  return QStringLiteral("%1 × %2 точек на метр (%3 × %4 точек на дюйм)")
      .arg(x)
      .arg(y)
      .arg(dpi(x), dpi(y));
}

int RunInfo(const QStringList& args) {
  const TCliRasterOptions options = ParseRasterOptions(args, TCliExtra::None);
  if (options.Positional.size() != 1) throw ECliUsage(QStringLiteral("нужен один файл"));
  const QString& fileName = options.Positional.front();
  TLocalFileProvider provider;
  RegisterBmpFormat(&provider);
  const std::unique_ptr<TRasterFile> file = OpenRasterFile(&provider, fileName);
  const std::unique_ptr<TRasterFileDib> corner = file->GetDibSection(0, 0, 1, 1);
  const TBitmapInfoHeader* info = InfoHeaderOf(corner->Header.data());
  QStringList lines = {
      QStringLiteral("Файл: %1").arg(fileName),
      QStringLiteral("Размер: %1 × %2 пикселей").arg(file->GetWidth()).arg(file->GetHeight()),
      QStringLiteral("Битов на пиксель: %1").arg(file->GetBitsPerPixel()),
      QStringLiteral("Разрешение: %1")
          .arg(Resolution(info->biXPelsPerMeter, info->biYPelsPerMeter)),
  };
  file->GetHeaderInfo(lines);
  if (!options.Quiet) CliPrint(stdout, lines.join(u'\n') + u'\n');
  return 0;
}

}  // namespace

TCliCommand CliInfoCommand() {
  return {QStringLiteral("info"), QStringLiteral("info FILE.bmp"),
          QStringLiteral("размер, глубина, разрешение и заголовок растра"),
          QStringLiteral("Печатает размер растра, число битов на пиксель, разрешение и поля "
                         "заголовка BMP.\n"
                         "  --quiet  ничего не печатать, только проверить, что файл читается"),
          &RunInfo};
}
