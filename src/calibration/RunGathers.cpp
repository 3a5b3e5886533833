#include "RunGathers.h"

#include "RasterManagers.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The nearest integer, halves to even, of a value well within 64 bits.
inline double Nearest(double value) {
  return static_cast<double>(_mm_cvtsd_si64(_mm_set_sd(value)));
}

// A few dozen bytes, as most pieces are, without the call and the size dispatch of memcpy:
// stretches of 16 bytes, the last one overlapping the one before.
inline void CopyBytes(uint8_t* to, const uint8_t* from, size_t count) {
  const auto copy = [&](size_t at, auto word) {
    std::memcpy(&word, from + at, sizeof word);
    std::memcpy(to + at, &word, sizeof word);
  };
  if (count >= 16) {
    for (size_t at = 0; at + 16 < count; at += 16)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + count - 16),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + count - 16)));
  } else if (count >= 8) {
    copy(0, uint64_t{});
    copy(count - 8, uint64_t{});
  } else if (count >= 4) {
    copy(0, uint32_t{});
    copy(count - 4, uint32_t{});
  } else {
    for (size_t at = 0; at < count; ++at) to[at] = from[at];
  }
}

template <int Bits>
inline void PutIndex(uint8_t* row, int c, int index) {
  if constexpr (Bits == 8) {
    row[c] = static_cast<uint8_t>(index);
  } else if constexpr (Bits == 4) {
    uint8_t& byte = row[c >> 1];
    byte = c & 1 ? static_cast<uint8_t>((byte & 0xF0) | index)
                 : static_cast<uint8_t>((byte & 0x0F) | (index << 4));
  } else {
    const uint8_t bit = static_cast<uint8_t>(0x80 >> (c & 7));
    row[c >> 3] = index ? (row[c >> 3] | bit) : (row[c >> 3] & static_cast<uint8_t>(~bit));
  }
}

template <int Bits>
inline int IndexAt(const uint8_t* row, int c) {
  if constexpr (Bits == 8)
    return row[c];
  else if constexpr (Bits == 4)
    return c & 1 ? row[c >> 1] & 0x0F : row[c >> 1] >> 4;
  else
    return (row[c >> 3] >> (7 - (c & 7))) & 1;
}

}  // namespace

void TRunGather::Write(TGatherState& state, const TCellRun& run, uint8_t* row, int column) const {
  switch (FBitsPerPixel) {
    case 1:
      return WriteRun<1>(state, run, row, column);
    case 4:
      return WriteRun<4>(state, run, row, column);
    case 8:
      return WriteRun<8>(state, run, row, column);
    default:
      return WriteRun<24>(state, run, row, column);
  }
}

template <int Bits>
void TRunGather::WriteRun(TGatherState& state, const TCellRun& run, uint8_t* row,
                          int column) const {
  if (run.Line()) return WriteLine<Bits>(state, run, row, column);
  const size_t count = static_cast<size_t>(run.Count());
  state.Sx.resize(count);
  state.Sy.resize(count);
  run.Map(state.Sx.data(), state.Sy.data());
  WriteMapped<Bits>(state, row, column, run.Count());
}

template <int Bits>
void TRunGather::WriteLine(TGatherState& state, const TCellRun& run, uint8_t* row,
                           int column) const {
  const TSourceLine& line = *run.Line();
  const int count = run.Count();
  // Pixel k's source position is k whole steps plus an offset that changes by the slope, less
  // than half a pixel, per pixel. Where both offsets lie far from a half, the source pixel is the
  // steps plus the offsets rounded; twice the margins hold also the rounding of what is worked
  // out here.
  const double stepX = Nearest(line.DX), stepY = Nearest(line.DY);
  const double slopeX = line.DX - stepX, slopeY = line.DY - stepY;
  const double perX = slopeX != 0 ? 1 / slopeX : 0, perY = slopeY != 0 ? 1 / slopeY : 0;
  const double farX = 0.5 - 2 * line.MarginX, farY = 0.5 - 2 * line.MarginY;
  const auto offsets = [&](int k, double& zx, double& zy) {
    zx = (line.X0 + k * line.DX) - stepX * k;
    zy = (line.Y0 + k * line.DY) - stepY * k;
  };
  const auto same = [&](int k, double rx, double ry) {
    double zx, zy;
    offsets(k, zx, zy);
    return std::fabs(zx - rx) < farX && std::fabs(zy - ry) < farY;
  };
  Prefetch<Bits>(state, line, count);
  for (int k = 0; k < count;) {
    double zx, zy;
    offsets(k, zx, zy);
    const double rx = Nearest(zx), ry = Nearest(zy);
    if (!(std::fabs(zx - rx) < farX && std::fabs(zy - ry) < farY)) {
      int32_t sx, sy;
      run.MapOne(k, sx, sy);
      WritePixel<Bits>(state, row, column + k, sx, sy);
      ++k;
      continue;
    }
    // The offsets keep their rounding until one of them comes near a half. The piece's two ends
    // lying far on the same side puts every pixel between there too, the offsets being straight;
    // so the end found here, roughly, is looked at before the piece is taken.
    double room = count - 1 - k;
    if (slopeX != 0) room = std::min(room, ((slopeX > 0 ? rx + farX : rx - farX) - zx) * perX);
    if (slopeY != 0) room = std::min(room, ((slopeY > 0 ? ry + farY : ry - farY) - zy) * perY);
    int last = k + static_cast<int>(room);
    if (last > k && !same(last, rx, ry)) {
      --last;
      while (last > k && !same(last, rx, ry)) last = k + (last - k) / 2;
    }
    const int n = last - k + 1;
    const int32_t sx = static_cast<int32_t>(stepX * k + rx);
    const int32_t sy = static_cast<int32_t>(stepY * k + ry);
    if (stepX == 1 && stepY == 0) {
      WriteSpan<Bits>(state, row, column + k, n, sx, sy);
    } else {
      const TRasterManager& raster = FReaders.Raster();
      for (int j = 0; j < n; ++j) {
        const int32_t x = sx + static_cast<int32_t>(stepX) * j;
        const int32_t y = sy + static_cast<int32_t>(stepY) * j;
        const bool inside = x >= 0 && x < raster.Width() && y >= 0 && y < raster.Height();
        WritePixel<Bits>(state, row, column + k + j, inside ? x : TCellMaps::kOutside, y);
      }
    }
    k = last + 1;
  }
}

