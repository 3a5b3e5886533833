#include "RasterTestUtils.h"

#include "RasterManagers.h"

#include <QFile>

#include <csignal>

#include <gtest/gtest.h>

namespace {

void PutLe(QByteArray& bytes, int offset, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

QByteArray BmpBytes(const TBmpLayout& layout) {
  const int height = std::abs(layout.Height);
  const int rowSize = static_cast<int>(DibRowSize(layout.Width, layout.BitsPerPixel));
  const int paletteBytes = static_cast<int>(layout.Palette.size()) * 4;
  const int bitsOffset = 54 + paletteBytes;
  QByteArray bytes(bitsOffset + rowSize * height, '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutLe(bytes, 2, static_cast<uint32_t>(bytes.size()), 4);
  PutLe(bytes, 10, bitsOffset, 4);
  PutLe(bytes, 14, 40, 4);
  PutLe(bytes, 18, static_cast<uint32_t>(layout.Width), 4);
  PutLe(bytes, 22, static_cast<uint32_t>(layout.Height), 4);
  PutLe(bytes, 26, 1, 2);
  PutLe(bytes, 28, layout.BitsPerPixel, 2);
  PutLe(bytes, 34, rowSize * height, 4);
  PutLe(bytes, 38, static_cast<uint32_t>(layout.XPelsPerMeter), 4);
  PutLe(bytes, 42, static_cast<uint32_t>(layout.YPelsPerMeter), 4);
  PutLe(bytes, 46, static_cast<uint32_t>(layout.Palette.size()), 4);
  for (size_t i = 0; i < layout.Palette.size(); ++i) {
    const uint32_t c = layout.Palette[i];
    bytes[54 + 4 * static_cast<int>(i)] = static_cast<char>(c >> 16);
    bytes[55 + 4 * static_cast<int>(i)] = static_cast<char>(c >> 8);
    bytes[56 + 4 * static_cast<int>(i)] = static_cast<char>(c);
  }
  for (int y = 0; y < height; ++y) {
    const int fileRow = layout.Height > 0 ? height - 1 - y : y;
    auto* row = reinterpret_cast<uint8_t*>(bytes.data()) + bitsOffset + fileRow * rowSize;
    for (int x = 0; x < layout.Width; ++x) {
      const uint32_t v = layout.Pixel(x, y);
      switch (layout.BitsPerPixel) {
        case 1:
          if (v & 1) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
          break;
        case 4:
          row[x / 2] |= static_cast<uint8_t>(x % 2 ? v & 15 : (v & 15) << 4);
          break;
        case 8:
          row[x] = static_cast<uint8_t>(v);
          break;
        case 24:
          row[3 * x] = static_cast<uint8_t>(v >> 16);
          row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
          row[3 * x + 2] = static_cast<uint8_t>(v);
          break;
        default:
          for (int i = 0; i < layout.BitsPerPixel / 8; ++i)
            row[x * layout.BitsPerPixel / 8 + i] = static_cast<uint8_t>(v >> (8 * i));
          break;
      }
    }
  }
  return bytes;
}

void WriteSparseBmp(const QString& fileName, const TBmpLayout& layout) {
  TBmpLayout corner = layout;
  corner.Width = 1;
  corner.Height = 1;
  const int bitsOffset = 54 + static_cast<int>(layout.Palette.size()) * 4;
  QByteArray header = BmpBytes(corner).left(bitsOffset);
  PutLe(header, 18, static_cast<uint32_t>(layout.Width), 4);
  PutLe(header, 22, static_cast<uint32_t>(layout.Height), 4);
  WriteFile(fileName, header);
  ASSERT_TRUE(QFile::resize(fileName, bitsOffset + DibRowSize(layout.Width, layout.BitsPerPixel) *
                                                       std::abs(int64_t{layout.Height})));
}

void WriteFile(const QString& fileName, const QByteArray& bytes) {
  QFile file(fileName);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << fileName.toStdString();
  ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

uint32_t FileLe32(const QByteArray& bytes, int offset) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData()) + offset;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t FileLe16(const QByteArray& bytes, int offset) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData()) + offset;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

std::vector<uint32_t> GreyPalette(int n) {
  std::vector<uint32_t> palette;
  for (int i = 0; i < n; ++i) {
    const uint32_t g = n > 1 ? static_cast<uint32_t>(i * 255 / (n - 1)) : 0;
    palette.push_back(g | (g << 8) | (g << 16));
  }
  return palette;
}

namespace {

// One channel of a bit-field pixel, scaled exactly to 0..255.
int Channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1)) ++shift;
  const uint64_t max = mask >> shift;
  const uint64_t value = (pixel & mask) >> shift;
  return static_cast<int>((value * 255 + max / 2) / max);
}

}  // namespace

