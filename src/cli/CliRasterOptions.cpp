#include "CliRasterOptions.h"

#include "BmpFiles.h"
#include "GdalFiles.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#include <cmath>

namespace {

// A page drawn finer than this would be too large to be of use.
constexpr double kMaxPageDpi = 4800;

// The value after an option; i moves onto it.
QString Take(const QStringList& args, qsizetype& i, const QString& option) {
  if (i + 1 >= args.size())
    throw ECliUsage(QStringLiteral("после %1 не хватает значения").arg(option));
  return args[++i];
}

[[noreturn]] void RaiseBadValue(const QString& option, const QString& text) {
  throw ECliUsage(QStringLiteral("неверное значение %1: \"%2\"").arg(option, text));
}

int64_t Integer(const QString& option, const QString& text, int64_t max) {
  bool ok = false;
  const qlonglong value = text.toLongLong(&ok);
  if (!ok || value < 0 || value > max) RaiseBadValue(option, text);
  return value;
}

int DotsPerMetre(const QString& option, const QString& text) {
  bool ok = false;
  const double dpi = text.toDouble(&ok);
  const double ppm = dpi / 0.0254;
  if (!ok || !(dpi >= 0) || ppm > INT_MAX) RaiseBadValue(option, text);
  return static_cast<int>(std::nearbyint(ppm));
}

}  // namespace

TCliRasterOptions ParseRasterOptions(const QStringList& args, TCliExtra extra) {
  TCliRasterOptions options;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString arg = args[i];
    if (arg == QStringLiteral("--cache")) {
      options.CacheSize = Integer(arg, Take(args, i, arg), INT64_MAX / 1024) * 1024;
    } else if (arg == QStringLiteral("--progress")) {
      options.Progress = true;
    } else if (arg == QStringLiteral("--quiet")) {
      options.Quiet = true;
    } else if (extra == TCliExtra::Resolution &&
               (arg == QStringLiteral("--ppm") || arg == QStringLiteral("--dpi"))) {
      if (options.Resolution)
        throw ECliUsage(QStringLiteral("разрешение задаётся один раз: --ppm или --dpi"));
      const QString x = Take(args, i, arg);
      const QString y = Take(args, i, arg);
      if (arg == QStringLiteral("--ppm"))
        options.Resolution = {static_cast<int>(Integer(arg, x, INT_MAX)),
                              static_cast<int>(Integer(arg, y, INT_MAX))};
      else
        options.Resolution = {DotsPerMetre(arg, x), DotsPerMetre(arg, y)};
    } else if ((extra == TCliExtra::Grid || extra == TCliExtra::NodeSearch) &&
               arg == QStringLiteral("--grid")) {
      if (!options.GridFile.isEmpty())
        throw ECliUsage(QStringLiteral("файл сетки задаётся один раз"));
      options.GridFile = Take(args, i, arg);
    } else if (extra == TCliExtra::Grid && arg == QStringLiteral("--clip")) {
      options.Clip = true;
    } else if (extra == TCliExtra::Grid && arg == QStringLiteral("--clip-frame")) {
      options.ClipFrame = true;
    } else if (extra == TCliExtra::Grid && arg == QStringLiteral("--find-nodes")) {
      options.FindNodes = true;
    } else if (arg == QStringLiteral("--page")) {
      options.Open.Page = static_cast<int>(Integer(arg, Take(args, i, arg), INT_MAX));
      if (options.Open.Page < 1) RaiseBadValue(arg, args[i]);
    } else if (arg == QStringLiteral("--page-dpi")) {
      bool ok = false;
      options.Open.Dpi = Take(args, i, arg).toDouble(&ok);
      if (!ok || !(options.Open.Dpi >= 1 && options.Open.Dpi <= kMaxPageDpi))
        RaiseBadValue(arg, args[i]);
    } else if ((extra == TCliExtra::Resolution || extra == TCliExtra::Grid) &&
               arg == QStringLiteral("--compress")) {
      const QString value = Take(args, i, arg);
      if (value == QStringLiteral("deflate"))
        options.Compression = TTiffCompression::Deflate;
      else if (value == QStringLiteral("lzw"))
        options.Compression = TTiffCompression::Lzw;
      else if (value == QStringLiteral("none"))
        options.Compression = TTiffCompression::None;
      else
        RaiseBadValue(arg, value);
    } else if (arg.startsWith(QStringLiteral("--"))) {
      throw ECliUsage(QStringLiteral("неизвестный параметр %1").arg(arg));
    } else {
      options.Positional << arg;
    }
  }
  if (options.Clip && options.ClipFrame)
    throw ECliUsage(QStringLiteral("задайте либо --clip, либо --clip-frame"));
  return options;
}

