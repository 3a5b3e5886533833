#include "PartCaches.h"

#include "RasterManagers.h"
#include "RasterParts.h"
#include "RecArrays.h"

#include <sys/uio.h>

#include <algorithm>
#include <climits>
#include <cstring>

TPartCache::TPartCache(int64_t cacheSize)
    : FMaxLoadedParts(static_cast<int>(std::clamp<int64_t>(cacheSize / PartUnit, 1, INT_MAX))),
      FSwapStream(TTempFileStream::CreateUnique(QStringLiteral("VLM"))),
      FSwapAllocator(FSwapStream.get()) {}

TPartCache::~TPartCache() = default;

int TPartCache::IndexOf(const TRasterPart* part) const {
  const auto it = std::find(FLoadedParts.begin(), FLoadedParts.end(), part);
  return it == FLoadedParts.end() ? -1 : static_cast<int>(it - FLoadedParts.begin());
}

void TPartCache::Touch(TRasterPart* part) {
  const int n = static_cast<int>(FLoadedParts.size());
  const int i = IndexOf(part);
  const auto moveToFront = [&] {
    std::rotate(FLoadedParts.begin(), FLoadedParts.begin() + i, FLoadedParts.begin() + i + 1);
  };
  if (FUseDepth == 0) {
    if (i >= 0) {
      moveToFront();
      return;
    }
    FLoadedParts.insert(FLoadedParts.begin(), part);
    Trim(part);
    return;
  }
  // Inside a use scope the parts the scope has used stay; new ones take the budget's last slot.
  if (i >= 0 && i == n - 1 && n >= FMaxLoadedParts) return;
  if (i >= 0) {
    moveToFront();
    if (i >= FScopeFront) ++FScopeFront;
    return;
  }
  if (n < FMaxLoadedParts) {
    FLoadedParts.insert(FLoadedParts.begin(), part);
    ++FScopeFront;
    return;
  }
  FLoadedParts.insert(FLoadedParts.begin() + (FMaxLoadedParts - 1), part);
  ++FScopeOverflow;
  Trim(part);
}

void TPartCache::Trim(const TRasterPart* touched) {
  for (int k = static_cast<int>(FLoadedParts.size()) - 1; k >= FMaxLoadedParts; --k) {
    TRasterPart* part = FLoadedParts[k];
    if (part == touched) break;
    Unload(*part);
  }
}

void TPartCache::UnloadFrom(int keep) {
  for (int k = static_cast<int>(FLoadedParts.size()) - 1; k >= keep; --k) Unload(*FLoadedParts[k]);
}

void TPartCache::BeginUse() {
  if (++FUseDepth == 1) {
    FScopeFront = 0;
    FScopeOverflow = 0;
  }
}

void TPartCache::EndUse() {
  FUseDepth = std::max(0, FUseDepth - 1);
  if (FUseDepth == 0) UnloadFrom(std::max(FScopeFront, FMaxLoadedParts - FScopeOverflow));
}

void TPartCache::Load(TRasterPart& part) {
  if (!part.FBits) {
    if (part.FFileBacked) {
      std::unique_ptr<TRasterFileDib> dib = part.FManager->ReadSourcePixels(part);
      part.TakeDib(*dib);
    } else {
      CheckInternal(part.FSwapOffset >= 0, QStringLiteral("TPartCache.Load"),
                    QStringLiteral("часть растра не записана в файл подкачки"));
      TPixelBuffer bits(part.FByteSize, TPixelBuffer::TFill::Uninitialised);
      FSwapStream->ReadBufferAt(part.FSwapOffset, bits.Data(), part.FByteSize);
      part.FBits = std::move(bits);
    }
    PixelsAvailable(part);
  }
  Touch(&part);
}

void TPartCache::LoadZeroed(TRasterPart& part) {
  if (!part.FBits) part.FBits = TPixelBuffer(part.FByteSize);
  Touch(&part);
}

