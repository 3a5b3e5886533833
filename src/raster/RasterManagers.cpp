#include "RasterManagers.h"

#include "BmpFiles.h"
#include "PartReaders.h"
#include "PixelCopies.h"
#include "RecArrays.h"
#include "TiffWriters.h"
#include "Workers.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <fcntl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// A band of parts read or written at once holds at most this many bytes of pixels, so that very
// wide rasters stay within the memory the cache promises.
constexpr int64_t kBandBytes = 16 << 20;

constexpr int kFileHeaderSize = 14;

// Every part costs some 500 bytes of bookkeeping in memory however few its pixels (the part, its
// place in the list, its entry among the pictures of drawing): a raster of more parts would need
// more memory for that alone than the cache promises to stay within.
constexpr int64_t kMaxParts = 32768;

// Large writes are several times slower than the same bytes in pieces of this size: the kernel
// copies a piece into the page cache while it is still in the processor's cache.
constexpr int64_t kWritePiece = 128 * 1024;

void WriteInPieces(THandleStream& file, int64_t offset, const uint8_t* data, int64_t size) {
  for (int64_t done = 0; done < size; done += kWritePiece)
    file.WriteBufferAt(offset + done, data + done, std::min(kWritePiece, size - done));
}

// Writes bytes that lie together in the file and lets the system begin to put them on the disk,
// instead of all at once when the file is made durable.
void WriteBand(THandleStream& file, int64_t offset, const uint8_t* data, int64_t size) {
  WriteInPieces(file, offset, data, size);
  ::sync_file_range(file.Handle(), offset, size, SYNC_FILE_RANGE_WRITE);
}

// The bands of rows made while they are written hold about this many bytes: small enough that
// making the first band and writing the last one, which nothing overlaps, take little time.
constexpr int64_t kStreamBandBytes = 2 << 20;

// Writes the bands of a file on another thread while the caller assembles the next band, and lets
// the system begin to put each on the disk, instead of all at once when the file is made durable.
// A band's bytes must stay as they are until the next Write or Wait.
class TBandWriter {
 public:
  explicit TBandWriter(THandleStream& file) : FFile(file) {}
  // Only when something failed: the write is over before its bytes go, and the first error is
  // the one on its way.
  ~TBandWriter() {
    if (FWriting) try {
        Wait();
      } catch (...) {
      }
  }
  TBandWriter(const TBandWriter&) = delete;
  TBandWriter& operator=(const TBandWriter&) = delete;

  // rows of rowBytes each, rowStride apart in the file from offset on, one after another in data.
  void Write(int64_t offset, const uint8_t* data, int64_t rowBytes, int64_t rowStride, int rows) {
    Wait();
    FJob = [this, offset, data, rowBytes, rowStride, rows](int, int) {
      if (rowBytes == rowStride) {
        WriteBand(FFile, offset, data, rowBytes * rows);
        return;
      }
      for (int j = 0; j < rows; ++j)
        WriteInPieces(FFile, offset + j * rowStride, data + j * rowBytes, rowBytes);
      ::sync_file_range(FFile.Handle(), offset, (rows - 1) * rowStride + rowBytes,
                        SYNC_FILE_RANGE_WRITE);
    };
    FWorkers.Start(1, FJob);
    FWriting = true;
  }
  // Waits for the band being written; raises its error.
  void Wait() {
    if (!FWriting) return;
    FWriting = false;
    FWorkers.Finish();
  }

 private:
  THandleStream& FFile;
  TWorkers& FWorkers = TWorkers::Shared();
  TWorkers::TJob FJob;
  bool FWriting = false;
};

int ScreenDotsPerInch() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      return static_cast<int>(std::lround(screen->logicalDotsPerInchX()));
  return 96;
}

int DotsPerMetre(int32_t stored) {
  if (stored != 0) return stored;
  return static_cast<int>(std::nearbyint(ScreenDotsPerInch() / 0.0254));
}

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

int PartSide(int bitsPerPixel) {
  const int side = static_cast<int>(std::nearbyint(std::sqrt(1638400.0 / bitsPerPixel)));
  return side + 8 - side % 8;
}

TRasterManager::TRasterManager(TRasterFileProvider* provider, int64_t cacheSize,
                               TStatusInfo* statusInfo)
    : FProvider(provider), FCacheSize(cacheSize), FStatusInfo(statusInfo), FCache(cacheSize) {}

