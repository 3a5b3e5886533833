#include "GdalTestFiles.h"

#include <QFile>

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

void UseAllDrivers() {
  static const bool registered = [] {
    GDALAllRegister();
    return true;
  }();
  (void)registered;
}

struct TOptionList {
  explicit TOptionList(const QStringList& options) {
    for (const QString& option : options) Texts.push_back(option.toUtf8());
    for (QByteArray& text : Texts) Pointers.push_back(text.data());
    Pointers.push_back(nullptr);
  }
  char** List() { return Pointers.data(); }
  std::vector<QByteArray> Texts;
  std::vector<char*> Pointers;
};

using TDataset = std::unique_ptr<void, void (*)(void*)>;

TDataset Own(GDALDatasetH dataset) {
  return TDataset(dataset, [](void* d) {
    if (d) GDALClose(d);
  });
}

TDataset NewMemory(int width, int height, int bands, GDALDataType type) {
  UseAllDrivers();
  return Own(GDALCreate(GDALGetDriverByName("MEM"), "", width, height, bands, type, nullptr));
}

void CopyAs(const QString& fileName, const char* driver, GDALDatasetH source,
            const QStringList& options) {
  TOptionList list(options);
  const TDataset copy =
      Own(GDALCreateCopy(GDALGetDriverByName(driver), QFile::encodeName(fileName).constData(),
                         source, FALSE, list.List(), nullptr, nullptr));
  ASSERT_TRUE(copy) << CPLGetLastErrorMsg();
}

void PutLe(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void WriteGdalFile(const QString& fileName, const char* driver, const TBmpLayout& layout,
                   const QStringList& options, bool greys) {
  const int bands = layout.BitsPerPixel == 24 ? 3 : 1;
  const TDataset memory = NewMemory(layout.Width, layout.Height, bands, GDT_Byte);
  std::vector<uint8_t> samples(static_cast<size_t>(layout.Width) * layout.Height * bands);
  for (int y = 0; y < layout.Height; ++y)
    for (int x = 0; x < layout.Width; ++x) {
      const uint32_t v = layout.Pixel(x, y);
      uint8_t* s = samples.data() + (static_cast<size_t>(y) * layout.Width + x) * bands;
      if (bands == 1) {
        s[0] = static_cast<uint8_t>(v);
      } else {
        s[0] = static_cast<uint8_t>(v);
        s[1] = static_cast<uint8_t>(v >> 8);
        s[2] = static_cast<uint8_t>(v >> 16);
      }
    }
  ASSERT_EQ(GDALDatasetRasterIO(memory.get(), GF_Write, 0, 0, layout.Width, layout.Height,
                                samples.data(), layout.Width, layout.Height, GDT_Byte, bands,
                                nullptr, bands, int64_t{layout.Width} * bands, 1),
            CE_None);
  if (bands == 1 && !greys) {
    const GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
    for (size_t i = 0; i < layout.Palette.size(); ++i) {
      const uint32_t c = layout.Palette[i];
      const GDALColorEntry entry{static_cast<short>(c & 255), static_cast<short>((c >> 8) & 255),
                                 static_cast<short>((c >> 16) & 255), 255};
      GDALSetColorEntry(table, static_cast<int>(i), &entry);
    }
    GDALSetRasterColorTable(GDALGetRasterBand(memory.get(), 1), table);
    GDALDestroyColorTable(table);
  }
  if (layout.XPelsPerMeter > 0) {
    const auto dpi = [](int32_t ppm) { return QByteArray::number(ppm * 0.0254, 'g', 12); };
    GDALSetMetadataItem(memory.get(), "TIFFTAG_XRESOLUTION", dpi(layout.XPelsPerMeter), nullptr);
    GDALSetMetadataItem(memory.get(), "TIFFTAG_YRESOLUTION", dpi(layout.YPelsPerMeter), nullptr);
    GDALSetMetadataItem(memory.get(), "TIFFTAG_RESOLUTIONUNIT", "2", nullptr);
  }
  QStringList all = options;
  if (layout.BitsPerPixel < 8) all << QStringLiteral("NBITS=%1").arg(layout.BitsPerPixel);
  CopyAs(fileName, driver, memory.get(), all);
}

void WriteGdalSamples(const QString& fileName, int width, int height, int bands, int bits,
                      const std::function<uint16_t(int x, int y, int band)>& sample,
                      const QStringList& options) {
  const TDataset memory = NewMemory(width, height, bands,
                                    bits == 8    ? GDT_Byte
                                    : bits == 16 ? GDT_UInt16
                                                 : GDT_Float32);
  std::vector<uint16_t> samples(static_cast<size_t>(width) * height * bands);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int b = 0; b < bands; ++b)
        samples[(static_cast<size_t>(y) * width + x) * bands + b] = sample(x, y, b);
  // GDAL turns the 16-bit samples into the dataset's type.
  ASSERT_EQ(GDALDatasetRasterIO(memory.get(), GF_Write, 0, 0, width, height, samples.data(), width,
                                height, GDT_UInt16, bands, nullptr, 2 * bands,
                                int64_t{width} * bands * 2, 2),
            CE_None);
  CopyAs(fileName, "GTiff", memory.get(), options);
}

