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
  RegisterCliFormats(&provider);
  const std::unique_ptr<TRasterFile> file = OpenRasterFile(&provider, fileName, options.Open);
  const std::unique_ptr<TRasterFileDib> corner = file->GetDibSection(0, 0, 1, 1);
  const TBitmapInfoHeader* info = InfoHeaderOf(corner->Header.data());
  const TRasterFileFormat format = file->Format();
  QStringList lines = {
      QStringLiteral("Файл: %1").arg(fileName),
      QStringLiteral("Формат: %1").arg(format.Name),
      QStringLiteral("Сжатие: %1").arg(format.Compression),
      QStringLiteral("Размещение: %1").arg(format.Layout),
      QStringLiteral("Глубина в файле: %1").arg(format.Depth),
      QStringLiteral("Размер: %1 × %2 пикселей").arg(file->GetWidth()).arg(file->GetHeight()),
      QStringLiteral("Битов на пиксель: %1").arg(file->GetBitsPerPixel()),
      QStringLiteral("Разрешение: %1")
          .arg(Resolution(info->biXPelsPerMeter, info->biYPelsPerMeter)),
  };
  for (const QString& note : format.Notes) lines << QStringLiteral("Примечание: %1").arg(note);
  if (!format.WrittenAs)
    lines << QStringLiteral(
        "Примечание: этот формат только читается, растр сохраняется в BMP "
        "или TIFF");
  file->GetHeaderInfo(lines);
  if (!options.Quiet) CliPrint(stdout, lines.join(u'\n') + u'\n');
  return 0;
}

}  // namespace

TCliCommand CliInfoCommand() {
  return {
      QStringLiteral("info"), QStringLiteral("info FILE [--page N] [--page-dpi D]"),
      QStringLiteral("формат, сжатие, размер, глубина, разрешение и заголовок растра"),
      QStringLiteral("Печатает формат файла (BMP, TIFF, BigTIFF, PNG, JPEG, PDF), его сжатие,\n"
                     "размещение (строки, полосы, тайлы) и глубину, размер растра, число\n"
                     "битов на пиксель, с которым он открывается, разрешение и поля заголовка.\n") +
          CliPageHelp() +
          QStringLiteral("  --quiet       ничего не печатать, только проверить, что файл "
                         "читается"),
      &RunInfo};
}
