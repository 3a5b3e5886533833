#include "CliPngFiles.h"

#include "RecArrays.h"

#include <zlib.h>

#include <cstdlib>
#include <new>

namespace {

// Compressed data goes out in chunks of this size.
constexpr size_t kChunkSize = 64 * 1024;

void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

}  // namespace

TPngWriter::TPngWriter(THandleStream& stream, int width, int height)
    : FStream(stream),
      FWidth(width),
      FHeight(height),
      FZip(std::make_unique<z_stream_s>()),
      FPrevious(static_cast<size_t>(width) * 3),
      FCurrent(static_cast<size_t>(width) * 3) {
  CheckInternal(width > 0 && height > 0, QStringLiteral("TPngWriter"),
                QStringLiteral("пустая картинка"));
  // Filtered rows are mostly small values: the strategy meant for them is faster on them too.
  if (deflateInit2(FZip.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_FILTERED) != Z_OK)
    throw std::bad_alloc();
  for (std::vector<uint8_t>& row : FFiltered) row.resize(FCurrent.size() + 1);
  FOut.reserve(kChunkSize);
  static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  FStream.WriteBuffer(signature, sizeof signature);
  uint8_t header[13] = {};
  PutBe32(header, static_cast<uint32_t>(width));
  PutBe32(header + 4, static_cast<uint32_t>(height));
  header[8] = 8;  // bits per channel
  header[9] = 2;  // RGB
  WriteChunk("IHDR", header, sizeof header);
}

TPngWriter::~TPngWriter() {
  deflateEnd(FZip.get());
}

void TPngWriter::WriteChunk(const char* type, const uint8_t* data, size_t size) {
  uint8_t head[8];
  PutBe32(head, static_cast<uint32_t>(size));
  std::copy(type, type + 4, head + 4);
  uLong crc = crc32(0, head + 4, 4);
  // Without data crc32 would give its starting value instead.
  if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
  uint8_t tail[4];
  PutBe32(tail, static_cast<uint32_t>(crc));
  FStream.WriteBuffer(head, sizeof head);
  FStream.WriteBuffer(data, static_cast<int64_t>(size));
  FStream.WriteBuffer(tail, sizeof tail);
}

void TPngWriter::Compress(const uint8_t* data, size_t size, bool last) {
  FZip->next_in = const_cast<Bytef*>(data);
  FZip->avail_in = static_cast<uInt>(size);
  uint8_t buffer[16384];
  int result;
  do {
    FZip->next_out = buffer;
    FZip->avail_out = sizeof buffer;
    result = deflate(FZip.get(), last ? Z_FINISH : Z_NO_FLUSH);
    CheckInternal(result != Z_STREAM_ERROR, QStringLiteral("TPngWriter"),
                  QStringLiteral("ошибка сжатия"));
    FOut.insert(FOut.end(), buffer, buffer + (sizeof buffer - FZip->avail_out));
    while (FOut.size() >= kChunkSize) {
      WriteChunk("IDAT", FOut.data(), kChunkSize);
      FOut.erase(FOut.begin(), FOut.begin() + kChunkSize);
    }
  } while (FZip->avail_out == 0 || (last && result != Z_STREAM_END));
  if (last && !FOut.empty()) {
    WriteChunk("IDAT", FOut.data(), FOut.size());
    FOut.clear();
  }
}

void TPngWriter::WriteRow(const uint32_t* pixels) {
  CheckInternal(FRows < FHeight, QStringLiteral("TPngWriter.WriteRow"),
                QStringLiteral("строк больше, чем в картинке"));
  for (int x = 0; x < FWidth; ++x) {
    FCurrent[3 * x] = static_cast<uint8_t>(pixels[x] >> 16);
    FCurrent[3 * x + 1] = static_cast<uint8_t>(pixels[x] >> 8);
    FCurrent[3 * x + 2] = static_cast<uint8_t>(pixels[x]);
  }
  const size_t n = FCurrent.size();
  const uint8_t* row = FCurrent.data();
  const uint8_t* above = FPrevious.data();
  // The byte a filter predicts from the one to the left (a), above (b) and above left (c).
  const auto filterRow = [&](int filter, auto predict) {
    uint8_t* out = FFiltered[filter].data();
    out[0] = static_cast<uint8_t>(filter);
    uint64_t sum = 0;
    const auto put = [&](size_t i, int a, int c) {
      const uint8_t value = static_cast<uint8_t>(row[i] - predict(a, above[i], c));
      out[i + 1] = value;
      sum += static_cast<uint64_t>(std::abs(static_cast<int8_t>(value)));
    };
    // The first pixel has no left neighbour; the loop over the others has no branch.
    for (size_t i = 0; i < 3; ++i) put(i, 0, 0);
    for (size_t i = 3; i < n; ++i) put(i, row[i - 3], above[i - 3]);
    return sum;
  };
  // Filters in turn; none beats a sum of 0, and ties go to the earlier filter.
  const auto sumOf = [&](int filter) {
    switch (filter) {
      case 0:
        return filterRow(0, [](int, int, int) { return 0; });
      case 1:
        return filterRow(1, [](int a, int, int) { return a; });
      case 2:
        return filterRow(2, [](int, int b, int) { return b; });
      case 3:
        return filterRow(3, [](int a, int b, int) { return (a + b) / 2; });
      default:
        return filterRow(4, [](int a, int b, int c) { return int{Paeth(a, b, c)}; });
    }
  };
  int best = 0;
  uint64_t bestSum = sumOf(0);
  for (int filter = 1; filter < 5 && bestSum > 0; ++filter) {
    const uint64_t sum = sumOf(filter);
    if (sum < bestSum) {
      bestSum = sum;
      best = filter;
    }
  }
  ++FRows;
  Compress(FFiltered[best].data(), n + 1, false);
  FPrevious.swap(FCurrent);
}

void TPngWriter::Finish() {
  CheckInternal(FRows == FHeight, QStringLiteral("TPngWriter.Finish"),
                QStringLiteral("записаны не все строки"));
  Compress(nullptr, 0, true);
  WriteChunk("IEND", nullptr, 0);
}
