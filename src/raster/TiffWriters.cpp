#include "TiffWriters.h"

#include "GdalLibrary.h"
#include "GdalStreams.h"
#include "PartPictures.h"
#include "RasterManagers.h"
#include "Workers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

constexpr int kTile = 256;

// The pixels of a band of tiles assembled at once stay below this.
constexpr int64_t kMaxChunkBytes = 4 << 20;

const char* CompressionOption(TTiffCompression compression) {
  switch (compression) {
    case TTiffCompression::Lzw:
      return "LZW";
    case TTiffCompression::None:
      return "NONE";
    default:
      return "DEFLATE";
  }
}

QString CompressionName(TTiffCompression compression) {
  switch (compression) {
    case TTiffCompression::Lzw:
      return QStringLiteral("LZW");
    case TTiffCompression::None:
      return QStringLiteral("нет");
    default:
      return QStringLiteral("Deflate");
  }
}

// How the raster's pixels are stored in the TIFF: one band of indices or greys of 1, 4 or 8
// bits, or red, green and blue bytes.
struct TTiffLayout {
  int Bands = 1;
  int Bits = 8;
  bool Palette = false;  // a colour table is written; otherwise indices are greys
};

// Whether the colour table holds, in order, the greys a sample of that many bits stands for.
bool GreyTable(const TPaletteLookup& palette, int bits) {
  const int count = 1 << bits;
  if (palette.Count() != count) return false;
  for (int i = 0; i < count; ++i) {
    const uint32_t grey = static_cast<uint32_t>(i * 255 / (count - 1));
    if (palette.Colour(static_cast<uint8_t>(i)) != grey * 0x010101u) return false;
  }
  return true;
}

TTiffLayout LayoutOf(const TRasterManager& raster) {
  const int bpp = raster.BitsPerPixel();
  if (bpp > 8) return {3, 8, false};
  return {1, bpp, !GreyTable(raster.Palette(), bpp)};
}

// A dataset closed however the writing ends.
class TDataset {
 public:
  explicit TDataset(GDALDatasetH dataset) : FDataset(dataset) {}
  ~TDataset() { Close(); }
  TDataset(const TDataset&) = delete;
  TDataset& operator=(const TDataset&) = delete;
  GDALDatasetH Get() const { return FDataset; }
  void Close() {
    if (FDataset) Gdal().GDALClose(FDataset);
    FDataset = nullptr;
  }

 private:
  GDALDatasetH FDataset;
};

// Whole dots per inch where they give back the same dots per metre, centimetres otherwise.
void SetResolution(GDALDatasetH dataset, int32_t x, int32_t y) {
  if (x <= 0 || y <= 0) return;
  const auto inches = [](int32_t ppm) { return std::nearbyint(ppm * 0.0254); };
  const bool wholeInches =
      std::nearbyint(inches(x) / 0.0254) == x && std::nearbyint(inches(y) / 0.0254) == y;
  const auto value = [&](int32_t ppm) {
    return QByteArray::number(wholeInches ? inches(ppm) : ppm / 100.0, 'g', 12);
  };
  Gdal().GDALSetMetadataItem(dataset, "TIFFTAG_XRESOLUTION", value(x).constData(), nullptr);
  Gdal().GDALSetMetadataItem(dataset, "TIFFTAG_YRESOLUTION", value(y).constData(), nullptr);
  Gdal().GDALSetMetadataItem(dataset, "TIFFTAG_RESOLUTIONUNIT", wholeInches ? "2" : "3", nullptr);
}

void SetColourTable(GDALDatasetH dataset, const TPaletteLookup& palette) {
  const GDALColorTableH table = Gdal().GDALCreateColorTable(GPI_RGB);
  for (int i = 0; i < palette.Count(); ++i) {
    const uint32_t colour = palette.Colour(static_cast<uint8_t>(i));
    const GDALColorEntry entry{static_cast<short>(colour & 0xFF),
                               static_cast<short>((colour >> 8) & 0xFF),
                               static_cast<short>((colour >> 16) & 0xFF), 255};
    Gdal().GDALSetColorEntry(table, i, &entry);
  }
  Gdal().GDALSetRasterColorTable(Gdal().GDALGetRasterBand(dataset, 1), table);
  Gdal().GDALDestroyColorTable(table);
}