TRasterManager::~TRasterManager() = default;

void TRasterManager::RaisePointOutside(int x, int y) {
  throw Exception(Format(QStringLiteral("Не найден растр для точки (%d, %d)"), {x, y}));
}

TBitmapInfoHeader& TRasterManager::Info() const {
  CheckInternal(FHeader.size() >= BitmapInfoHeaderSize, QStringLiteral("TRasterManager"),
                QStringLiteral("растр не открыт"));
  return *InfoHeaderOf(const_cast<uint8_t*>(FHeader.data()));
}

void TRasterManager::SetHeader(std::vector<uint8_t> header) {
  FHeader = std::move(header);
  const TBitmapInfoHeader* info = InfoHeaderOf(FHeader.data());
  FBottomUp = info->biHeight > 0;
  // Only indexed depths have a colour table that pixels refer to; it follows the info header.
  int count = 0;
  if (FBitsPerPixel <= 8)
    count = static_cast<int>(
        std::min<int64_t>((HeaderSize() - BitmapInfoHeaderSize) / 4, int64_t{1} << FBitsPerPixel));
  FPalette.Assign(FHeader.data() + BitmapInfoHeaderSize, count);
}

void TRasterManager::SetSize(int width, int height) {
  FWidth = width;
  FHeight = height;
  FSide = PartSide(FBitsPerPixel);
  FPartsAcross = static_cast<int>((int64_t{width} + FSide - 1) / FSide);
  FPartsDown = static_cast<int>((int64_t{height} + FSide - 1) / FSide);
}

int TRasterManager::PartWidth(int column) const {
  return std::min(FSide, FWidth - column * FSide);
}

int TRasterManager::PartHeight(int row) const {
  return std::min(FSide, FHeight - row * FSide);
}

int TRasterManager::BandEnd(int firstColumn, int rows) const {
  int end = firstColumn;
  int64_t bytes = 0;
  do {
    bytes += DibRowSize(PartWidth(end), FBitsPerPixel) * rows;
    ++end;
  } while (end < FPartsAcross &&
           bytes + DibRowSize(PartWidth(end), FBitsPerPixel) * rows <= kBandBytes);
  return end;
}

void TRasterManager::Open(const QString& fileName, const TRasterOpenOptions& options) {
  CheckInternal(FParts.empty(), QStringLiteral("TRasterManager.Open"),
                QStringLiteral("растр уже заполнен"));
  FFileName = fileName;
  const std::shared_ptr<TRasterFile> file = OpenRasterFile(FProvider, fileName, options);
  FFileFormat = file->Format();
  FBitsPerPixel = file->GetBitsPerPixel();
  SetHeader(std::move(file->GetDibSection(0, 0, 1, 1)->Header));
  SetSize(file->GetWidth(), file->GetHeight());
  const int64_t parts = int64_t{FPartsAcross} * FPartsDown;
  if (parts > kMaxParts)
    throw Exception(QStringLiteral("Растр %1 слишком велик: %2 × %3 пикселей при %4 %5 на "
                                   "пиксель делятся на %6 %7, а их может быть не больше %8")
                        .arg(fileName)
                        .arg(FWidth)
                        .arg(FHeight)
                        .arg(FBitsPerPixel)
                        .arg(PluralForm(FBitsPerPixel, QStringLiteral("бите"),
                                        QStringLiteral("битах"), QStringLiteral("битах")))
                        .arg(parts)
                        .arg(PluralForm(parts, QStringLiteral("часть"), QStringLiteral("части"),
                                        QStringLiteral("частей")))
                        .arg(kMaxParts));
  // A stable file can give every part's pixels again: parts beyond the cache's budget are then
  // let go instead of being copied into the swap file.
  const bool stable = file->Stable();
  if (stable) FSource = file;
  TProgress progress(FStatusInfo, QStringLiteral("Считывание растра..."));
  for (int row = 0; row < FPartsDown; ++row) {
    progress.ShowPercent(row * 100 / FPartsDown);
    OpenRowOfParts(*file, row, stable);
  }
}

std::unique_ptr<TRasterFileDib> TRasterManager::ReadSourcePixels(const TRasterPart& part) {
  CheckInternal(FSource != nullptr, QStringLiteral("TRasterManager.ReadSourcePixels"),
                QStringLiteral("у растра нет исходного файла"));
  return FSource->GetDibSection(part.Left(), part.Top(), part.Width(), part.Height());
}

