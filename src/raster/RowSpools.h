#pragma once

#include "FileUtils.h"
#include "StoredRows.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A private temporary file that a raster's rows are decoded into once, from the top down. Its
// rows are kept as a bottom-up BMP keeps them, and read like those of a BMP kept stable: by
// rectangle, whole, copied, or mapped. A read of rows not yet there decodes every row above them
// first; the memory this takes stays within a few megabytes per core whatever the raster's size.
class TRowSpool {
 public:
  // Reads the rectangle into DIB rows, top row first, stride bytes apart; raises on failure.
  // reader: which of the workers' threads asks, for a source that reads on several at once.
  using TSource = std::function<void(int reader, int x, int y, int width, int height, uint8_t* rows,
                                     int64_t stride)>;

  // Raises when what the source gave may not be what it held when the spool began.
  using TCheck = std::function<void()>;

  // The source is read in rectangles made of whole blocks of blockWidth × blockHeight pixels;
  // with parallel, several rectangles at once on the shared workers' threads, each numbered by
  // its thread. The rows of each round of reads count as there once check has passed, on one
  // thread.
  TRowSpool(int width, int height, int bitsPerPixel, int blockWidth, int blockHeight, bool parallel,
            TSource source, TCheck check);
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
  void FillChunk(int reader, int y, int rows);

  int FWidth;
  int FHeight;
  int FBitsPerPixel;
  int FBlockWidth;
  int FBlockHeight;
  bool FParallel;
  TSource FSource;
  TCheck FCheck;
  TStoredRows FRows;
  std::unique_ptr<TTempFileStream> FStream;
  std::mutex FLock;
  std::atomic<int> FFilled{0};
  std::vector<std::vector<uint8_t>> FBuffers;  // one for each thread
  uint8_t* FMap = nullptr;
};