void WritePdfPages(const QString& fileName, const QStringList& rasters) {
  UseAllDrivers();
  QByteArray xml = "<PDFComposition>";
  for (const QString& raster : rasters) {
    const TDataset page = Own(GDALOpen(QFile::encodeName(raster).constData(), GA_ReadOnly));
    ASSERT_TRUE(page);
    xml += "<Page><DPI>72</DPI><Width>" + QByteArray::number(GDALGetRasterXSize(page.get())) +
           "</Width><Height>" + QByteArray::number(GDALGetRasterYSize(page.get())) +
           "</Height><Content><Raster dataset=\"" + QFile::encodeName(raster) +
           "\"/></Content></Page>";
  }
  xml += "</PDFComposition>";
  const QString composition = fileName + QStringLiteral(".xml");
  WriteFile(composition, xml);
  TOptionList options({QStringLiteral("COMPOSITION_FILE=") + composition});
  const TDataset pdf =
      Own(GDALCreate(GDALGetDriverByName("PDF"), QFile::encodeName(fileName).constData(), 0, 0, 0,
                     GDT_Unknown, options.List()));
  ASSERT_TRUE(pdf) << CPLGetLastErrorMsg();
  QFile::remove(composition);
}

TBmpLayout DecodeWithGdal(const QString& fileName, const QStringList& openOptions) {
  UseAllDrivers();
  TOptionList options(openOptions);
  const TDataset file = Own(GDALOpenEx(QFile::encodeName(fileName).constData(), GDAL_OF_RASTER,
                                       nullptr, options.List(), nullptr));
  if (!file) return {};
  TBmpLayout layout;
  layout.Width = GDALGetRasterXSize(file.get());
  layout.Height = GDALGetRasterYSize(file.get());
  const int bands = GDALGetRasterCount(file.get()) >= 3 ? 3 : 1;
  layout.BitsPerPixel = bands == 3 ? 24 : 8;
  auto samples = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(layout.Width) *
                                                        layout.Height * bands);
  if (GDALDatasetRasterIO(file.get(), GF_Read, 0, 0, layout.Width, layout.Height, samples->data(),
                          layout.Width, layout.Height, GDT_Byte, bands, nullptr, bands,
                          int64_t{layout.Width} * bands, 1) != CE_None)
    return {};
  if (bands == 1) {
    const GDALRasterBandH band = GDALGetRasterBand(file.get(), 1);
    const GDALColorTableH table = GDALGetRasterColorTable(band);
    // Samples of fewer bits are greys over their own range.
    const char* nbits = GDALGetMetadataItem(band, "NBITS", "IMAGE_STRUCTURE");
    layout.Palette = GreyPalette(nbits ? 1 << std::atoi(nbits) : 256);
    layout.Palette.resize(256);
    for (int i = 0; table && i < GDALGetColorEntryCount(table); ++i) {
      GDALColorEntry e;
      GDALGetColorEntryAsRGB(table, i, &e);
      layout.Palette[static_cast<size_t>(i)] = e.c1 | (e.c2 << 8) | (e.c3 << 16);
    }
  }
  const int width = layout.Width;
  layout.Pixel = [samples, width, bands](int x, int y) -> uint32_t {
    const uint8_t* s = samples->data() + (static_cast<size_t>(y) * width + x) * bands;
    return bands == 1 ? s[0] : s[0] | (s[1] << 8) | (s[2] << 16);
  };
  return layout;
}