void TRasterManager::OpenRowOfParts(TRasterFile& file, int row, bool stable) {
  const int top = row * FSide;
  const int height = PartHeight(row);
  file.ReadAhead(top, height);
  // Reading every part, the cache would keep the last ones and let the others go again. From a
  // stable file the others need not be read into parts at all; their pictures, when wanted now,
  // are made from the file's rows.
  const int64_t kept = int64_t{FPartsAcross} * FPartsDown - FCache.MaxLoadedParts();
  int first = 0;
  if (stable) {
    std::vector<TRasterPart*> fileBacked;
    for (; first < FPartsAcross && int64_t{row} * FPartsAcross + first < kept; ++first) {
      FParts.push_back(
          TRasterPart::CreateFileBacked(this, first * FSide, top, PartWidth(first), height));
      fileBacked.push_back(FParts.back().get());
    }
    if (FPictures && !fileBacked.empty()) FPictures->PicturesFromFile(fileBacked, file);
  }
  // The rest of the row is read in bands of neighbouring parts, each with large reads.
  while (first < FPartsAcross) {
    const int end = BandEnd(first, height);
    std::vector<TDibColumn> columns;
    for (int c = first; c < end; ++c) columns.push_back({c * FSide, PartWidth(c)});
    std::vector<std::unique_ptr<TRasterFileDib>> dibs = file.GetDibBand(top, height, columns);
    for (size_t i = 0; i < dibs.size(); ++i) {
      FParts.push_back(TRasterPart::CreateFromDib(this, columns[i].Left, top, columns[i].Width,
                                                  height, *dibs[i], stable));
      dibs[i].reset();
    }
    first = end;
  }
}

void TRasterManager::TakeHeaderOf(TRasterManager& source) {
  FFileName = source.FFileName;
  FFileFormat = source.FFileFormat;
  FBitsPerPixel = source.FBitsPerPixel;
  const uint8_t* header = source.GetHeader();
  SetHeader(std::vector<uint8_t>(header, header + source.HeaderSize()));
  FBottomUp = source.FBottomUp;
}

void TRasterManager::CopyFrom(TRasterManager& source) {
  CheckInternal(FParts.empty(), QStringLiteral("TRasterManager.CopyFrom"),
                QStringLiteral("растр уже заполнен"));
  TakeHeaderOf(source);
  FSource = source.FSource;
  SetSize(source.FWidth, source.FHeight);
  TProgress progress(FStatusInfo, QStringLiteral("Копирование растра..."));
  const size_t count = source.FParts.size();
  for (size_t i = 0; i < count; ++i) {
    progress.ShowPercent(static_cast<int>(i * 100 / count));
    FParts.push_back(source.FParts[i]->Clone(this));
  }
}

bool TRasterManager::ClipRect(const TRect& rect, TRect& kept) const {
  if (rect.Left >= rect.Right || rect.Top >= rect.Bottom) return false;
  if (rect.Left <= 0 && rect.Top <= 0 && rect.Right >= FWidth && rect.Bottom >= FHeight)
    return false;
  const TRect inside{std::max(0, rect.Left), std::max(0, rect.Top), std::min(rect.Right, FWidth),
                     std::min(rect.Bottom, FHeight)};
  if (inside.Left >= inside.Right || inside.Top >= inside.Bottom) return false;
  kept = inside;
  return true;
}

bool TRasterManager::KeptRect(const TRect& rect, TRect& kept) const {
  if (!ClipRect(rect, kept)) return false;
  // Pixels move through colours; a depth without colour access is refused before anything
  // changes, instead of leaving an emptied raster behind.
  if (FBitsPerPixel != 1 && FBitsPerPixel != 4 && FBitsPerPixel != 8 && FBitsPerPixel != 24)
    throw Exception(QStringLiteral("Неподдерживаемое количество битов на цвет"));
  return true;
}

bool TRasterManager::Clip(const TRect& rect) {
  TRect kept;
  if (!KeptRect(rect, kept)) return false;
  // The raster's pixels go to a manager of their own, from which the kept ones are copied into
  // new parts here; a failure gives them back, so that the raster is as it was.
  TRasterManager old(FProvider, FCacheSize, FStatusInfo);
  old.TakeHeaderOf(*this);
  SwapPixels(old);
  try {
    CopyRect(old, kept);
  } catch (...) {
    FParts.clear();
    SwapPixels(old);
    throw;
  }
  return true;
}