// Copies pixels of a stored row into the samples GDAL is given: bytes of indices, or blue, green
// and red bytes.
class TSampleCopier {
 public:
  explicit TSampleCopier(TRasterManager& raster) : FBitsPerPixel(raster.BitsPerPixel()) {
    if (FBitsPerPixel == 16 || FBitsPerPixel == 32) FConverter.emplace(raster);
  }

  // Pixels column .. column + count - 1 of the row, to out.
  void Copy(const uint8_t* row, int column, int count, uint8_t* out) {
    switch (FBitsPerPixel) {
      case 1:
        for (int i = 0; i < count; ++i) {
          const int c = column + i;
          out[i] = (row[c >> 3] >> (7 - (c & 7))) & 1;
        }
        return;
      case 4:
        for (int i = 0; i < count; ++i) {
          const int c = column + i;
          out[i] = c & 1 ? row[c >> 1] & 0x0F : row[c >> 1] >> 4;
        }
        return;
      case 8:
        std::memcpy(out, row + column, static_cast<size_t>(count));
        return;
      case 24:
        std::memcpy(out, row + 3 * int64_t{column}, 3 * static_cast<size_t>(count));
        return;
      default:
        FColours.resize(static_cast<size_t>(count));
        FConverter->ConvertRow(row + int64_t{column} * FBitsPerPixel / 8, count, FColours.data());
        for (int i = 0; i < count; ++i) {
          const uint32_t colour = FColours[static_cast<size_t>(i)];  // 0xFFRRGGBB
          out[3 * i] = static_cast<uint8_t>(colour);
          out[3 * i + 1] = static_cast<uint8_t>(colour >> 8);
          out[3 * i + 2] = static_cast<uint8_t>(colour >> 16);
        }
    }
  }

 private:
  int FBitsPerPixel;
  std::optional<TPixelConverter> FConverter;  // for 16 and 32 bits
  std::vector<uint32_t> FColours;
};

// The columns of a band of tiles assembled at once: all of them, or as many whole tiles as the
// chunk's bytes allow.
int ChunkWidth(int width, int pixelBytes) {
  const int64_t tiles =
      std::max<int64_t>(1, kMaxChunkBytes / (int64_t{kTile} * kTile * pixelBytes));
  return static_cast<int>(std::min<int64_t>(width, tiles * kTile));
}

[[noreturn]] void RaiseWriteFailure(const QString& fileName) {
  throw Exception(QStringLiteral("Ошибка при записи файла %1: %2")
                      .arg(fileName, WithGdalError(QStringLiteral("GDAL не записал TIFF"))));
}

}  // namespace

