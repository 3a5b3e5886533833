#include "RowSpools.h"

#include "Workers.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

namespace {

// The pixels decoded at once: large enough for few calls and large writes, small enough to count
// for little beside the raster's cache.
constexpr int64_t kChunkBytes = 4 << 20;

}  // namespace

TRowSpool::TRowSpool(int width, int height, int bitsPerPixel, int blockWidth, int blockHeight,
                     bool parallel, TSource source, TCheck check)
    : FWidth(width),
      FHeight(height),
      FBitsPerPixel(bitsPerPixel),
      FBlockWidth(std::clamp(blockWidth, 1, width)),
      FBlockHeight(std::clamp(blockHeight, 1, height)),
      FParallel(parallel),
      FSource(std::move(source)),
      FCheck(std::move(check)),
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
  TWorkers& workers = TWorkers::Shared();
  FBuffers.resize(static_cast<size_t>(workers.Count()));
  while (FFilled.load() < std::min(rowEnd, FHeight)) {
    // As many chunks as there are threads to decode them, each into memory of its own.
    const int y0 = FFilled.load();
    const int chunks =
        FParallel ? std::min<int>(workers.Count(), (FHeight - y0 + rows - 1) / rows) : 1;
    workers.Run(chunks, [&](int piece, int thread) {
      const int y = y0 + piece * rows;
      FillChunk(thread, y, std::min(rows, FHeight - y));
    });
    FCheck();
    FFilled.store(std::min(FHeight, y0 + chunks * rows));
  }
  if (Full()) FBuffers.clear();
}

void TRowSpool::FillChunk(int reader, int y, int rows) {
  std::vector<uint8_t>& buffer = FBuffers[static_cast<size_t>(reader)];
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
  buffer.resize(static_cast<size_t>(stride * rows));
  for (int x = 0; x < FWidth; x += columns) {
    const int width = std::min(columns, FWidth - x);
    std::fill(buffer.begin(), buffer.end(), 0);
    FSource(reader, x, y, width, rows, buffer.data(), stride);
    const int64_t byteX = int64_t{x} * FBitsPerPixel / 8;
    const int64_t bytes =
        x + width == FWidth ? rowSize - byteX : int64_t{width} * FBitsPerPixel / 8;
    if (width == FWidth) {
      // Stored bottom row first: the chunk's rows in reverse, packed, written at once.
      for (int j = 0; j < rows; ++j)
        std::memmove(buffer.data() + j * rowSize, buffer.data() + j * stride, rowSize);
      ReverseRows(buffer.data(), rowSize, rows);
      FStream->WriteBufferAt(FRows.RowOffset(y + rows - 1), buffer.data(), rows * rowSize);
      continue;
    }
    for (int j = 0; j < rows; ++j)
      FStream->WriteBufferAt(FRows.RowOffset(y + j) + byteX, buffer.data() + j * stride, bytes);
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