bool TRasterManager::ClipFrom(TRasterManager& source, const TRect& rect) {
  CheckInternal(FParts.empty(), QStringLiteral("TRasterManager.ClipFrom"),
                QStringLiteral("растр уже заполнен"));
  TRect kept;
  if (!source.KeptRect(rect, kept)) return false;
  TakeHeaderOf(source);
  CopyRect(source, kept);
  return true;
}

void TRasterManager::SetAside() {
  while (!FCache.LoadedParts().empty()) FCache.Unload(*FCache.LoadedParts().back());
  if (FPictures) FPictures->ReleaseFine();
}

void TRasterManager::SwapPixels(TRasterManager& other) {
  std::swap(FWidth, other.FWidth);
  std::swap(FHeight, other.FHeight);
  std::swap(FSide, other.FSide);
  std::swap(FPartsAcross, other.FPartsAcross);
  std::swap(FPartsDown, other.FPartsDown);
  std::swap(FSource, other.FSource);
  FCache.SwapParts(other.FCache);
  std::swap(FParts, other.FParts);
  for (const std::unique_ptr<TRasterPart>& part : FParts) part->MoveTo(this);
  for (const std::unique_ptr<TRasterPart>& part : other.FParts) part->MoveTo(&other);
}

void TRasterManager::CopyRect(TRasterManager& source, const TRect& rect) {
  SetSize(rect.Width(), rect.Height());
  const TIndexRemap remap(FPalette, FBitsPerPixel);
  const TPartReaders readers(source);
  TPartReader reader(readers);
  TProgress progress(FStatusInfo, QStringLiteral("Отсечение растра ..."));
  TPixelProgress pixels(progress, int64_t{FWidth} * FHeight);
  // Part by part, and within a part row by row in runs that stay inside one part of the source:
  // each new part is made once, and the source is read where its pixels are.
  for (int row = 0; row < FPartsDown; ++row) {
    for (int column = 0; column < FPartsAcross; ++column) {
      FParts.push_back(TRasterPart::CreateEmpty(this, column * FSide, row * FSide,
                                                PartWidth(column), PartHeight(row)));
      TRasterPart& part = *FParts.back();
      uint8_t* bits = part.GetBitsToOverwrite();
      const int right = part.Left() + part.Width();
      for (int y = part.Top(); y < part.Top() + part.Height(); ++y) {
        const int stored = FBottomUp ? part.Top() + part.Height() - 1 - y : y - part.Top();
        uint8_t* target = bits + static_cast<ptrdiff_t>(stored) * part.RowSize();
        const int sourceY = y + rect.Top;
        for (int x = part.Left(); x < right;) {
          const TPixelRegion& region = reader.RegionOf(x + rect.Left, sourceY);
          const int runEnd = std::min(right, region.Right - rect.Left);
          CopyPixels(FBitsPerPixel, region.Row(sourceY), x + rect.Left - region.Left, target,
                     x - part.Left(), runEnd - x, &remap);
          pixels.Advance(runEnd - x);
          x = runEnd;
        }
      }
      // Pixels read from a mapped file count only while it still holds the bytes it had.
      readers.CheckMapped();
    }
    // The source rows of the next row of parts lie further down.
    readers.ReleaseMapped();
  }
}

uint8_t* TRasterManager::GetHeader() {
  TBitmapInfoHeader& info = Info();
  info.biWidth = FWidth;
  info.biHeight = FHeight;
  const int64_t imageSize = DibRowSize(FWidth, FBitsPerPixel) * FHeight;
  // A size beyond 32 bits cannot be stated; 0 means "as the rows need" for uncompressed pixels.
  info.biSizeImage = imageSize <= UINT32_MAX ? static_cast<uint32_t>(imageSize) : 0;
  return FHeader.data();
}

int TRasterManager::XPelsPerMeter() const {
  return DotsPerMetre(Info().biXPelsPerMeter);
}

int TRasterManager::YPelsPerMeter() const {
  return DotsPerMetre(Info().biYPelsPerMeter);
}

void TRasterManager::SetXPelsPerMeter(int value) {
  Info().biXPelsPerMeter = value;
}

void TRasterManager::SetYPelsPerMeter(int value) {
  Info().biYPelsPerMeter = value;
}