void WriteTiff(TRasterManager& raster, THandleStream& stream, const QString& fileName,
               TTiffCompression compression) {
  const TTiffLayout layout = LayoutOf(raster);
  const int width = raster.Width();
  const int height = raster.Height();
  std::vector<QByteArray> texts = {"TILED=YES", "BLOCKXSIZE=" + QByteArray::number(kTile),
                                   "BLOCKYSIZE=" + QByteArray::number(kTile), "BIGTIFF=IF_SAFER",
                                   QByteArray("COMPRESS=") + CompressionOption(compression)};
  if (layout.Bits < 8) texts.push_back("NBITS=" + QByteArray::number(layout.Bits));
  texts.push_back(layout.Bands == 3 ? "PHOTOMETRIC=RGB"
                  : layout.Palette  ? "PHOTOMETRIC=PALETTE"
                                    : "PHOTOMETRIC=MINISBLACK");
  // The tiles are compressed on every core.
  if (compression != TTiffCompression::None && TWorkers::Shared().Count() > 1)
    texts.push_back("NUM_THREADS=" + QByteArray::number(TWorkers::Shared().Count()));
  std::vector<char*> options;
  for (QByteArray& text : texts) options.push_back(text.data());
  options.push_back(nullptr);

  const TGdalStreamName name(stream, fileName);
  ClearGdalError();
  TDataset dataset(Gdal().GDALCreate(Gdal().GDALGetDriverByName("GTiff"), name.Path().constData(),
                                     width, height, layout.Bands, GDT_Byte, options.data()));
  if (!dataset.Get()) RaiseWriteFailure(fileName);
  const TBitmapInfoHeader* info = InfoHeaderOf(raster.GetHeader());
  SetResolution(dataset.Get(), info->biXPelsPerMeter, info->biYPelsPerMeter);
  if (layout.Palette) SetColourTable(dataset.Get(), raster.Palette());

  TProgress progress(raster.StatusInfo(), QStringLiteral("Сохранение растра..."));
  const int pixelBytes = layout.Bands;
  const int chunkWidth = ChunkWidth(width, pixelBytes);
  std::vector<uint8_t> chunk(static_cast<size_t>(int64_t{chunkWidth} * kTile * pixelBytes));
  TSampleCopier copier(raster);
  int bandMap[] = {layout.Bands == 3 ? 3 : 1, 2, 1};  // the buffer holds blue, green, red
  const int side = raster.Side();
  int64_t done = 0;
  const int64_t total = int64_t{width} * height;
  // Bands of whole tiles from the top down, as the file is read, so that each tile is complete
  // when GDAL gets it. A part under two bands is fetched for each.
  bool failed = false;
  for (int y0 = 0; y0 < height && !failed; y0 += kTile) {
    const int y1 = std::min(height, y0 + kTile);
    for (int x0 = 0; x0 < width; x0 += chunkWidth) {
      const int x1 = std::min(width, x0 + chunkWidth);
      const int64_t line = int64_t{x1 - x0} * pixelBytes;
      progress.ShowPercent(static_cast<int>(done * 100 / total));
      for (int row = y0 / side; row <= (y1 - 1) / side; ++row)
        for (int column = x0 / side; column <= (x1 - 1) / side; ++column) {
          TRasterPart* part = raster.GetPart(column, row);
          const int xa = std::max(x0, part->Left());
          const int xb = std::min(x1, part->Left() + part->Width());
          const int ya = std::max(y0, part->Top());
          const int yb = std::min(y1, part->Top() + part->Height());
          for (int y = ya; y < yb; ++y)
            copier.Copy(part->GetRow(y), xa - part->Left(), xb - xa,
                        chunk.data() + (y - y0) * line + int64_t{xa - x0} * pixelBytes);
        }
      if (Gdal().GDALDatasetRasterIO(dataset.Get(), GF_Write, x0, y0, x1 - x0, y1 - y0,
                                     chunk.data(), x1 - x0, y1 - y0, GDT_Byte, layout.Bands,
                                     bandMap, pixelBytes, line, 1) != CE_None ||
          name.WriteError() != 0) {
        failed = true;
        break;
      }
      done += int64_t{x1 - x0} * (y1 - y0);
    }
  }
  if (!failed) {
    // The tiles still in GDAL's cache, and the directory, go out now: their errors are ours.
    Gdal().GDALFlushCache(dataset.Get());
    if (Gdal().CPLGetLastErrorType() != CE_Failure) dataset.Close();
  }
  if (name.WriteError() != 0) throw EWriteError(stream.Subject(), name.WriteError());
  if (failed || Gdal().CPLGetLastErrorType() == CE_Failure) RaiseWriteFailure(fileName);
}

TRasterFileFormat WrittenTiffFormat(TTiffCompression compression, int bitsPerPixel) {
  TRasterFileFormat format;
  format.Name = QStringLiteral("TIFF");
  format.Compression = CompressionName(compression);
  format.Layout = QStringLiteral("тайлы %1 × %1").arg(kTile);
  format.Depth = bitsPerPixel > 8 ? QStringLiteral("RGB, 8 бит на канал")
                                  : QStringLiteral("%1 бит на пиксель").arg(bitsPerPixel);
  format.WrittenAs = TRasterFormat::Tiff;
  return format;
}
