#include "RunGathers.h"

#include "RasterManagers.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

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
  const double stepX = std::nearbyint(line.DX), stepY = std::nearbyint(line.DY);
  const double slopeX = line.DX - stepX, slopeY = line.DY - stepY;
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
    const double rx = std::nearbyint(zx), ry = std::nearbyint(zy);
    if (!(std::fabs(zx - rx) < farX && std::fabs(zy - ry) < farY)) {
      int32_t sx, sy;
      run.MapOne(k, sx, sy);
      WritePixel<Bits>(state, row, column + k, sx, sy);
      ++k;
      continue;
    }
    // The offsets keep their rounding until one of them comes near a half. The piece's two ends
    // lying far on the same side puts every pixel between there too, the offsets being straight.
    double room = count - 1 - k;
    if (slopeX != 0) room = std::min(room, ((slopeX > 0 ? rx + farX : rx - farX) - zx) / slopeX);
    if (slopeY != 0) room = std::min(room, ((slopeY > 0 ? ry + farY : ry - farY) - zy) / slopeY);
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
  const TRasterManager& raster = FReaders.Raster();
  for (int k = 0; k < count; k += kStep) {
    const int32_t x = static_cast<int32_t>(line.X0 + k * line.DX);
    const int32_t y = static_cast<int32_t>(line.Y0 + k * line.DY);
    if (x < 0 || x >= raster.Width() || y < 0 || y >= raster.Height()) continue;
    const TPixelRegion& region = state.Reader.RegionOf(x, y);
    _mm_prefetch(reinterpret_cast<const char*>(region.Row(y) + int64_t{x - region.Left} * Bits / 8),
                 _MM_HINT_T0);
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
    CopyPixels(Bits, region.Row(sy), sx + j - region.Left, row, column + j, end - j, &FRemap);
    j = end;
  }
  if (j < count) WriteWhite<Bits>(row, column + j, count - j);
}

namespace {

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