int64_t TRasterManager::WriteHeaders(THandleStream& file, int width, int height) {
  std::vector<uint8_t> header(FHeader.size());
  std::memcpy(header.data(), GetHeader(), header.size());
  TBitmapInfoHeader* info = InfoHeaderOf(header.data());
  info->biWidth = width;
  info->biHeight = height;
  const int64_t imageSize = DibRowSize(width, FBitsPerPixel) * height;
  // A size beyond 32 bits cannot be stated; 0 means "as the rows need" for uncompressed pixels.
  info->biSizeImage = imageSize <= UINT32_MAX ? static_cast<uint32_t>(imageSize) : 0;
  const int64_t bitsOffset = kFileHeaderSize + HeaderSize();
  const int64_t fileSize = bitsOffset + info->biSizeImage;
  uint8_t fileHeader[kFileHeaderSize] = {};
  PutLe16(fileHeader, 19778);  // "BM"
  PutLe32(fileHeader + 2, fileSize <= UINT32_MAX ? static_cast<uint32_t>(fileSize) : 0);
  PutLe32(fileHeader + 10, static_cast<uint32_t>(bitsOffset));
  file.WriteBufferAt(0, fileHeader, kFileHeaderSize);
  file.WriteBufferAt(kFileHeaderSize, header.data(), HeaderSize());
  return bitsOffset;
}

void TRasterManager::Save(const QString& fileName, const TSaveOptions& options) {
  if (options.Format == TRasterFormat::Tiff) {
    TReplacementFile file(fileName);
    WriteTiff(*this, file.Stream(), fileName, options.Compression);
    file.Commit(QStringLiteral("Ошибка при переименовании файла растра"));
    FFileName = fileName;
    FFileFormat = WrittenTiffFormat(options.Compression, FBitsPerPixel);
    return;
  }
  TReplacementFile file(fileName);
  WriteRows(file.Stream(), WriteHeaders(file.Stream(), FWidth, FHeight));
  file.Commit(QStringLiteral("Ошибка при переименовании файла растра"));
  FFileName = fileName;
  FFileFormat = WrittenBmpFormat(FBitsPerPixel);
}

void TRasterManager::SaveRows(const QString& fileName, TRowSource& source,
                              const QString& operation) {
  const int width = source.Width();
  const int height = source.Height();
  TReplacementFile file(fileName);
  THandleStream& stream = file.Stream();
  const int64_t bitsOffset = WriteHeaders(stream, width, height);
  TProgress progress(FStatusInfo, operation);
  const int64_t rowSize = DibRowSize(width, FBitsPerPixel);
  const int bandRows = static_cast<int>(std::clamp<int64_t>(kStreamBandBytes / rowSize, 1, height));
  // Two buffers take turns: the band before is written while the next one is made.
  std::vector<uint8_t> bands[2];
  std::function<void()> write;
  for (int top = height, turn = 0; top > 0; turn = 1 - turn) {
    const int count = std::min(bandRows, top);
    top -= count;
    for (int y = top + count - 1; y >= top; --y)
      progress.ShowPercent(
          static_cast<int>(std::nearbyint(static_cast<double>(height - y) / height * 100)));
    std::vector<uint8_t>& band = bands[turn];
    band.resize(static_cast<size_t>(rowSize * count));
    source.Fill(top, count, band.data(), rowSize, write);
    const int64_t offset = bitsOffset + int64_t{height - top - count} * rowSize;
    write = [&stream, offset, &band] {
      WriteBand(stream, offset, band.data(), static_cast<int64_t>(band.size()));
    };
  }
  write();
  file.Commit(QStringLiteral("Ошибка при переименовании файла растра"));
}

bool TRasterManager::CopyRowsFromSource(int row, THandleStream& file, int64_t offset) {
  // Only a row of parts whose pixels all still wait in the source file, unread, is copied as the
  // file stores it; then the bytes after each row's last pixel byte are made zero.
  if (!FSource) return false;
  for (int column = 0; column < FPartsAcross; ++column) {
    const TRasterPart* part = GetPart(column, row);
    if (part->Loaded() || !part->FileBacked()) return false;
  }
  const int height = PartHeight(row);
  if (!FSource->CopyRowsTo(row * FSide, height, file, offset)) return false;
  const int64_t rowSize = DibRowSize(FWidth, FBitsPerPixel);
  const int64_t pixelBytes = (int64_t{FWidth} * FBitsPerPixel + 7) / 8;
  if (pixelBytes < rowSize) {
    static const uint8_t zeros[4] = {};
    for (int j = 0; j < height; ++j)
      file.WriteBufferAt(offset + j * rowSize + pixelBytes, zeros, rowSize - pixelBytes);
  }
  ::sync_file_range(file.Handle(), offset, height * rowSize, SYNC_FILE_RANGE_WRITE);
  return true;
}