TCliRaster::TCliRaster(const TCliRasterOptions& options)
    : FProgress(options),
      FRaster(&FProvider, options.CacheSize, FProgress.Info()),
      FOpenOptions(options.Open),
      FCompression(options.Compression) {
  RegisterCliFormats(&FProvider);
}

void TCliRaster::Open(const QString& fileName) {
  FRaster.Open(fileName, FOpenOptions);
}

TSaveOptions TCliRaster::OutputFormat(const QString& fileName) const {
  const std::optional<TRasterFormat> format = FProvider.SaveFormatByExt(fileName);
  if (!format)
    throw ECliUsage(QStringLiteral("результат %1: растр записывается в BMP (.bmp) или TIFF "
                                   "(.tif, .tiff), формат выбирается по расширению")
                        .arg(fileName));
  if (*format != TRasterFormat::Tiff && FCompression)
    throw ECliUsage(QStringLiteral("--compress задаёт сжатие TIFF, а результат %1 пишется в BMP")
                        .arg(fileName));
  TSaveOptions save;
  save.Format = *format;
  save.Compression = FCompression.value_or(TTiffCompression::Deflate);
  return save;
}

QString CliPageHelp() {
  return QStringLiteral(
      "  --page N      страница документа PDF, с 1 (по умолчанию первая)\n"
      "  --page-dpi D  разрешение, при котором рисуется страница PDF, точек на дюйм\n"
      "                (по умолчанию 300)\n");
}

void RegisterCliFormats(TRasterFileProvider* provider) {
  RegisterBmpFormat(provider);
  RegisterGdalFormats(provider);
}

void CheckOutputIsNoInput(const QString& output, const QString& what,
                          const std::vector<TCliInput>& inputs) {
  struct stat out;
  if (::stat(QFile::encodeName(output).constData(), &out) != 0) return;
  for (const TCliInput& input : inputs) {
    struct stat in;
    if (::stat(QFile::encodeName(input.FileName).constData(), &in) == 0 &&
        in.st_dev == out.st_dev && in.st_ino == out.st_ino)
      throw ECliUsage(QStringLiteral("%1 не может заменить %2: %3 - это тот же файл, что и %4")
                          .arg(what, input.Role, output, input.FileName));
  }
}

void CliPrint(FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
  std::fflush(stream);
}

TCliProgress::TCliProgress(const TCliRasterOptions& options, FILE* stream)
    : FStream(stream),
      FEnabled(!options.Quiet && (options.Progress || ::isatty(::fileno(stream)))),
      FTerminal(::isatty(::fileno(stream))),
      FInfo([this](int slot) { return FSlots[slot]; },
            [this](int slot, const QString& text) { Show(slot, text); }) {}

TCliProgress::~TCliProgress() {
  if (FEnabled && FTerminal && !FShownLine.isEmpty()) CliPrint(FStream, QStringLiteral("\r\x1b[K"));
}

void TCliProgress::Show(int slot, const QString& text) {
  FSlots[slot] = text;
  if (!FEnabled) return;
  const QString& operation = FSlots[TStatusInfo::OperationSlot];
  const QString& percent = FSlots[TStatusInfo::PercentSlot];
  const QString line = percent.isEmpty() ? operation : operation + u' ' + percent;
  if (line == FShownLine) return;
  FShownLine = line;
  // A terminal shows the line in place; elsewhere only the percentages make lines worth keeping.
  if (FTerminal)
    CliPrint(FStream, QStringLiteral("\r\x1b[K") + line);
  else if (!percent.isEmpty())
    CliPrint(FStream, line + u'\n');
}
