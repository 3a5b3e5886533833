#include "BmpFiles.h"
#include "CliCommands.h"
#include "CliRasterOptions.h"
#include "Cursors.h"
#include "RasterDraw.h"

#include <QImageWriter>
#include <QSaveFile>

#include <cmath>
#include <optional>

namespace {

// The colour of the raster's border in the program's view, blue.
constexpr TColor kRasterBorderColor = 0xFF0000;

// A picture larger than this is refused rather than left to fail for want of memory.
constexpr int64_t kMaxPixels = int64_t{1} << 28;
constexpr double kMaxZoom = 1e4;

struct TRenderOptions {
  double Zoom = 1;
  std::optional<TWorldPoint> Center;
  std::optional<std::pair<int, int>> Size;
  QStringList Rest;  // the arguments for the shared raster options
};

double Number(const QString& option, const QString& text) {
  bool ok = false;
  const double value = text.toDouble(&ok);
  if (!ok || !std::isfinite(value))
    throw ECliUsage(QStringLiteral("неверное значение %1: \"%2\"").arg(option, text));
  return value;
}

TRenderOptions ParseRenderOptions(const QStringList& args) {
  TRenderOptions options;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    int values = 0;  // how many numbers follow the option
    if (arg == QStringLiteral("--zoom"))
      values = 1;
    else if (arg == QStringLiteral("--center") || arg == QStringLiteral("--size"))
      values = 2;
    if (values == 0) {
      options.Rest << arg;
      continue;
    }
    if (i + values >= args.size())
      throw ECliUsage(QStringLiteral("после %1 не хватает значения").arg(arg));
    const double a = Number(arg, args[i + 1]);
    const double b = values == 2 ? Number(arg, args[i + 2]) : 0;
    if (arg == QStringLiteral("--zoom")) {
      if (!(a > 0 && a <= kMaxZoom))
        throw ECliUsage(
            QStringLiteral("масштаб должен быть больше 0 и не больше %1").arg(kMaxZoom));
      options.Zoom = a;
    } else if (arg == QStringLiteral("--center")) {
      options.Center = TWorldPoint{a, b};
    } else {
      if (a != std::floor(a) || b != std::floor(b) || a < 1 || b < 1 || a * b > kMaxPixels)
        throw ECliUsage(QStringLiteral("размер картинки задаётся целыми числами от 1, "
                                       "не больше %1 пикселей всего")
                            .arg(kMaxPixels));
      options.Size = {static_cast<int>(a), static_cast<int>(b)};
    }
    i += values;
  }
  return options;
}

void SavePng(const QImage& image, const QString& fileName) {
  // Written beside the target and renamed over it, so that a failure leaves no broken file.
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly))
    throw Exception(
        QStringLiteral("Не удалось создать файл %1: %2").arg(fileName, file.errorString()));
  QImageWriter writer(&file, "png");
  if (!writer.write(image)) {
    file.cancelWriting();
    throw Exception(
        QStringLiteral("Не удалось записать файл %1: %2").arg(fileName, writer.errorString()));
  }
  if (!file.commit())
    throw Exception(
        QStringLiteral("Не удалось записать файл %1: %2").arg(fileName, file.errorString()));
}

int RunRender(const QStringList& args) {
  const TRenderOptions view = ParseRenderOptions(args);
  const TCliRasterOptions options = ParseRasterOptions(view.Rest, TCliExtra::None);
  if (options.Positional.size() != 2)
    throw ECliUsage(QStringLiteral("нужны два файла: растр и картинка PNG"));
  TCliRaster cli(options);
  TRasterManager& raster = cli.Raster();
  // Zoomed out, reduced copies are best made while the parts are read rather than read back.
  if (view.Zoom < 1) raster.Pictures();
  raster.Open(options.Positional[0]);

  const int64_t width =
      view.Size ? view.Size->first : std::llround(std::ceil(raster.Width() * view.Zoom));
  const int64_t height =
      view.Size ? view.Size->second : std::llround(std::ceil(raster.Height() * view.Zoom));
  if (width * height > kMaxPixels)
    throw Exception(QStringLiteral("Картинка %1 × %2 пикселей слишком велика; уменьшите масштаб "
                                   "или задайте размер")
                        .arg(width)
                        .arg(height));
  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
  if (image.isNull()) throw std::bad_alloc();
  image.fill(Qt::white);

  TDeviceInfo device;
  const TRect all{0, 0, image.width(), image.height()};
  device.SetDevice(TPoint{96, 96}, all);
  device.SetClipRect(all);
  SetCenteredView(device, view.Zoom,
                  view.Center.value_or(TWorldPoint{raster.Width() / 2.0, raster.Height() / 2.0}));
  {
    TCanvas canvas(image);
    ResetCanvas(canvas);
    raster.Draw(device, canvas);
    TContourLease border;
    border->AddRect(TWorldRect{0, 0, double(raster.Width()), double(raster.Height())}, true);
    DrawWorldContour(device, canvas, *border, HollowFill,
                     MakeLineStyle(psSolid, kRasterBorderColor, pmCopy, 0, 0));
  }
  SavePng(image, options.Positional[1]);
  return 0;
}

}  // namespace

TCliCommand CliRenderCommand() {
  return {
      QStringLiteral("render"),
      QStringLiteral("render IN.bmp OUT.png [--zoom Z] [--center X Y] [--size W H] [--cache KB]"),
      QStringLiteral("нарисовать растр так, как его показывает программа, в картинку PNG"),
      QStringLiteral(
          "Рисует растр тем же путём, что и окно программы (строка 0 сверху, рамка растра\n"
          "синим), и сохраняет картинку PNG. При уменьшении цвета усредняются, так что\n"
          "тонкие линии не пропадают.\n"
          "  --zoom Z      пикселей картинки на пиксель растра (1 - один к одному,\n"
          "                0.125 - в восемь раз меньше; по умолчанию 1)\n"
          "  --center X Y  точка растра в середине картинки (по умолчанию центр растра)\n"
          "  --size W H    размер картинки в пикселях (по умолчанию весь растр)\n"
          "  --cache KB    память для частей растра, Кб (по умолчанию 5120)\n"
          "  --progress    показывать ход работы, даже когда stderr не терминал\n"
          "  --quiet       не показывать ход работы"),
      &RunRender};
}
