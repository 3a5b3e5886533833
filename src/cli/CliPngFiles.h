#pragma once

#include "Streams.h"

#include <cstdint>
#include <memory>
#include <vector>

struct z_stream_s;

// Writes a PNG picture (8-bit RGB, not interlaced) into a stream row by row, so that a picture of
// any size needs memory for a few rows only. Each row takes the filter that promises the smallest
// output by the usual rule: the least sum of the filtered bytes read as signed numbers.
class TPngWriter {
 public:
  TPngWriter(THandleStream& stream, int width, int height);
  ~TPngWriter();
  TPngWriter(const TPngWriter&) = delete;
  TPngWriter& operator=(const TPngWriter&) = delete;

  // The next row, from the top, as QImage::Format_RGB32 pixels (0xFFRRGGBB).
  void WriteRow(const uint32_t* pixels);
  // Ends the picture; every row must have been written.
  void Finish();

 private:
  void WriteChunk(const char* type, const uint8_t* data, size_t size);
  void Compress(const uint8_t* data, size_t size, bool last);

  THandleStream& FStream;
  int FWidth;
  int FHeight;
  int FRows = 0;
  std::unique_ptr<z_stream_s> FZip;
  std::vector<uint8_t> FPrevious;  // the last row's bytes, zero before the first
  std::vector<uint8_t> FCurrent;
  std::vector<uint8_t> FFiltered[5];  // 1 + the row's bytes for each filter
  std::vector<uint8_t> FOut;          // compressed bytes waiting for their chunk
};