void TRasterManager::WriteRows(THandleStream& file, int64_t bitsOffset) {
  TProgress progress(FStatusInfo, QStringLiteral("Сохранение растра..."));
  const int64_t rowSize = DibRowSize(FWidth, FBitsPerPixel);
  // Two buffers take turns: one is written while the other is assembled.
  std::vector<uint8_t> bands[2];
  int turn = 0;
  TBandWriter writer(file);
  // Rows of parts from the bottom, as the file stores them; each band of parts is assembled with
  // every part loaded once, and its rows are written with as few writes as their layout allows.
  for (int row = FPartsDown - 1; row >= 0; --row) {
    const int top = row * FSide;
    const int height = PartHeight(row);
    const int64_t firstFileRow = FHeight - (top + height);
    for (int first = 0; first < FPartsAcross;) {
      const int end = BandEnd(first, height);
      const int64_t byteStart = int64_t{first} * FSide * FBitsPerPixel / 8;
      const int64_t byteEnd =
          end == FPartsAcross ? rowSize : int64_t{end} * FSide * FBitsPerPixel / 8;
      const int64_t bandRow = byteEnd - byteStart;
      const int64_t bandOffset = bitsOffset + firstFileRow * rowSize + byteStart;
      if (first == 0)
        for (int y = top + height - 1; y >= top; --y)
          progress.ShowPercent(
              static_cast<int>(std::nearbyint(static_cast<double>(FHeight - y) / FHeight * 100)));
      if (bandRow == rowSize && CopyRowsFromSource(row, file, bandOffset)) {
        first = end;
        continue;
      }
      std::vector<uint8_t>& band = bands[turn];
      turn = 1 - turn;
      band.resize(static_cast<size_t>(bandRow * height));
      // Parts whose pixels wait in the source file are read from it together, in large reads,
      // without passing through the cache; the others come from memory or the swap file.
      std::vector<TDibColumn> fromSource;
      for (int c = first; c < end; ++c) {
        TRasterPart* part = GetPart(c, row);
        if (!part->Loaded() && part->FileBacked()) fromSource.push_back({c * FSide, part->Width()});
      }
      std::vector<std::unique_ptr<TRasterFileDib>> dibs;
      if (!fromSource.empty()) dibs = FSource->GetDibBand(top, height, fromSource);
      size_t nextDib = 0;
      for (int c = first; c < end; ++c) {
        TRasterPart* part = GetPart(c, row);
        const int64_t offset = int64_t{c} * FSide * FBitsPerPixel / 8 - byteStart;
        const int64_t pixelBytes = (int64_t{part->Width()} * FBitsPerPixel + 7) / 8;
        const bool fileRows = nextDib < fromSource.size() && fromSource[nextDib].Left == c * FSide;
        const uint8_t* dibBits = fileRows ? dibs[nextDib]->Bits.Data() : nullptr;
        const int64_t dibRow = part->RowSize();
        // Band row j holds raster row top + height - 1 - j: the band's bottom row comes first,
        // as in a bottom-up DIB. A part in the swap file is read straight into the band's rows,
        // without going through the cache.
        const bool swapped = !fileRows && !part->Loaded();
        if (swapped)
          FCache.ReadRows(*part, band.data() + offset + (FBottomUp ? 0 : (height - 1) * bandRow),
                          FBottomUp ? bandRow : -bandRow, pixelBytes);
        for (int j = 0; j < height; ++j) {
          uint8_t* target = band.data() + j * bandRow + offset;
          if (!swapped)
            std::memcpy(target,
                        fileRows ? dibBits + j * dibRow : part->GetRow(top + height - 1 - j),
                        pixelBytes);
          // After the last pixel byte the row is padded with zeros.
          if (c == FPartsAcross - 1)
            std::memset(target + pixelBytes, 0, bandRow - offset - pixelBytes);
        }
        if (fileRows) dibs[nextDib++].reset();
      }
      writer.Write(bandOffset, band.data(), bandRow, rowSize, height);
      first = end;
    }
  }
  writer.Wait();
}
