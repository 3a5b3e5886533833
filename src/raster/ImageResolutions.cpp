#include "ImageResolutions.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using TResolution = std::optional<std::pair<int32_t, int32_t>>;

// The chunks and segments before the pixels are short; a stated resolution lies well within this.
constexpr int64_t kHeadBytes = 1 << 16;

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint16_t Be16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

TResolution Valid(double x, double y) {
  if (!(x >= 1 && y >= 1 && x <= INT32_MAX && y <= INT32_MAX)) return std::nullopt;
  return std::pair{static_cast<int32_t>(std::nearbyint(x)),
                   static_cast<int32_t>(std::nearbyint(y))};
}

// PNG: chunks of length, type, data and check sum after the signature; pHYs comes before IDAT
// with pixels per unit across and down and the unit, 1 for the metre (0: only an aspect ratio).
TResolution FromPng(const std::vector<uint8_t>& head) {
  for (size_t at = 8; at + 8 <= head.size();) {
    const uint32_t length = Be32(&head[at]);
    const uint8_t* type = &head[at + 4];
    if (std::memcmp(type, "IDAT", 4) == 0 || length > head.size()) return std::nullopt;
    if (std::memcmp(type, "pHYs", 4) == 0) {
      if (length < 9 || at + 8 + 9 > head.size() || head[at + 16] != 1) return std::nullopt;
      return Valid(Be32(&head[at + 8]), Be32(&head[at + 12]));
    }
    at += 12 + static_cast<size_t>(length);
  }
  return std::nullopt;
}

// JPEG: segments of a marker and a length after the start of image; the JFIF segment (APP0)
// holds the unit (1: per inch, 2: per centimetre, 0: only an aspect ratio) and the densities.
TResolution FromJpeg(const std::vector<uint8_t>& head) {
  for (size_t at = 2; at + 4 <= head.size();) {
    if (head[at] != 0xFF) return std::nullopt;
    const uint8_t marker = head[at + 1];
    // The pixels begin with the start of scan; the other markers carry no length.
    if (marker == 0xDA || marker == 0xD9) return std::nullopt;
    const uint16_t length = Be16(&head[at + 2]);
    if (marker == 0xE0 && length >= 16 && at + 2 + length <= head.size() &&
        std::memcmp(&head[at + 4], "JFIF\0", 5) == 0) {
      const uint8_t unit = head[at + 11];
      const double perUnit = unit == 1 ? 1 / 0.0254 : unit == 2 ? 100 : 0;
      return Valid(Be16(&head[at + 12]) * perUnit, Be16(&head[at + 14]) * perUnit);
    }
    at += 2 + static_cast<size_t>(length);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::pair<int32_t, int32_t>> StatedResolution(THandleStream& stream) {
  std::vector<uint8_t> head(static_cast<size_t>(std::min(stream.Size(), kHeadBytes)));
  stream.ReadBufferAt(0, head.data(), static_cast<int64_t>(head.size()));
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (head.size() >= 8 && std::memcmp(head.data(), kPng, 8) == 0) return FromPng(head);
  if (head.size() >= 2 && head[0] == 0xFF && head[1] == 0xD8) return FromJpeg(head);
  return std::nullopt;
}