QImage DecodeOurBmp(const QByteArray& bytes) {
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M' || FileLe32(bytes, 14) != 40)
    return {};
  const int width = static_cast<int32_t>(FileLe32(bytes, 18));
  const int storedHeight = static_cast<int32_t>(FileLe32(bytes, 22));
  const int height = std::abs(storedHeight);
  const int bpp = FileLe16(bytes, 28);
  const uint32_t compression = FileLe32(bytes, 30);
  const int bitsOffset = static_cast<int>(FileLe32(bytes, 10));
  const int rowSize = static_cast<int>(DibRowSize(width, bpp));
  if (bitsOffset + static_cast<int64_t>(rowSize) * height > bytes.size()) return {};
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bpp == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0xFF00;
    masks[2] = 0xFF;
  }
  int paletteStart = 54;
  if (compression == BI_BITFIELDS) {
    for (int i = 0; i < 3; ++i) masks[i] = FileLe32(bytes, 54 + 4 * i);
    paletteStart += 12;
  } else if (compression != BI_RGB) {
    return {};
  }
  const int entries = std::min((bitsOffset - paletteStart) / 4, bpp <= 8 ? 1 << bpp : 0);
  const auto entry = [&](int index) -> QRgb {
    if (index >= entries) return qRgb(0, 0, 0);
    const auto* q = reinterpret_cast<const uint8_t*>(bytes.constData()) + paletteStart + 4 * index;
    return qRgb(q[2], q[1], q[0]);
  };
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    const int fileRow = storedHeight > 0 ? height - 1 - y : y;
    const auto* row =
        reinterpret_cast<const uint8_t*>(bytes.constData()) + bitsOffset + fileRow * rowSize;
    for (int x = 0; x < width; ++x) {
      QRgb rgb;
      switch (bpp) {
        case 1:
          rgb = entry((row[x / 8] >> (7 - x % 8)) & 1);
          break;
        case 4:
          rgb = entry(x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4);
          break;
        case 8:
          rgb = entry(row[x]);
          break;
        case 24:
          rgb = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
          break;
        default: {
          uint32_t v = 0;
          for (int i = 0; i < bpp / 8; ++i)
            v |= static_cast<uint32_t>(row[x * bpp / 8 + i]) << (8 * i);
          rgb = qRgb(Channel(v, masks[0]), Channel(v, masks[1]), Channel(v, masks[2]));
          break;
        }
      }
      image.setPixel(x, y, rgb);
    }
  }
  return image;
}

TStatusRecorder::TStatusRecorder()
    : FInfo([this](int slot) { return FSlots[slot]; },
            [this](int slot, const QString& text) {
              FSlots[slot] = text;
              FLog << QStringLiteral("%1:%2").arg(slot).arg(text);
              if (slot == FCancelSlot && text == FCancelText) FInfo.RequestCancel();
            }) {}

void TStatusRecorder::CancelWhenShown(int slot, const QString& text) {
  FCancelSlot = slot;
  FCancelText = text;
  FInfo.WithdrawCancel();
}

QStringList TStatusRecorder::Shown(int slot) const {
  QStringList texts;
  const QString prefix = QStringLiteral("%1:").arg(slot);
  for (const QString& entry : FLog)
    if (entry.startsWith(prefix)) texts << entry.mid(prefix.size());
  return texts;
}

std::unique_ptr<TRasterManager> TRasterFiles::Open(const TBmpLayout& layout, int64_t cacheSize,
                                                   const QString& name) {
  WriteFile(Path(name), BmpBytes(layout));
  auto raster = std::make_unique<TRasterManager>(&FProvider, cacheSize, FStatus.Info());
  raster->Open(Path(name));
  return raster;
}

TFileSizeLimit::TFileSizeLimit(uint64_t bytes) {
  std::signal(SIGXFSZ, SIG_IGN);
  getrlimit(RLIMIT_FSIZE, &FOld);
  rlimit limit = FOld;
  limit.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}

TFileSizeLimit::~TFileSizeLimit() {
  setrlimit(RLIMIT_FSIZE, &FOld);
}
