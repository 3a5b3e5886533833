#include "GdalProbes.h"

#include "GdalLibrary.h"

#include <cmath>
#include <cstring>

namespace {

[[noreturn]] void RaiseUnsupported(const TGdalSource& source, const QString& reason) {
  throw Exception(
      QStringLiteral("Ошибка открытия растрового файла %1: %2").arg(source.FileName, reason));
}

QString Metadata(GDALMajorObjectH object, const char* name, const char* domain = nullptr) {
  return QString::fromUtf8(Gdal().GDALGetMetadataItem(object, name, domain));
}

QString CompressionName(const QString& gdalName) {
  static const std::pair<const char*, const char*> names[] = {
      {"LZW", "LZW"},
      {"DEFLATE", "Deflate"},
      {"ZIP", "Deflate"},
      {"PACKBITS", "PackBits"},
      {"JPEG", "JPEG"},
      {"CCITTFAX3", "CCITT G3"},
      {"CCITTFAX4", "CCITT G4"},
      {"CCITTRLE", "CCITT RLE"},
  };
  if (gdalName.isEmpty()) return QStringLiteral("нет");
  for (const auto& [gdal, ours] : names)
    if (gdalName == QLatin1String(gdal)) return QLatin1String(ours);
  return gdalName;
}

// The samples of the bands that make a pixel, and what the other bands are.
struct TBands {
  int Used = 1;        // 1: grey or palette, 3: red, green, blue
  bool Alpha = false;  // a band of transparency, left out
};

TBands ChooseBands(GDALDatasetH ds, const TGdalSource& source) {
  const int count = Gdal().GDALGetRasterCount(ds);
  auto interp = [&](int band) {
    return Gdal().GDALGetRasterColorInterpretation(Gdal().GDALGetRasterBand(ds, band));
  };
  auto name = [&](int band) {
    return QString::fromUtf8(Gdal().GDALGetColorInterpretationName(interp(band)));
  };
  if (count == 0) RaiseUnsupported(source, QStringLiteral("в файле нет растра"));
  if (count > 4)
    RaiseUnsupported(source, QStringLiteral("каналов %1, а открываются растры из 1 канала (серый "
                                            "или палитра) и из 3 (RGB), с альфа-каналом или без")
                                 .arg(count));
  if (count == 1) return {1, false};
  if (count == 2) {
    if (interp(2) != GCI_AlphaBand)
      RaiseUnsupported(source, QStringLiteral("2 канала (%1 и %2), а второй канал бывает только "
                                              "альфа-каналом")
                                   .arg(name(1), name(2)));
    return {1, true};
  }
  for (int band = 1; band <= 3; ++band)
    if (interp(band) != GCI_RedBand + band - 1 && interp(band) != GCI_Undefined)
      RaiseUnsupported(
          source,
          QStringLiteral("каналы %1, %2, %3 не составляют RGB").arg(name(1), name(2), name(3)));
  if (count == 4 && interp(4) != GCI_AlphaBand)
    RaiseUnsupported(source, QStringLiteral("4 канала, а четвёртый бывает только альфа-каналом"));
  return {3, count == 4};
}

// The significant bits of the band's samples, as the file states them; a JPEG of more than 8
// bits has 12.
int SignificantBits(GDALRasterBandH band, int typeBits, const TGdalSource& source) {
  const int nbits = Metadata(band, "NBITS", "IMAGE_STRUCTURE").toInt();
  if (nbits > 0 && nbits <= typeBits) return nbits;
  return source.Driver == QLatin1String("JPEG") && typeBits == 16 ? 12 : typeBits;
}

void AppendQuad(std::vector<uint8_t>& header, int red, int green, int blue) {
  header.insert(header.end(), {static_cast<uint8_t>(blue), static_cast<uint8_t>(green),
                               static_cast<uint8_t>(red), 0});
}

// The colour table of an indexed raster, or the greys of one without a table: as many as the
// samples' bits can tell apart.
void AppendPalette(std::vector<uint8_t>& header, GDALRasterBandH band, int bitsPerPixel,
                   const TGdalSource& source) {
  if (const GDALColorTableH table = Gdal().GDALGetRasterColorTable(band)) {
    if (Gdal().GDALGetPaletteInterpretation(table) != GPI_RGB)
      RaiseUnsupported(source, QStringLiteral("палитра %1 не поддерживается, только RGB")
                                   .arg(QString::fromUtf8(Gdal().GDALGetPaletteInterpretationName(
                                       Gdal().GDALGetPaletteInterpretation(table)))));
    const int count = std::min(Gdal().GDALGetColorEntryCount(table), 1 << bitsPerPixel);
    for (int i = 0; i < count; ++i) {
      GDALColorEntry entry;
      Gdal().GDALGetColorEntryAsRGB(table, i, &entry);
      AppendQuad(header, entry.c1, entry.c2, entry.c3);
    }
    return;
  }
  const int count = 1 << bitsPerPixel;
  for (int i = 0; i < count; ++i) {
    const int grey = i * 255 / (count - 1);
    AppendQuad(header, grey, grey, grey);
  }
}

QString DepthText(int significantBits, const TBands& bands, bool palette) {
  QString text = bands.Used == 3 ? QStringLiteral("RGB, %1 бит на канал").arg(significantBits)
                 : palette ? QStringLiteral("%1 бит на пиксель, палитра").arg(significantBits)
                 : significantBits == 1
                     ? QStringLiteral("1 бит на пиксель")
                     : QStringLiteral("%1 бит на пиксель, оттенки серого").arg(significantBits);
  if (bands.Alpha) text += QStringLiteral(", с альфа-каналом");
  return text;
}

QString LayoutText(GDALDatasetH ds, const TGdalSource& source, const TGdalProbe& probe) {
  if (source.Driver == QLatin1String("PDF"))
    return QStringLiteral("страница %1 из %2, нарисована при %3 точках на дюйм")
        .arg(source.Page)
        .arg(source.Pages)
        .arg(source.Dpi);
  if (source.Driver != QLatin1String("GTiff")) return QStringLiteral("строки");
  const bool separate = Metadata(ds, "INTERLEAVE", "IMAGE_STRUCTURE") == QLatin1String("BAND") &&
                        Gdal().GDALGetRasterCount(ds) > 1;
  // GDAL shows a file of one compressed strip as strips of one row, with no offset of a second.
  const bool oneStrip =
      probe.BlockHeight < Gdal().GDALGetRasterYSize(ds) &&
      !Gdal().GDALGetMetadataItem(Gdal().GDALGetRasterBand(ds, 1), "BLOCK_OFFSET_0_1", "TIFF");
  QString text = probe.BlockWidth < Gdal().GDALGetRasterXSize(ds)
                     ? QStringLiteral("тайлы %1 × %2").arg(probe.BlockWidth).arg(probe.BlockHeight)
                 : oneStrip || probe.BlockHeight >= Gdal().GDALGetRasterYSize(ds)
                     ? QStringLiteral("одна полоса")
                     : QStringLiteral("полосы, строк в полосе: %1").arg(probe.BlockHeight);
  if (separate) text += QStringLiteral(", каналы раздельно");
  return text;
}

// Resolution from the tags GDAL gives, or else what the file states where GDAL does not look; a
// PDF page has the resolution it is drawn at.
std::pair<int32_t, int32_t> Resolution(GDALDatasetH ds, const TGdalSource& source) {
  if (source.Driver == QLatin1String("PDF")) {
    const int32_t ppm = DotsPerMetreOf(source.Dpi, 2);
    return {ppm, ppm};
  }
  const int unit = Metadata(ds, "TIFFTAG_RESOLUTIONUNIT").section(u' ', 0, 0).toInt();
  const std::pair<int32_t, int32_t> tags{
      DotsPerMetreOf(Metadata(ds, "TIFFTAG_XRESOLUTION").toDouble(), unit),
      DotsPerMetreOf(Metadata(ds, "TIFFTAG_YRESOLUTION").toDouble(), unit)};
  if (tags.first == 0 && source.Stated) return *source.Stated;
  return tags;
}

QStringList HeaderInfoOf(GDALDatasetH ds, const TGdalSource& source) {
  QStringList lines = {QStringLiteral("Драйвер GDAL:\t%1").arg(source.Driver)};
  for (const char* domain : {"IMAGE_STRUCTURE", static_cast<const char*>(nullptr)})
    for (char** item = Gdal().GDALGetMetadata(ds, domain); item && *item; ++item) {
      const QString text = QString::fromUtf8(*item);
      const qsizetype equals = text.indexOf(u'=');
      if (equals > 0) lines << text.left(equals) + QStringLiteral(":\t") + text.mid(equals + 1);
    }
  for (int band = 1; band <= Gdal().GDALGetRasterCount(ds); ++band) {
    const GDALRasterBandH h = Gdal().GDALGetRasterBand(ds, band);
    lines << QStringLiteral("Канал %1:\t%2, %3")
                 .arg(band)
                 .arg(
                     QString::fromUtf8(Gdal().GDALGetDataTypeName(Gdal().GDALGetRasterDataType(h))),
                     QString::fromUtf8(Gdal().GDALGetColorInterpretationName(
                         Gdal().GDALGetRasterColorInterpretation(h))));
  }
  return lines;
}

}  // namespace

