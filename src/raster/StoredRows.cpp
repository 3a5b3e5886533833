#include "StoredRows.h"

#include "RecArrays.h"

#include <algorithm>
#include <cstring>

void ReverseRows(uint8_t* rows, int64_t rowSize, int height) {
  for (int j = 0; j < height / 2; ++j)
    std::swap_ranges(rows + j * rowSize, rows + (j + 1) * rowSize,
                     rows + (height - 1 - j) * rowSize);
}

TStoredRows::TStoredRows(int64_t offset, int width, int height, int bitsPerPixel, bool topDown)
    : FOffset(offset),
      FWidth(width),
      FHeight(height),
      FBitsPerPixel(bitsPerPixel),
      FTopDown(topDown),
      FRowSize(DibRowSize(width, bitsPerPixel)) {}

void TStoredRows::CheckRows(int y, int height, const char* operation) const {
  CheckInternal(y >= 0 && height > 0 && y <= FHeight - height, QLatin1String(operation),
                QStringLiteral("строки вне растра"));
}

std::vector<std::unique_ptr<TRasterFileDib>> TStoredRows::ReadBand(
    TRasterFileProvider& provider, THandleStream& stream, const std::vector<uint8_t>& header, int y,
    int height, const std::vector<TDibColumn>& columns) const {
  CheckRows(y, height, "TRasterFile.GetDibSection");
  for (const TDibColumn& column : columns)
    CheckInternal(column.Left >= 0 && column.Width > 0 && column.Left <= FWidth - column.Width,
                  QStringLiteral("TRasterFile.GetDibSection"),
                  QStringLiteral("столбцы вне растра"));
  const int bpp = FBitsPerPixel;
  struct TSpan {
    int64_t ByteX;   // first byte of the column in a stored row
    int64_t Bytes;   // bytes holding its pixels
    int64_t DibRow;  // bytes of a DIB row
  };
  std::vector<std::unique_ptr<TRasterFileDib>> dibs;
  std::vector<TSpan> spans;
  for (const TDibColumn& column : columns) {
    // A DIB starts on a whole byte of the file: 1- and 4-bit rows begin a little left of x.
    const int64_t byteX = static_cast<int64_t>(column.Left) * bpp / 8;
    const int startX = static_cast<int>(byteX * 8 / bpp);
    const int dibWidth = column.Left + column.Width - startX;
    auto dib = std::make_unique<TRasterFileDib>();
    dib->Header = header;
    TBitmapInfoHeader* info = InfoHeaderOf(dib->Header.data());
    info->biWidth = dibWidth;
    info->biHeight = height;
    dib->PixelOffset = column.Left - startX;
    dib->ImageSize = DibRowSize(dibWidth, bpp) * height;
    // The rows are read into it; what the reads leave is zeroed below.
    dib->Bits = TPixelBuffer(dib->ImageSize, TPixelBuffer::TFill::Uninitialised);
    const int64_t byteEnd = (static_cast<int64_t>(column.Left + column.Width) * bpp + 7) / 8;
    spans.push_back({byteX, byteEnd - byteX, dib->ImageSize / height});
    dibs.push_back(std::move(dib));
  }
  // The band's rows lie one after another in the file; bottom-up rows store the band's bottom
  // row first, top-down rows its top row. DIB row 0 is the bottom row either way.
  const int64_t firstStored = FTopDown ? RowOffset(y) : RowOffset(y + height - 1);
  std::vector<TReadPiece> pieces;
  pieces.reserve(static_cast<size_t>(height) * columns.size());
  for (int i = 0; i < height; ++i) {
    const int dibRow = FTopDown ? height - 1 - i : i;
    const int64_t rowOffset = firstStored + i * FRowSize;
    for (size_t c = 0; c < columns.size(); ++c) {
      uint8_t* row = dibs[c]->Bits.Data() + dibRow * spans[c].DibRow;
      pieces.push_back({rowOffset + spans[c].ByteX, spans[c].Bytes, row});
      std::memset(row + spans[c].Bytes, 0, spans[c].DibRow - spans[c].Bytes);
    }
  }
  provider.ReadPieces(stream, pieces);
  return dibs;
}

TPixelRows TStoredRows::ReadRows(THandleStream& stream, int y, int height,
                                 std::vector<uint8_t>& buffer) const {
  CheckRows(y, height, "TRasterFile.ReadRows");
  buffer.resize(static_cast<size_t>(height * FRowSize));
  const int64_t first = FTopDown ? RowOffset(y) : RowOffset(y + height - 1);
  stream.ReadBufferAt(first, buffer.data(), height * FRowSize);
  if (FTopDown) return {buffer.data(), FRowSize};
  return {buffer.data() + (height - 1) * FRowSize, -FRowSize};
}

bool TStoredRows::CopyRowsTo(THandleStream& stream, int y, int height, THandleStream& target,
                             int64_t targetOffset) const {
  if (FTopDown) return false;
  CheckRows(y, height, "TRasterFile.CopyRowsTo");
  stream.CopyRangeTo(RowOffset(y + height - 1), target, targetOffset, height * FRowSize);
  return true;
}

TPixelRows TStoredRows::Mapped(const uint8_t* fileStart) const {
  return {fileStart + RowOffset(0), FTopDown ? FRowSize : -FRowSize};
}