template <int Bits>
void TRunGather::Prefetch(TGatherState& state, const TSourceLine& line, int count) const {
  // A cache line's worth of source pixels apart, roughly where the line passes.
  constexpr int kStep = Bits == 24 ? 21 : 512 / Bits;
  constexpr int kRowsAhead = 2;
  const TRasterManager& raster = FReaders.Raster();
  for (int k = 0; k < count; k += kStep) {
    const int32_t x = static_cast<int32_t>(line.X0 + k * line.DX);
    const int32_t y = static_cast<int32_t>(line.Y0 + k * line.DY);
    if (x < 0 || x >= raster.Width() || y < 0 || y >= raster.Height()) continue;
    const TPixelRegion& region = state.Reader.RegionOf(x, y);
    const uint8_t* pixel = region.Row(y) + int64_t{x - region.Left} * Bits / 8;
    _mm_prefetch(reinterpret_cast<const char*>(pixel), _MM_HINT_T0);
    // A thread's output rows after this one take their pixels from the source rows below. Asked
    // for two rows ahead, they have arrived when their row comes; the processor's own prefetching,
    // which follows one row at a time, would meet each of them with a wait.
    if (y + kRowsAhead < region.Bottom)
      _mm_prefetch(reinterpret_cast<const char*>(pixel + kRowsAhead * region.Stride), _MM_HINT_T0);
  }
}

template <int Bits>
void TRunGather::WriteSpan(TGatherState& state, uint8_t* row, int column, int count, int32_t sx,
                           int32_t sy) const {
  const TRasterManager& raster = FReaders.Raster();
  if (sy < 0 || sy >= raster.Height()) return WriteWhite<Bits>(row, column, count);
  int j = 0;
  if (sx < 0) {
    j = static_cast<int>(std::min<int64_t>(count, -int64_t{sx}));
    WriteWhite<Bits>(row, column, j);
  }
  const int inside = static_cast<int>(std::min<int64_t>(count, int64_t{raster.Width()} - sx));
  while (j < inside) {
    const TPixelRegion& region = state.Reader.RegionOf(sx + j, sy);
    const int end = std::min(inside, region.Right - sx);
    const uint8_t* from = region.Row(sy);
    const int fromColumn = sx + j - region.Left;
    if (Bits % 8 == 0 && (Bits == 24 || FRemap.Identity()))
      CopyBytes(row + int64_t{column + j} * Bits / 8, from + int64_t{fromColumn} * Bits / 8,
                static_cast<size_t>(end - j) * Bits / 8);
    else
      CopyPixels(Bits, from, fromColumn, row, column + j, end - j, &FRemap);
    j = end;
  }
  if (j < count) WriteWhite<Bits>(row, column + j, count - j);
}

template <int Bits>
void TRunGather::WriteWhite(uint8_t* row, int column, int count) const {
  if (count <= 0) return;
  if constexpr (Bits == 24) {
    std::memset(row + 3 * int64_t{column}, 0xFF, 3 * static_cast<size_t>(count));
    return;
  }
  const int white = FRemap.White();
  if (white < 0) RaiseColourNotFound();
  if constexpr (Bits == 8)
    std::memset(row + column, white, static_cast<size_t>(count));
  else
    for (int c = column; c < column + count; ++c) PutIndex<Bits>(row, c, white);
}

template <int Bits>
void TRunGather::WritePixel(TGatherState& state, uint8_t* row, int column, int32_t sx,
                            int32_t sy) const {
  if (sx < 0) return WriteWhite<Bits>(row, column, 1);
  const TPixelRegion& region = state.Reader.RegionOf(sx, sy);
  const uint8_t* in = region.Row(sy);
  const int sc = sx - region.Left;
  if constexpr (Bits == 24) {
    uint8_t* out = row + 3 * int64_t{column};
    in += 3 * int64_t{sc};
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
  } else {
    const int index = FRemap.Table()[IndexAt<Bits>(in, sc)];
    if (index < 0) RaiseColourNotFound();
    PutIndex<Bits>(row, column, index);
  }
}

template <int Bits>
void TRunGather::WriteMapped(TGatherState& state, uint8_t* row, int column, int count) const {
  const int32_t* sx = state.Sx.data();
  const int32_t* sy = state.Sy.data();
  // The source bytes of the whole run are asked for first, so that memory fetches them together
  // instead of one miss after another.
  for (int k = 0; k < count; k += 16)
    if (sx[k] >= 0) {
      const TPixelRegion& region = state.Reader.RegionOf(sx[k], sy[k]);
      _mm_prefetch(reinterpret_cast<const char*>(region.Row(sy[k]) +
                                                 int64_t{sx[k] - region.Left} * Bits / 8),
                   _MM_HINT_T0);
    }
  for (int k = 0; k < count; ++k) WritePixel<Bits>(state, row, column + k, sx[k], sy[k]);
}
