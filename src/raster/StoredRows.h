#pragma once

#include "RasterFiles.h"

#include <cstdint>
#include <memory>
#include <vector>

// Turns rows stored top first into rows stored bottom first, or back.
void ReverseRows(uint8_t* rows, int64_t rowSize, int height);

// Rows of pixels stored one after another in a file, as a BMP keeps them: each row padded to 4
// bytes, the bottom row first unless the rows are stored top first. The arithmetic of reading
// rectangles of them, shared by every file that stores its pixels so.
class TStoredRows {
 public:
  TStoredRows() = default;
  // offset: where the first stored row begins in the file.
  TStoredRows(int64_t offset, int width, int height, int bitsPerPixel, bool topDown);

  int64_t RowSize() const { return FRowSize; }
  int64_t ByteSize() const { return FRowSize * FHeight; }
  bool TopDown() const { return FTopDown; }
  // Where raster row y is stored in the file.
  int64_t RowOffset(int y) const {
    return FOffset + (FTopDown ? y : FHeight - 1 - int64_t{y}) * FRowSize;
  }

  // The DIBs of the columns over the rows y .. y + height - 1, read with few large reads; each
  // DIB carries a copy of the header with its own size written in. Rows and columns outside the
  // raster are an internal error.
  std::vector<std::unique_ptr<TRasterFileDib>> ReadBand(
      TRasterFileProvider& provider, THandleStream& stream, const std::vector<uint8_t>& header,
      int y, int height, const std::vector<TDibColumn>& columns) const;
  // The rows y .. y + height - 1 read whole into the buffer.
  TPixelRows ReadRows(THandleStream& stream, int y, int height, std::vector<uint8_t>& buffer) const;
  // Copies the stored rows y .. y + height - 1 into the target as a bottom-up file keeps them;
  // false (and nothing written) when they are stored top first.
  bool CopyRowsTo(THandleStream& stream, int y, int height, THandleStream& target,
                  int64_t targetOffset) const;
  // The rows in place, where the whole file is mapped at fileStart.
  TPixelRows Mapped(const uint8_t* fileStart) const;

 private:
  void CheckRows(int y, int height, const char* operation) const;

  int64_t FOffset = 0;
  int FWidth = 0;
  int FHeight = 0;
  int FBitsPerPixel = 0;
  bool FTopDown = false;
  int64_t FRowSize = 0;
};