void WriteSparseBigTiff(const QString& fileName, int width, int height, int tileSide,
                        const std::function<uint32_t(int x, int y)>& pixel) {
  const int across = (width + tileSide - 1) / tileSide;
  const int down = (height + tileSide - 1) / tileSide;
  const uint64_t tiles = static_cast<uint64_t>(across) * down;
  const uint64_t tileBytes = static_cast<uint64_t>(tileSide) * tileSide * 3;
  struct TEntry {
    uint16_t Tag, Type;
    uint64_t Count, Value;
  };
  constexpr uint16_t kShort = 3, kLong = 4, kLong8 = 16;
  const uint64_t ifd = 16;
  const int entries = 11;
  const uint64_t offsetsAt = ifd + 8 + entries * 20 + 8;
  const uint64_t countsAt = offsetsAt + tiles * 8;
  const uint64_t dataAt = uint64_t{5} << 30;
  const TEntry table[entries] = {
      {256, kLong, 1, static_cast<uint64_t>(width)},
      {257, kLong, 1, static_cast<uint64_t>(height)},
      {258, kShort, 3, 8 | (uint64_t{8} << 16) | (uint64_t{8} << 32)},
      {259, kShort, 1, 1},  // no compression
      {262, kShort, 1, 2},  // RGB
      {277, kShort, 1, 3},  // samples per pixel
      {284, kShort, 1, 1},  // pixels interleaved
      {322, kLong, 1, static_cast<uint64_t>(tileSide)},
      {323, kLong, 1, static_cast<uint64_t>(tileSide)},
      {324, kLong8, tiles, offsetsAt},
      {325, kLong8, tiles, countsAt},
  };
  std::vector<uint8_t> head(static_cast<size_t>(countsAt + tiles * 8), 0);
  head[0] = 'I', head[1] = 'I';
  PutLe(head, 2, 43, 2);
  PutLe(head, 4, 8, 2);
  PutLe(head, 8, ifd, 8);
  PutLe(head, ifd, entries, 8);
  for (int i = 0; i < entries; ++i) {
    const size_t at = ifd + 8 + 20 * static_cast<size_t>(i);
    PutLe(head, at, table[i].Tag, 2);
    PutLe(head, at + 2, table[i].Type, 2);
    PutLe(head, at + 4, table[i].Count, 8);
    PutLe(head, at + 12, table[i].Value, 8);
  }
  for (uint64_t t = 0; t < tiles; ++t) {
    PutLe(head, offsetsAt + 8 * t, dataAt + t * tileBytes, 8);
    PutLe(head, countsAt + 8 * t, tileBytes, 8);
  }
  const int handle = ::open(QFile::encodeName(fileName).constData(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(handle, 0);
  ASSERT_EQ(::pwrite(handle, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
  std::vector<uint8_t> tile(tileBytes);
  for (int row = 0; row < down; ++row)
    for (int column = 0; column < across; ++column) {
      for (int y = 0; y < tileSide; ++y)
        for (int x = 0; x < tileSide; ++x) {
          const int px = column * tileSide + x, py = row * tileSide + y;
          const uint32_t c = px < width && py < height ? pixel(px, py) : 0;
          uint8_t* s = tile.data() + (static_cast<size_t>(y) * tileSide + x) * 3;
          s[0] = static_cast<uint8_t>(c), s[1] = static_cast<uint8_t>(c >> 8);
          s[2] = static_cast<uint8_t>(c >> 16);
        }
      const uint64_t at = dataAt + (static_cast<uint64_t>(row) * across + column) * tileBytes;
      ASSERT_EQ(::pwrite(handle, tile.data(), tile.size(), static_cast<off_t>(at)),
                static_cast<ssize_t>(tile.size()));
    }
  ::close(handle);
}

std::vector<uint32_t> GdalColours(const QString& fileName) {
  const TBmpLayout layout = DecodeWithGdal(fileName);
  std::vector<uint32_t> colours;
  colours.reserve(static_cast<size_t>(layout.Width) * layout.Height);
  for (int y = 0; y < layout.Height; ++y)
    for (int x = 0; x < layout.Width; ++x) {
      const uint32_t v = layout.Pixel(x, y);
      colours.push_back(layout.BitsPerPixel == 24 ? v : layout.Palette[v]);
    }
  return colours;
}

QString GdalMetadata(const QString& fileName, const char* item, const char* domain) {
  UseAllDrivers();
  const TDataset file = Own(GDALOpen(QFile::encodeName(fileName).constData(), GA_ReadOnly));
  if (!file) return {};
  const char* value = GDALGetMetadataItem(file.get(), item, domain);
  if (!value) value = GDALGetMetadataItem(GDALGetRasterBand(file.get(), 1), item, domain);
  return QString::fromUtf8(value);
}

QSize GdalBlockSize(const QString& fileName) {
  UseAllDrivers();
  const TDataset file = Own(GDALOpen(QFile::encodeName(fileName).constData(), GA_ReadOnly));
  if (!file) return {};
  int width = 0, height = 0;
  GDALGetBlockSize(GDALGetRasterBand(file.get(), 1), &width, &height);
  return {width, height};
}

QSize GdalSize(const QString& fileName) {
  UseAllDrivers();
  const TDataset file = Own(GDALOpen(QFile::encodeName(fileName).constData(), GA_ReadOnly));
  if (!file) return {};
  return {GDALGetRasterXSize(file.get()), GDALGetRasterYSize(file.get())};
}

std::optional<std::array<double, 6>> GdalGeoTransform(const QString& fileName) {
  UseAllDrivers();
  const TDataset file = Own(GDALOpen(QFile::encodeName(fileName).constData(), GA_ReadOnly));
  std::array<double, 6> t{};
  if (!file || GDALGetGeoTransform(file.get(), t.data()) != CE_None) return std::nullopt;
  return t;
}

bool GdalCrsIs(const QString& fileName, int epsg) {
  UseAllDrivers();
  // As GIS programs read it, with the .aux.xml beside it, which the program under test may have
  // told GDAL to leave alone.
  const QByteArray pam = CPLGetThreadLocalConfigOption("GDAL_PAM_ENABLED", "");
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "YES");
  const TDataset file = Own(GDALOpen(QFile::encodeName(fileName).constData(), GA_ReadOnly));
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", pam.isEmpty() ? nullptr : pam.constData());
  OGRSpatialReferenceH srs = file ? GDALGetSpatialRef(file.get()) : nullptr;
  if (!srs) return false;
  OGRSpatialReferenceH expected = OSRNewSpatialReference(nullptr);
  OSRImportFromEPSG(expected, epsg);
  const char* options[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", nullptr};
  const bool same = OSRIsSameEx(srs, expected, options);
  OSRDestroySpatialReference(expected);
  return same;
}
