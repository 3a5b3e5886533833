#include "RowSpools.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

namespace {

// The pixels decoded at once: large enough for few calls and large writes, small enough to count
// for little beside the raster's cache.
constexpr int64_t kChunkBytes = 8 << 20;

}  // namespace

TRowSpool::TRowSpool(int width, int height, int bitsPerPixel, int blockWidth, int blockHeight,
                     TSource source)
    : FWidth(width),
      FHeight(height),
      FBitsPerPixel(bitsPerPixel),
      FBlockWidth(std::clamp(blockWidth, 1, width)),
      FBlockHeight(std::clamp(blockHeight, 1, height)),
      FSource(std::move(source)),
      FRows(0, width, height, bitsPerPixel, false),
      FStream(TTempFileStream::CreateUnique(QStringLiteral("VLM"))) {}

TRowSpool::~TRowSpool() {
  if (FMap) ::munmap(FMap, static_cast<size_t>(FRows.ByteSize()));
}

void TRowSpool::Fill(int rowEnd) {
  if (FFilled.load() >= rowEnd) return;
  const std::lock_guard lock(FLock);
  // Rows of whole blocks, as many as the chunk's bytes allow.
  const int64_t fit = std::max<int64_t>(1, kChunkBytes / FRows.RowSize());
  const int rows = static_cast<int>(
      std::min<int64_t>(std::max<int64_t>(1, fit / FBlockHeight) * FBlockHeight, FHeight));
  while (FFilled.load() < std::min(rowEnd, FHeight)) {
    const int y = FFilled.load();
    const int height = std::min(rows, FHeight - y);
    FillChunk(y, height);
    FFilled.store(y + height);
  }
}

void TRowSpool::FillChunk(int y, int rows) {
  const int64_t rowSize = FRows.RowSize();
  // Columns of whole blocks, so that no block is decoded twice, as many as fit the chunk; a 1-bit
  // chunk starts on a whole byte.
  int columns = FWidth;
  if (rows * rowSize > 2 * kChunkBytes && (FBitsPerPixel != 1 || FBlockWidth % 8 == 0)) {
    const int64_t fit = kChunkBytes * 8 / (int64_t{rows} * FBitsPerPixel);
    columns = static_cast<int>(
        std::min<int64_t>(std::max<int64_t>(1, fit / FBlockWidth) * FBlockWidth, FWidth));
  }
  // Room for the padding a row's last bytes carry beyond the last column's.
  const int64_t stride = DibRowSize(columns, FBitsPerPixel) + 4;
  FBuffer.resize(static_cast<size_t>(stride * rows));
  for (int x = 0; x < FWidth; x += columns) {
    const int width = std::min(columns, FWidth - x);
    std::fill(FBuffer.begin(), FBuffer.end(), 0);
    FSource(x, y, width, rows, FBuffer.data(), stride);
    const int64_t byteX = int64_t{x} * FBitsPerPixel / 8;
    const int64_t bytes =
        x + width == FWidth ? rowSize - byteX : int64_t{width} * FBitsPerPixel / 8;
    if (width == FWidth) {
      // Stored bottom row first: the chunk's rows in reverse, packed, written at once.
      for (int j = 0; j < rows; ++j)
        std::memmove(FBuffer.data() + j * rowSize, FBuffer.data() + j * stride, rowSize);
      ReverseRows(FBuffer.data(), rowSize, rows);
      FStream->WriteBufferAt(FRows.RowOffset(y + rows - 1), FBuffer.data(), rows * rowSize);
      continue;
    }
    for (int j = 0; j < rows; ++j)
      FStream->WriteBufferAt(FRows.RowOffset(y + j) + byteX, FBuffer.data() + j * stride, bytes);
  }
}

const uint8_t* TRowSpool::Mapped() {
  if (!Full()) return nullptr;
  const std::lock_guard lock(FLock);
  if (!FMap) {
    void* map = ::mmap(nullptr, static_cast<size_t>(FRows.ByteSize()), PROT_READ, MAP_SHARED,
                       FStream->Handle(), 0);
    if (map == MAP_FAILED) return nullptr;
    FMap = static_cast<uint8_t*>(map);
  }
  return FMap;
}

void TRowSpool::ReleaseMapped() {
  if (FMap) ::madvise(FMap, static_cast<size_t>(FRows.ByteSize()), MADV_DONTNEED);
}
