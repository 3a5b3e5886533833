#include "BmpFiles.h"

#include "RecArrays.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr int kFileHeaderSize = 14;

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

[[noreturn]] void RaiseBadFile(const QString& fileName, const QString& reason) {
  throw Exception(QStringLiteral("Ошибка открытия растрового файла %1: %2").arg(fileName, reason));
}

bool IsOs2Version2(uint32_t headerSize) {
  return headerSize == 16 || headerSize == 64;
}

bool IsKnownHeaderSize(uint32_t headerSize) {
  switch (headerSize) {
    case 12:   // OS/2 1.x BITMAPCOREHEADER
    case 16:   // OS/2 2.x, shortened
    case 40:   // BITMAPINFOHEADER
    case 52:   // BITMAPV2INFOHEADER
    case 56:   // BITMAPV3INFOHEADER
    case 64:   // OS/2 2.x
    case 108:  // BITMAPV4HEADER
    case 124:  // BITMAPV5HEADER
      return true;
    default:
      return false;
  }
}

QString CompressionName(uint32_t compression, uint32_t headerSize) {
  if (IsOs2Version2(headerSize) && compression == 3) return QStringLiteral("Huffman 1D");
  if (IsOs2Version2(headerSize) && compression == BI_JPEG) return QStringLiteral("RLE24");
  switch (compression) {
    case BI_RLE8:
      return QStringLiteral("RLE8");
    case BI_RLE4:
      return QStringLiteral("RLE4");
    case BI_JPEG:
      return QStringLiteral("JPEG");
    case BI_PNG:
      return QStringLiteral("PNG");
    default:
      return QStringLiteral("с кодом %1").arg(compression);
  }
}

// The header fields as the file states them, whatever its header version.
struct TFileHeaders {
  int64_t BitsOffset = 0;
  uint32_t HeaderSize = 0;
  TBitmapInfoHeader Info{};
  uint32_t Masks[3] = {};  // red, green, blue bit fields
  int MaskBytesAfterHeader = 0;
  int PaletteEntrySize = 4;
};

TFileHeaders ReadHeaders(THandleStream& stream, int64_t fileSize, const QString& fileName) {
  TFileHeaders h;
  uint8_t start[kFileHeaderSize + 4];
  if (fileSize < static_cast<int64_t>(sizeof start))
    RaiseBadFile(fileName, QStringLiteral("файл короче заголовка BMP"));
  stream.ReadBufferAt(0, start, sizeof start);
  if (start[0] != 'B' || start[1] != 'M')
    RaiseBadFile(fileName, QStringLiteral("это не файл BMP (нет подписи «BM»)"));
  h.BitsOffset = Le32(start + 10);
  h.HeaderSize = Le32(start + kFileHeaderSize);
  if (!IsKnownHeaderSize(h.HeaderSize))
    RaiseBadFile(fileName, QStringLiteral("неизвестный размер заголовка (%1 байт)")
                               .arg(static_cast<qint64>(h.HeaderSize)));
  if (fileSize < kFileHeaderSize + static_cast<int64_t>(h.HeaderSize))
    RaiseBadFile(fileName, QStringLiteral("файл короче заголовка BMP"));
  std::vector<uint8_t> bytes(h.HeaderSize);
  stream.ReadBufferAt(kFileHeaderSize, bytes.data(), h.HeaderSize);
  TBitmapInfoHeader& info = h.Info;
  if (h.HeaderSize == 12) {
    info.biWidth = Le16(bytes.data() + 4);
    info.biHeight = Le16(bytes.data() + 6);
    info.biPlanes = Le16(bytes.data() + 8);
    info.biBitCount = Le16(bytes.data() + 10);
    h.PaletteEntrySize = 3;
  } else {
    // The shorter OS/2 2.x header is the start of the longer one; the fields it lacks are zero.
    std::memcpy(&info, bytes.data(), std::min<size_t>(h.HeaderSize, sizeof info));
  }
  info.biSize = BitmapInfoHeaderSize;
  if (info.biCompression == BI_BITFIELDS || info.biCompression == BI_ALPHABITFIELDS) {
    if (h.HeaderSize >= 52) {
      for (int i = 0; i < 3; ++i) h.Masks[i] = Le32(bytes.data() + 40 + 4 * i);
    } else if (h.HeaderSize == 40) {
      h.MaskBytesAfterHeader = info.biCompression == BI_BITFIELDS ? 12 : 16;
    }
  }
  return h;
}

