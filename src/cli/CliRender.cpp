#include "BmpFiles.h"
#include "CliCommands.h"
#include "CliPngFiles.h"
#include "CliRasterOptions.h"
#include "Cursors.h"
#include "FileUtils.h"
#include "RasterDraw.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// The colour of the raster's border in the program's view, blue.
constexpr TColor kRasterBorderColor = 0xFF0000;

// The largest picture: a side this long keeps a row of the picture and of the PNG's filters
// within a few megabytes, and the whole within minutes of work.
constexpr int64_t kMaxPixels = int64_t{1} << 28;
constexpr int64_t kMaxSide = int64_t{1} << 20;
constexpr double kMaxZoom = 1e4;

// The picture is drawn in bands of whole rows of at most this many bytes, written out before the
// next, and each band in tiles about a part wide: the drawing then keeps pictures of a few parts
// only. Reduced copies of all parts, kept for zoomed-out views, get a smaller budget than the
// window's, and full-size pictures none beyond the tile being drawn.
constexpr int64_t kBandBytes = 4 << 20;
constexpr int kMinTileSide = 64;
constexpr int64_t kCoarseBudget = 8 << 20;
constexpr int64_t kFineBudget = 0;

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
      if (a != std::floor(a) || b != std::floor(b) || a < 1 || b < 1 || a > kMaxSide ||
          b > kMaxSide || a * b > kMaxPixels)
        throw ECliUsage(QStringLiteral("размер картинки задаётся целыми числами от 1, "
                                       "не больше %1 по стороне и %2 пикселей всего")
                            .arg(kMaxSide)
                            .arg(kMaxPixels));
      options.Size = {static_cast<int>(a), static_cast<int>(b)};
    }
    i += values;
  }
  return options;
}

// The picture goes only into a PNG file, and never over the raster it shows.
void CheckOutput(const QString& input, const QString& output) {
  if (!output.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
    throw ECliUsage(QStringLiteral("картинка записывается только в PNG: имя файла \"%1\" должно "
                                   "кончаться на .png")
                        .arg(output));
  CheckOutputIsNoInput(output, QStringLiteral("картинка"), {{input, QStringLiteral("растр")}});
}

// Draws the view of the device, which covers the whole picture, into the PNG file band by band.
void Render(TRasterManager& raster, TDeviceInfo& device, double zoom, const QString& fileName) {
  const TRect whole = device.DeviceRect();
  const TWorldPoint origin = device.GetOrigin();
  const int width = whole.Width();
  const int height = whole.Height();
  const int tileSide =
      std::max(kMinTileSide, static_cast<int>(std::min<double>(raster.Side() * zoom, kMaxSide)));
  const int bandRows = static_cast<int>(
      std::clamp<int64_t>(kBandBytes / (int64_t{4} * width), 1, std::min(tileSide, height)));
  QImage band(width, bandRows, QImage::Format_RGB32);
  if (band.isNull()) throw std::bad_alloc();
  TContourLease border;
  border->AddRect(TWorldRect{0, 0, double(raster.Width()), double(raster.Height())}, true);

  TReplacementFile file(fileName);
  TPngWriter png(file.Stream(), width, height);
  for (int top = 0; top < height; top += bandRows) {
    const int rows = std::min(bandRows, height - top);
    // The band's device is the whole picture's moved up by the rows above it.
    device.SetDevice(device.Resolution(), TRect{0, -top, width, height - top});
    device.SetOrigin(origin);
    band.fill(Qt::white);
    {
      TCanvas canvas(band);
      ResetCanvas(canvas);
      for (int left = 0; left < width; left += tileSide) {
        const TRect tile{left, 0, std::min(width, left + tileSide), rows};
        device.SetClipRect(tile);
        canvas.SetClipRect(tile);
        raster.Draw(device, canvas);
      }
      const TRect all{0, 0, width, rows};
      device.SetClipRect(all);
      canvas.SetClipRect(all);
      DrawWorldContour(device, canvas, *border, HollowFill,
                       MakeLineStyle(psSolid, kRasterBorderColor, pmCopy, 0, 0));
    }
    for (int y = 0; y < rows; ++y)
      png.WriteRow(reinterpret_cast<const uint32_t*>(band.constScanLine(y)));
  }
  png.Finish();
  file.Commit(QStringLiteral("Ошибка при переименовании файла картинки"));
}

int RunRender(const QStringList& args) {
  const TRenderOptions view = ParseRenderOptions(args);
  const TCliRasterOptions options = ParseRasterOptions(view.Rest, TCliExtra::None);
  if (options.Positional.size() != 2)
    throw ECliUsage(QStringLiteral("нужны два файла: растр и картинка PNG"));
  CheckOutput(options.Positional[0], options.Positional[1]);
  TCliRaster cli(options);
  TRasterManager& raster = cli.Raster();
  // Zoomed out, reduced copies are best made while the parts are read rather than read back.
  if (view.Zoom < 1) raster.Pictures(kCoarseBudget, kFineBudget);
  cli.Open(options.Positional[0]);
  raster.Pictures(kCoarseBudget, kFineBudget);

  const int64_t width =
      view.Size ? view.Size->first : std::llround(std::ceil(raster.Width() * view.Zoom));
  const int64_t height =
      view.Size ? view.Size->second : std::llround(std::ceil(raster.Height() * view.Zoom));
  if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels)
    throw Exception(QStringLiteral("Картинка %1 × %2 пикселей слишком велика (можно не больше %3 "
                                   "по стороне и %4 всего); уменьшите масштаб или задайте размер")
                        .arg(width)
                        .arg(height)
                        .arg(kMaxSide)
                        .arg(kMaxPixels));

  TDeviceInfo device;
  device.SetDevice(TPoint{96, 96}, TRect{0, 0, static_cast<int>(width), static_cast<int>(height)});
  SetCenteredView(device, view.Zoom,
                  view.Center.value_or(TWorldPoint{raster.Width() / 2.0, raster.Height() / 2.0}));
  Render(raster, device, view.Zoom, options.Positional[1]);
  return 0;
}

}  // namespace

TCliCommand CliRenderCommand() {
  return {
      QStringLiteral("render"),
      QStringLiteral("render IN OUT.png [--zoom Z] [--center X Y] [--size W H] [--cache KB]"),
      QStringLiteral("нарисовать растр так, как его показывает программа, в картинку PNG"),
      QStringLiteral(
          "Рисует растр тем же путём, что и окно программы (строка 0 сверху, рамка растра\n"
          "синим), и сохраняет картинку PNG. При уменьшении цвета усредняются, так что\n"
          "тонкие линии не пропадают. Картинка записывается только в файл .png и никогда\n"
          "поверх растра.\n"
          "  --zoom Z      пикселей картинки на пиксель растра (1 - один к одному,\n"
          "                0.125 - в восемь раз меньше; по умолчанию 1)\n"
          "  --center X Y  точка растра в середине картинки (по умолчанию центр растра)\n"
          "  --size W H    размер картинки в пикселях (по умолчанию весь растр; не больше\n"
          "                1048576 по стороне и 268435456 пикселей всего)\n") +
          CliPageHelp() +
          QStringLiteral("  --cache KB    память для частей растра, Кб (по умолчанию 5120)\n"
                         "  --progress    показывать ход работы, даже когда stderr не терминал\n"
                         "  --quiet       не показывать ход работы"),
      &RunRender};
}
