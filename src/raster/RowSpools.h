#pragma once

#include "FileUtils.h"
#include "StoredRows.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A private temporary file that a raster's rows are decoded into once, from the top down, for a
// file that gives its rows cheaply only in that order (PNG, JPEG, a drawn PDF page, a TIFF in one
// strip). Its rows are kept as a bottom-up BMP keeps them, and read like those of a BMP kept
// stable: by rectangle, whole, copied, or mapped. A read of rows not yet there decodes every row
// above them first; the memory this takes stays within a few megabytes whatever the raster's size.
class TRowSpool {
 public:
  // Reads the rectangle into DIB rows, top row first, stride bytes apart; raises on failure.
  using TSource =
      std::function<void(int x, int y, int width, int height, uint8_t* rows, int64_t stride)>;

  // The source is read in rectangles made of whole blocks of blockWidth × blockHeight pixels.
  TRowSpool(int width, int height, int bitsPerPixel, int blockWidth, int blockHeight,
            TSource source);
  ~TRowSpool();
  TRowSpool(const TRowSpool&) = delete;
  TRowSpool& operator=(const TRowSpool&) = delete;

  // Decodes the rows before rowEnd that are not there yet; safe from several threads.
  void Fill(int rowEnd);
  bool Full() const { return FFilled.load() == FHeight; }
  const TStoredRows& Rows() const { return FRows; }
  THandleStream& Stream() { return *FStream; }
  // The whole file mapped for reading once every row is there; null before, or where the system
  // cannot map it.
  const uint8_t* Mapped();
  // Lets the system take back the memory of the mapped rows read so far.
  void ReleaseMapped();

 private:
  void FillChunk(int y, int rows);

  int FWidth;
  int FHeight;
  int FBitsPerPixel;
  int FBlockWidth;
  int FBlockHeight;
  TSource FSource;
  TStoredRows FRows;
  std::unique_ptr<TTempFileStream> FStream;
  std::mutex FLock;
  std::atomic<int> FFilled{0};
  std::vector<uint8_t> FBuffer;
  uint8_t* FMap = nullptr;
};