int32_t DotsPerMetreOf(double resolution, int unit) {
  if (!(resolution > 0) || !std::isfinite(resolution)) return 0;
  const double perMetre = unit == 2 ? resolution / 0.0254 : unit == 3 ? resolution * 100 : 0;
  if (!(perMetre >= 1) || perMetre > INT32_MAX) return 0;
  return static_cast<int32_t>(std::nearbyint(perMetre));
}

TGdalProbe ProbeGdalDataset(TGdalDataset dataset, const TGdalSource& source) {
  const auto ds = static_cast<GDALDatasetH>(dataset);
  TGdalProbe probe;
  const TBands bands = ChooseBands(ds, source);
  const GDALRasterBandH first = Gdal().GDALGetRasterBand(ds, 1);
  const GDALDataType type = Gdal().GDALGetRasterDataType(first);
  for (int band = 2; band <= bands.Used; ++band)
    if (Gdal().GDALGetRasterDataType(Gdal().GDALGetRasterBand(ds, band)) != type)
      RaiseUnsupported(source, QStringLiteral("каналы с отсчётами разных типов"));
  if (type != GDT_Byte && type != GDT_UInt16)
    RaiseUnsupported(source, QStringLiteral("отсчёты типа %1 не поддерживаются, только целые "
                                            "без знака по 8 и 16 бит")
                                 .arg(QString::fromUtf8(Gdal().GDALGetDataTypeName(type))));
  const bool palette = Gdal().GDALGetRasterColorTable(first) != nullptr && bands.Used == 1;
  const int typeBits = type == GDT_Byte ? 8 : 16;
  const int significant = SignificantBits(first, typeBits, source);
  if (palette && type != GDT_Byte)
    RaiseUnsupported(
        source,
        QStringLiteral("палитра при %1 битах на пиксель не поддерживается").arg(significant));
  TGdalLayout& layout = probe.Layout;
  layout.SampleBits = typeBits;
  layout.SignificantBits = significant;
  layout.BitsPerPixel = bands.Used == 3 ? 24 : significant == 1 ? 1 : 8;
  // Grey samples of fewer than 8 bits stay indices into as many greys.
  layout.Scaled = typeBits == 16 || (bands.Used == 3 && significant != 8);
  const int paletteBits = layout.Scaled ? 8 : significant;

  TRasterFileFormat& format = probe.Format;
  format.Name = source.Driver == QLatin1String("GTiff")
                    ? (source.BigTiff ? QStringLiteral("BigTIFF") : QStringLiteral("TIFF"))
                    : source.Driver;
  if (source.Driver == QLatin1String("GTiff")) format.WrittenAs = TRasterFormat::Tiff;
  // Some drivers state the compression of the bands rather than of the file.
  QString compression = Metadata(ds, "COMPRESSION", "IMAGE_STRUCTURE");
  if (compression.isEmpty()) compression = Metadata(first, "COMPRESSION", "IMAGE_STRUCTURE");
  format.Compression = source.Driver == QLatin1String("PNG") ? QStringLiteral("Deflate")
                       : source.Driver == QLatin1String("PDF") ? QStringLiteral("страница PDF")
                                                               : CompressionName(compression);
  format.Depth = DepthText(significant, bands, palette);
  if (significant != 1 && significant != 8)
    format.Notes << QStringLiteral("%1 бит на %2 прочитаны как 8")
                        .arg(significant)
                        .arg(bands.Used == 3 ? QStringLiteral("канал") : QStringLiteral("пиксель"));
  // GDAL gives the colours of CMYK and YCbCr files in RGB, with an opaque alpha band of its own.
  const QString colourSpace = Metadata(ds, "SOURCE_COLOR_SPACE", "IMAGE_STRUCTURE");
  if (!colourSpace.isEmpty() && colourSpace != QLatin1String("RGB"))
    format.Notes << QStringLiteral("цвета %1 переведены в RGB").arg(colourSpace);
  else if (bands.Alpha)
    format.Notes << QStringLiteral("альфа-канал (прозрачность) не учитывается");

  Gdal().GDALGetBlockSize(first, &probe.BlockWidth, &probe.BlockHeight);
  format.Layout = LayoutText(ds, source, probe);
  probe.HeaderInfo = HeaderInfoOf(ds, source);

  TBitmapInfoHeader info{};
  info.biSize = BitmapInfoHeaderSize;
  info.biWidth = Gdal().GDALGetRasterXSize(ds);
  info.biHeight = Gdal().GDALGetRasterYSize(ds);
  info.biPlanes = 1;
  info.biBitCount = static_cast<uint16_t>(layout.BitsPerPixel);
  info.biCompression = BI_RGB;
  std::tie(info.biXPelsPerMeter, info.biYPelsPerMeter) = Resolution(ds, source);
  std::vector<uint8_t>& header = probe.Header;
  header.resize(BitmapInfoHeaderSize);
  if (layout.BitsPerPixel <= 8) AppendPalette(header, first, paletteBits, source);
  info.biClrUsed = static_cast<uint32_t>((header.size() - BitmapInfoHeaderSize) / 4);
  std::memcpy(header.data(), &info, sizeof info);
  return probe;
}