void TPartCache::ReadPixels(const TRasterPart& part, uint8_t* target) const {
  if (part.FFileBacked) {
    const std::unique_ptr<TRasterFileDib> dib = part.FManager->ReadSourcePixels(part);
    std::memcpy(target, dib->Bits.Data(), static_cast<size_t>(part.FByteSize));
    return;
  }
  CheckInternal(part.FSwapOffset >= 0, QStringLiteral("TPartCache.ReadPixels"),
                QStringLiteral("часть растра не записана в файл подкачки"));
  FSwapStream->ReadBufferAt(part.FSwapOffset, target, part.FByteSize);
}

void TPartCache::ReadRows(const TRasterPart& part, uint8_t* first, int64_t stride,
                          int64_t bytes) const {
  CheckInternal(part.FSwapOffset >= 0 && !part.FFileBacked, QStringLiteral("TPartCache.ReadRows"),
                QStringLiteral("часть растра не записана в файл подкачки"));
  // One read for many rows: each row's bytes where they are wanted, the rest of it thrown away.
  const int64_t rest = part.FRowSize - bytes;
  std::vector<uint8_t> thrown(static_cast<size_t>(rest));
  std::vector<iovec> pieces;
  for (int r = 0; r < part.FHeight; ++r) {
    pieces.push_back({first + r * stride, static_cast<size_t>(bytes)});
    if (rest > 0) pieces.push_back({thrown.data(), static_cast<size_t>(rest)});
  }
  int64_t offset = part.FSwapOffset;
  for (size_t at = 0; at < pieces.size();) {
    const size_t count = std::min<size_t>(IOV_MAX, pieces.size() - at);
    int64_t size = 0;
    for (size_t i = at; i < at + count; ++i) size += static_cast<int64_t>(pieces[i].iov_len);
    if (::preadv(FSwapStream->Handle(), pieces.data() + at, static_cast<int>(count), offset) !=
        size)
      break;
    offset += size;
    at += count;
    if (at == pieces.size()) return;
  }
  // A read cut short or interrupted: the whole part again, through the stream's own reading,
  // which goes on after interruptions and raises its error.
  TPixelBuffer bits(part.FByteSize, TPixelBuffer::TFill::Uninitialised);
  FSwapStream->ReadBufferAt(part.FSwapOffset, bits.Data(), part.FByteSize);
  for (int r = 0; r < part.FHeight; ++r)
    std::memcpy(first + r * stride, bits.Data() + int64_t{r} * part.FRowSize,
                static_cast<size_t>(bytes));
}

void TPartCache::Unload(TRasterPart& part) {
  // The pixels are written before the part leaves the list, so a failed write (disk full) leaves
  // it loaded and listed, with its swap block unchanged.
  if (part.FBits && part.FModified) PixelsAvailable(part);
  // Pixels that the source file still holds are simply let go.
  if (part.FBits && !part.FFileBacked && (part.FModified || part.FSwapOffset < 0)) {
    const int64_t offset =
        part.FSwapOffset >= 0 ? part.FSwapOffset : FSwapAllocator.Allocate(part.FByteSize, false);
    FSwapStream->WriteBufferAt(offset, part.FBits.Data(), part.FByteSize);
    part.FSwapOffset = offset;
    part.FModified = false;
  }
  Forget(&part);
  part.FBits.Reset();
}

void TPartCache::Forget(TRasterPart* part) {
  const int i = IndexOf(part);
  if (i >= 0) FLoadedParts.erase(FLoadedParts.begin() + i);
}

void TPartCache::PixelsAvailable(TRasterPart& part) {
  if (OnPixels && part.FBits) OnPixels(part, part.FBits.Data());
}

void TPartCache::ResetSwap() {
  FSwapAllocator.Reset();
}

void TPartCache::SwapParts(TPartCache& other) {
  CheckInternal(FMaxLoadedParts == other.FMaxLoadedParts && FUseDepth == 0 && other.FUseDepth == 0,
                QStringLiteral("TPartCache.SwapParts"), QStringLiteral("другой бюджет кэша"));
  std::swap(FLoadedParts, other.FLoadedParts);
  std::swap(FSwapStream, other.FSwapStream);
  std::swap(FSwapAllocator, other.FSwapAllocator);
}