void CheckFormat(const TFileHeaders& h, const QString& fileName) {
  const TBitmapInfoHeader& info = h.Info;
  if (info.biPlanes != 1)
    RaiseBadFile(fileName,
                 QStringLiteral("число плоскостей %1, а должно быть 1").arg(info.biPlanes));
  const uint32_t compression = info.biCompression;
  const bool bitFields = !IsOs2Version2(h.HeaderSize) &&
                         (compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS);
  if (compression != BI_RGB && !bitFields)
    RaiseBadFile(fileName, QStringLiteral("сжатие %1 не поддерживается")
                               .arg(CompressionName(compression, h.HeaderSize)));
  const int bpp = info.biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    RaiseBadFile(fileName,
                 QStringLiteral("неподдерживаемое количество битов на пиксель (%1)").arg(bpp));
  if (bitFields && bpp != 16 && bpp != 32)
    RaiseBadFile(fileName, QStringLiteral("битовые маски цветов при %1 %2 на пиксель "
                                          "не поддерживаются")
                               .arg(bpp)
                               .arg(PluralForm(bpp, QStringLiteral("бите"), QStringLiteral("битах"),
                                               QStringLiteral("битах"))));
  if (info.biWidth <= 0 || info.biHeight == 0 || info.biHeight == INT32_MIN)
    RaiseBadFile(
        fileName,
        QStringLiteral("неверные размеры растра (%1 × %2)").arg(info.biWidth).arg(info.biHeight));
}

}  // namespace

std::unique_ptr<TRasterFile> TBmpFile::Create(TRasterFileProvider* provider) {
  return std::make_unique<TBmpFile>(provider);
}

void TBmpFile::Open(const QString& fileName) {
  FFileName = fileName;
  FHeader.clear();
  FStable = Provider()->OpenStableStream(QStringLiteral("TBmpFile.Open"), fileName);
  if (!FStable) FOpen = Provider()->OpenStream(QStringLiteral("TBmpFile.Open"), fileName);
  FStream = FStable ? FStable.get() : FOpen.get();
  const int64_t fileSize = FStream->Size();
  TFileHeaders h = ReadHeaders(*FStream, fileSize, fileName);
  CheckFormat(h, fileName);
  TBitmapInfoHeader& info = h.Info;
  const int bpp = info.biBitCount;

  // Every size below is checked against the file before anything is allocated or read.
  const int64_t masksStart = kFileHeaderSize + static_cast<int64_t>(h.HeaderSize);
  const int64_t paletteStart = masksStart + h.MaskBytesAfterHeader;
  if (paletteStart > fileSize) RaiseBadFile(fileName, QStringLiteral("файл короче заголовка BMP"));
  const int64_t nominal = bpp <= 8 ? int64_t{1} << bpp : 0;
  const int64_t declared =
      h.HeaderSize != 12 && info.biClrUsed != 0 ? static_cast<int64_t>(info.biClrUsed) : nominal;
  // Only the OS/2 1.x header has no count of colours: its table ends where the pixels begin.
  const bool counted = h.HeaderSize != 12;
  if (counted && declared * h.PaletteEntrySize > fileSize - paletteStart)
    RaiseBadFile(fileName,
                 QStringLiteral("палитра (%1 цветов) не умещается в файле").arg(declared));
  if (h.BitsOffset < paletteStart)
    RaiseBadFile(
        fileName,
        QStringLiteral("смещение данных растра (%1) указывает внутрь заголовка").arg(h.BitsOffset));
  if (counted && h.BitsOffset < paletteStart + declared * h.PaletteEntrySize)
    RaiseBadFile(
        fileName,
        QStringLiteral("смещение данных растра (%1) указывает внутрь палитры").arg(h.BitsOffset));
  if (h.BitsOffset > fileSize)
    RaiseBadFile(
        fileName,
        QStringLiteral("смещение данных растра (%1) указывает за конец файла").arg(h.BitsOffset));
  const int64_t height = std::abs(static_cast<int64_t>(info.biHeight));
  const int64_t rowSize = DibRowSize(info.biWidth, bpp);
  const int64_t available = fileSize - h.BitsOffset;
  if (available / height < rowSize)
    // The rows may need more than 63 bits can count (2147483647 rows of 8 GB); never more than 64.
    RaiseBadFile(fileName, QStringLiteral("в файле не хватает данных растра: %1 байт вместо %2")
                               .arg(available)
                               .arg(static_cast<quint64>(rowSize) * static_cast<quint64>(height)));

  // The colour table as far as it lies before the pixels, and no longer than the depth can use;
  // a table of a depth without indices is kept only up to the size of the longest one.
  int64_t held = std::min(declared, (h.BitsOffset - paletteStart) / h.PaletteEntrySize);
  held = std::min<int64_t>(held, bpp <= 8 ? nominal : 256);
  if (held != declared) info.biClrUsed = static_cast<uint32_t>(held);
  if (info.biCompression == BI_ALPHABITFIELDS) info.biCompression = BI_BITFIELDS;
  if (IsOs2Version2(h.HeaderSize)) info.biCompression = BI_RGB;
  const int maskBytes = info.biCompression == BI_BITFIELDS ? 12 : 0;

  std::vector<uint8_t> header(BitmapInfoHeaderSize + maskBytes + held * 4, 0);
  std::memcpy(header.data(), &info, sizeof info);
  if (h.MaskBytesAfterHeader > 0)
    FStream->ReadBufferAt(masksStart, header.data() + BitmapInfoHeaderSize, maskBytes);
  else if (maskBytes > 0)
    std::memcpy(header.data() + BitmapInfoHeaderSize, h.Masks, maskBytes);
  uint8_t* palette = header.data() + BitmapInfoHeaderSize + maskBytes;
  if (h.PaletteEntrySize == 4) {
    FStream->ReadBufferAt(paletteStart, palette, held * 4);
  } else {
    std::vector<uint8_t> triples(held * 3);
    FStream->ReadBufferAt(paletteStart, triples.data(), held * 3);
    for (int64_t i = 0; i < held; ++i) std::memcpy(palette + 4 * i, triples.data() + 3 * i, 3);
  }
  FStream->CheckIntact();
  FHeader = std::move(header);
  FRows = TStoredRows(h.BitsOffset, info.biWidth, static_cast<int>(height), bpp, info.biHeight < 0);
}

int TBmpFile::GetWidth() {
  return Info().biWidth;
}

int TBmpFile::GetHeight() {
  return std::abs(Info().biHeight);
}

int TBmpFile::GetBitsPerPixel() {
  return Info().biPlanes * Info().biBitCount;
}

std::unique_ptr<TRasterFileDib> TBmpFile::GetDibSection(int x, int y, int width, int height) {
  std::vector<std::unique_ptr<TRasterFileDib>> dibs = GetDibBand(y, height, {{x, width}});
  return std::move(dibs.front());
}

std::vector<std::unique_ptr<TRasterFileDib>> TBmpFile::GetDibBand(
    int y, int height, const std::vector<TDibColumn>& columns) {
  std::vector<std::unique_ptr<TRasterFileDib>> dibs =
      FRows.ReadBand(*Provider(), *FStream, FHeader, y, height, columns);
  // Bytes read after a failed copy, or from a file without a lease, may be another program's.
  FStream->CheckIntact();
  return dibs;
}

bool TBmpFile::CopyRowsTo(int y, int height, THandleStream& target, int64_t targetOffset) {
  if (!FStable || !FRows.CopyRowsTo(*FStable, y, height, target, targetOffset)) return false;
  FStable->CheckIntact();
  return true;
}

TPixelRows TBmpFile::ReadRows(int y, int height, std::vector<uint8_t>& buffer) {
  if (!FStable) return TRasterFile::ReadRows(y, height, buffer);
  const TPixelRows rows = FRows.ReadRows(*FStable, y, height, buffer);
  // Bytes read after a failed copy may be another program's.
  FStable->CheckIntact();
  return rows;
}

TPixelRows TBmpFile::MappedRows() {
  if (!FStable || !FStable->Mapped()) return {};
  return FRows.Mapped(FStable->Mapped());
}

void TBmpFile::CheckMappedRows() {
  if (FStable) FStable->CheckIntact();
}

void TBmpFile::ReleaseMappedRows() {
  if (FStable) FStable->ReleaseMapped();
}

void TBmpFile::GetHeaderInfo(QStringList& lines) {
  const TBitmapInfoHeader& info = Info();
  const auto line = [&](const char* name, qint64 value) {
    lines << QStringLiteral("%1:\t%2").arg(QLatin1String(name)).arg(value);
  };
  line("biWidth", info.biWidth);
  line("biHeight", info.biHeight);
  line("biPlanes", info.biPlanes);
  line("biBitCount", info.biBitCount);
  line("biCompression", static_cast<int32_t>(info.biCompression));
  line("biSizeImage", static_cast<int32_t>(info.biSizeImage));
  line("biXPelsPerMeter", info.biXPelsPerMeter);
  line("biYPelsPerMeter", info.biYPelsPerMeter);
  line("biClrUsed", static_cast<int32_t>(info.biClrUsed));
  line("biClrImportant", static_cast<int32_t>(info.biClrImportant));
}

TRasterFileFormat TBmpFile::Format() {
  const TBitmapInfoHeader& info = Info();
  TRasterFileFormat format = WrittenBmpFormat(GetBitsPerPixel());
  if (info.biCompression == BI_BITFIELDS)
    format.Compression = QStringLiteral("нет (битовые маски)");
  if (info.biHeight < 0) format.Layout = QStringLiteral("строки сверху вниз");
  return format;
}

TRasterFileFormat WrittenBmpFormat(int bitsPerPixel) {
  TRasterFileFormat format;
  format.Name = QStringLiteral("BMP");
  format.Compression = QStringLiteral("нет");
  format.Layout = QStringLiteral("строки снизу вверх");
  format.Depth = QStringLiteral("%1 бит на пиксель").arg(bitsPerPixel);
  format.WrittenAs = TRasterFormat::Bmp;
  return format;
}

void RegisterBmpFormat(TRasterFileProvider* provider) {
  provider->RegisterFormat(QStringLiteral("Растры Windows"), QStringLiteral("*.bmp"),
                           &TBmpFile::Create, TRasterFormat::Bmp);
}
