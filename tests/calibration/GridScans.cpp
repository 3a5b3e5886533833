#include "GridScans.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct TPointF {
  double X, Y;
};

// Darkness over the sheet; ink lays over ink as the darker of the two.
class TSheetPicture {
 public:
  TSheetPicture(int width, int height, double paper)
      : FWidth(width), FHeight(height), FPaper(paper), FDark(size_t(width) * height, paper) {}

  // A straight stroke of the given width, its edges anti-aliased; only inside clip when given.
  void Stroke(TPointF a, TPointF b, double width, double ink, const double* clip = nullptr) {
    if (clip && !ClipSegment(a, b, clip)) return;
    const double reach = width / 2 + 1;
    const int x0 = std::max(0, int(std::floor(std::min(a.X, b.X) - reach)));
    const int x1 = std::min(FWidth - 1, int(std::ceil(std::max(a.X, b.X) + reach)));
    const int y0 = std::max(0, int(std::floor(std::min(a.Y, b.Y) - reach)));
    const int y1 = std::min(FHeight - 1, int(std::ceil(std::max(a.Y, b.Y) + reach)));
    const double dx = b.X - a.X, dy = b.Y - a.Y, length2 = dx * dx + dy * dy;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        double t = length2 > 0 ? ((x - a.X) * dx + (y - a.Y) * dy) / length2 : 0;
        t = std::clamp(t, 0.0, 1.0);
        const double d = std::hypot(a.X + t * dx - x, a.Y + t * dy - y);
        const double cover = std::clamp(width / 2 + 0.5 - d, 0.0, 1.0);
        if (cover <= 0) continue;
        float& pixel = FDark[size_t(y) * FWidth + x];
        pixel = std::max(pixel, float(FPaper + (ink - FPaper) * cover));
      }
  }
  void Polyline(const std::vector<TPointF>& points, double width, double ink) {
    for (size_t k = 1; k < points.size(); ++k) Stroke(points[k - 1], points[k], width, ink);
  }
  // A soft stain that lets through only part of the light.
  void Stain(TPointF centre, double rx, double ry, double strength) {
    for (int y = std::max(0, int(centre.Y - ry)); y < std::min(FHeight, int(centre.Y + ry)); ++y)
      for (int x = std::max(0, int(centre.X - rx)); x < std::min(FWidth, int(centre.X + rx)); ++x) {
        const double r = std::hypot((x - centre.X) / rx, (y - centre.Y) / ry);
        if (r >= 1) continue;
        const double a = strength * (r < 0.6 ? 1 : (1 - r) / 0.4);
        float& pixel = FDark[size_t(y) * FWidth + x];
        pixel = float(255 - (255 - pixel) * (1 - a));
      }
  }
  void Blur(double sigma) {
    if (sigma <= 0) return;
    const int radius = int(std::ceil(3 * sigma));
    std::vector<double> kernel(size_t(2 * radius + 1));
    double sum = 0;
    for (int k = -radius; k <= radius; ++k)
      sum += kernel[size_t(k + radius)] = std::exp(-k * k / (2 * sigma * sigma));
    for (double& k : kernel) k /= sum;
    std::vector<float> tmp(FDark.size());
    for (int pass = 0; pass < 2; ++pass) {
      for (int y = 0; y < FHeight; ++y)
        for (int x = 0; x < FWidth; ++x) {
          double v = 0;
          for (int k = -radius; k <= radius; ++k) {
            const int xx = pass ? x : std::clamp(x + k, 0, FWidth - 1);
            const int yy = pass ? std::clamp(y + k, 0, FHeight - 1) : y;
            v += kernel[size_t(k + radius)] * FDark[size_t(yy) * FWidth + xx];
          }
          tmp[size_t(y) * FWidth + x] = float(v);
        }
      FDark.swap(tmp);
    }
  }
  // A white rectangle: a label's halo covers what lies below.
  void Erase(double left, double top, double right, double bottom) {
    for (int y = std::max(0, int(top)); y < std::min(FHeight, int(bottom)); ++y)
      for (int x = std::max(0, int(left)); x < std::min(FWidth, int(right)); ++x)
        FDark[size_t(y) * FWidth + x] = float(FPaper);
  }
  double At(int x, int y) const { return FDark[size_t(y) * FWidth + x]; }

 private:
  // Liang-Barsky: the part of the segment inside clip = {left, top, right, bottom}.
  static bool ClipSegment(TPointF& a, TPointF& b, const double* clip) {
    double t0 = 0, t1 = 1;
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.X - clip[0], clip[2] - a.X, a.Y - clip[1], clip[3] - a.Y};
    for (int k = 0; k < 4; ++k) {
      if (p[k] == 0) {
        if (q[k] < 0) return false;
        continue;
      }
      const double t = q[k] / p[k];
      if (p[k] < 0)
        t0 = std::max(t0, t);
      else
        t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
    const TPointF start{a.X + t0 * dx, a.Y + t0 * dy};
    b = TPointF{a.X + t1 * dx, a.Y + t1 * dy};
    a = start;
    return true;
  }

  int FWidth, FHeight;
  double FPaper;
  std::vector<float> FDark;
};

// What the scanner does to the sheet.
class TWarp {
 public:
  TWarp(const TGridSheet& sheet, std::mt19937& random) : FSheet(sheet) {
    FCentre = {sheet.OriginX + sheet.CellsX * sheet.StepX / 2.0,
               sheet.OriginY + sheet.CellsY * sheet.StepY / 2.0};
    std::uniform_real_distribution<double> phase(0, 2 * kPi);
    FPhaseX = phase(random);
    FPhaseY = phase(random);
    FWaveX = 2 * std::max(1, sheet.CellsX * sheet.StepX);
    FWaveY = 2 * std::max(1, sheet.CellsY * sheet.StepY);
  }
  TPointF operator()(double u, double v) const {
    const double a = FSheet.Turn * kPi / 180, dx = u - FCentre.X, dy = v - FCentre.Y;
    return {FCentre.X + FSheet.Scale * (std::cos(a) * dx - std::sin(a) * dy) + FSheet.ShiftX +
                FSheet.Bend * std::sin(2 * kPi * v / FWaveY + FPhaseX),
            FCentre.Y + FSheet.Scale * (std::sin(a) * dx + std::cos(a) * dy) + FSheet.ShiftY +
                FSheet.Bend * std::sin(2 * kPi * u / FWaveX + FPhaseY)};
  }
  // The warped straight line of the paper from (u0, v0) to (u1, v1).
  std::vector<TPointF> Line(double u0, double v0, double u1, double v1) const {
    const int n = std::max(2, int(std::hypot(u1 - u0, v1 - v0) / 3));
    std::vector<TPointF> points;
    for (int k = 0; k <= n; ++k)
      points.push_back((*this)(u0 + (u1 - u0) * k / n, v0 + (v1 - v0) * k / n));
    return points;
  }

 private:
  const TGridSheet& FSheet;
  TPointF FCentre;
  double FPhaseX, FPhaseY, FWaveX, FWaveY;
};

void DrawClutter(TSheetPicture& picture, const TGridSheet& sheet, std::mt19937& random) {
  auto uniform = [&](double a, double b) {
    return std::uniform_real_distribution<double>(a, b)(random);
  };
  const double area = double(sheet.Width) * sheet.Height * sheet.Clutter;
  // Stains first: the ink above them is darkened with the paper when the light is taken.
  std::vector<std::pair<TPointF, TPointF>> stains;
  for (int k = 0; k < int(area / 250000); ++k)
    stains.push_back({{uniform(0, sheet.Width), uniform(0, sheet.Height)},
                      {uniform(30, 110), uniform(30, 110)}});
  // Hatching in patches, at the slants maps use.
  static const double slants[] = {30, 45, 60, 120, 135, 150};
  for (int k = 0; k < int(area / 120000); ++k) {
    const double left = uniform(0, sheet.Width - 60), top = uniform(0, sheet.Height - 60);
    const double clip[4] = {left, top, left + uniform(50, 150), top + uniform(50, 150)};
    const double angle = slants[random() % 6] * kPi / 180, spacing = uniform(6, 9);
    const double cx = (clip[0] + clip[2]) / 2, cy = (clip[1] + clip[3]) / 2, span = 200;
    for (double o = -span; o <= span; o += spacing) {
      const TPointF a{cx + o * std::sin(angle) - span * std::cos(angle),
                      cy - o * std::cos(angle) - span * std::sin(angle)};
      const TPointF b{cx + o * std::sin(angle) + span * std::cos(angle),
                      cy - o * std::cos(angle) + span * std::sin(angle)};
      picture.Stroke(a, b, 1, 150, clip);
    }
  }
  // Roads: curves drawn as two edges or as one broad grey band.
  for (int k = 0; k < int(area / 200000) + 1; ++k) {
    TPointF p[4];
    for (TPointF& q : p) q = {uniform(-50, sheet.Width + 50), uniform(-50, sheet.Height + 50)};
    std::vector<TPointF> middle, normal;
    for (int s = 0; s <= 300; ++s) {
      const double t = s / 300.0, u = 1 - t;
      middle.push_back({u * u * u * p[0].X + 3 * u * u * t * p[1].X + 3 * u * t * t * p[2].X +
                            t * t * t * p[3].X,
                        u * u * u * p[0].Y + 3 * u * u * t * p[1].Y + 3 * u * t * t * p[2].Y +
                            t * t * t * p[3].Y});
    }
    if (random() % 2) {
      picture.Polyline(middle, 4, 140);
      continue;
    }
    for (double side : {-3.5, 3.5}) {
      std::vector<TPointF> edge;
      for (size_t s = 0; s < middle.size(); ++s) {
        const TPointF& a = middle[s == 0 ? 0 : s - 1];
        const TPointF& b = middle[s + 1 < middle.size() ? s + 1 : s];
        const double l = std::max(1e-9, std::hypot(b.X - a.X, b.Y - a.Y));
        edge.push_back(
            {middle[s].X - side * (b.Y - a.Y) / l, middle[s].Y + side * (b.X - a.X) / l});
      }
      picture.Polyline(edge, 1.5, 200);
    }
  }
  // Words of glyphs made of a few strokes each.
  for (int k = 0; k < int(area / 30000); ++k) {
    const double height = uniform(8, 16), width = 0.6 * height;
    double x = uniform(0, sheet.Width - 100);
    const double y = uniform(0, sheet.Height - 20);
    const int letters = 3 + int(random() % 6);
    for (int l = 0; l < letters; ++l, x += 1.3 * width) {
      const int strokes = 2 + int(random() % 3);
      for (int s = 0; s < strokes; ++s) {
        TPointF a, b;
        switch (random() % 5) {
          case 0:  // left stem
            a = {x, y}, b = {x, y + height};
            break;
          case 1:  // right stem
            a = {x + width, y}, b = {x + width, y + height};
            break;
          case 2:  // a bar
            a = {x, y + height * (random() % 3) / 2}, b = {a.X + width, a.Y};
            break;
          case 3:
            a = {x, y + height}, b = {x + width, y};
            break;
          default:
            a = {x, y}, b = {x + width, y + height};
            break;
        }
        picture.Stroke(a, b, uniform(1.2, 2), 225);
      }
    }
  }
  for (const auto& [centre, radii] : stains)
    picture.Stain(centre, radii.X, radii.Y, uniform(0.15, 0.35));
}

// What lies under the grid at given nodes and along given lines: buildings on a corner of the
// crossing, roads beside a line and cased roads laid along it.
template <typename TAt>
void DrawFeatures(TSheetPicture& picture, const TGridSheet& sheet, const TWarp& warp, TAt at) {
  for (const TPoint& node : sheet.Built) {
    const TPointF c = at(node);
    for (double y = c.Y - 3; y <= c.Y + 12; y += 1)
      picture.Stroke({c.X - 12, y}, {c.X + 3, y}, 1.5, 230);
  }
  const double top = sheet.OriginY - sheet.Reach * sheet.StepY;
  const double bottom = sheet.OriginY + (sheet.CellsY + sheet.Reach) * sheet.StepY;
  for (int i : sheet.Beside) {
    const double u = sheet.OriginX + i * sheet.StepX + sheet.BesideOffset;
    picture.Polyline(warp.Line(u, top, u, bottom), sheet.LineWidth, sheet.Ink);
  }
  for (int i : sheet.Cased)
    for (double side : {-sheet.CasedHalf, sheet.CasedHalf}) {
      const double u = sheet.OriginX + i * sheet.StepX + side;
      picture.Polyline(warp.Line(u, top, u, bottom), 1.5, 220);
    }
}

// What lies over the grid and hides crossings: labels whose white halo covers the crossing, with
// the strokes of their letters over it, and ink blots.
template <typename TAt>
void HideCrossings(TSheetPicture& picture, const TGridSheet& sheet, TAt at) {
  for (const TPoint& node : sheet.Labelled) {
    const TPointF c = at(node);
    picture.Erase(c.X - 34, c.Y - 14, c.X + 30, c.Y + 14);
    for (double x = c.X - 30; x < c.X + 27; x += 8) {
      picture.Stroke({x, c.Y - 9}, {x, c.Y + 9}, 3, 235);
      picture.Stroke({x, c.Y - 9}, {x + 5, c.Y - 9}, 3, 235);
    }
    picture.Stroke({c.X - 30, c.Y + 1}, {c.X - 12, c.Y + 1}, 3, 235);
  }
  for (const TPoint& node : sheet.Blotted) {
    const TPointF c = at(node);
    picture.Stroke(c, {c.X + 4, c.Y + 3}, 40, 215);
  }
}

}  // namespace

TGridScan MakeGridScan(const TGridSheet& sheet) {
  std::mt19937 random(sheet.Seed);
  TSheetPicture picture(sheet.Width, sheet.Height, sheet.Paper);
  const TWarp warp(sheet, random);
  TGridScan scan;
  const int nx = sheet.CellsX + 1, ny = sheet.CellsY + 1;
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      const TPointF p = warp(sheet.OriginX + i * sheet.StepX, sheet.OriginY + j * sheet.StepY);
      scan.X.push_back(p.X);
      scan.Y.push_back(p.Y);
    }
  if (sheet.Clutter > 0) DrawClutter(picture, sheet, random);
  auto at = [&](const TPoint& node) {
    const size_t k = size_t(node.X + node.Y * nx);
    return TPointF{scan.X[k], scan.Y[k]};
  };
  DrawFeatures(picture, sheet, warp, at);
  if (sheet.Grid) {
    const double left = sheet.OriginX, top = sheet.OriginY;
    const double right = left + sheet.CellsX * sheet.StepX,
                 bottom = top + sheet.CellsY * sheet.StepY;
    if (sheet.Crosses) {
      const double armX = sheet.CrossArm * sheet.StepX, armY = sheet.CrossArm * sheet.StepY;
      for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
          const double u = left + i * sheet.StepX, v = top + j * sheet.StepY;
          picture.Polyline(warp.Line(u - armX, v, u + armX, v), sheet.LineWidth, sheet.Ink);
          picture.Polyline(warp.Line(u, v - armY, u, v + armY), sheet.LineWidth, sheet.Ink);
        }
    } else {
      const double reachX = sheet.Reach * sheet.StepX, reachY = sheet.Reach * sheet.StepY;
      for (int j = 0; j < ny; ++j) {
        const double v = top + j * sheet.StepY;
        picture.Polyline(warp.Line(left - reachX, v, right + reachX, v), sheet.LineWidth,
                         sheet.Ink);
      }
      for (int i = 0; i < nx; ++i) {
        const double u = left + i * sheet.StepX;
        picture.Polyline(warp.Line(u, top - reachY, u, bottom + reachY), sheet.LineWidth,
                         sheet.Ink);
      }
    }
  }
  HideCrossings(picture, sheet, at);
  picture.Blur(sheet.Blur);

  std::normal_distribution<double> grain(0, std::max(sheet.Noise, 1e-9));
  auto pixels = std::make_shared<std::vector<uint32_t>>(size_t(sheet.Width) * sheet.Height);
  for (int y = 0; y < sheet.Height; ++y)
    for (int x = 0; x < sheet.Width; ++x) {
      auto light = [&] {
        return std::clamp(255 - picture.At(x, y) + (sheet.Noise > 0 ? grain(random) : 0), 0.0,
                          255.0);
      };
      uint32_t value;
      switch (sheet.Bits) {
        case 1:
          // The scanner's threshold keeps thin blurred lines.
          value = light() >= 255 - sheet.Paper - 0.3 * (sheet.Ink - sheet.Paper) ? 1 : 0;
          break;
        case 4:
          value = uint32_t(std::lround(light() / 17));
          break;
        case 8:
          value = uint32_t(std::lround(light()));
          break;
        default: {
          // Yellowish paper: the channels differ, their luminance follows the darkness.
          const double r = light(), g = light() * 0.97, b = light() * 0.88;
          value = uint32_t(std::lround(r)) | uint32_t(std::lround(g)) << 8 |
                  uint32_t(std::lround(b)) << 16;
          break;
        }
      }
      (*pixels)[size_t(y) * sheet.Width + x] = value;
    }
  scan.Layout.Width = sheet.Width;
  scan.Layout.Height = sheet.Height;
  scan.Layout.BitsPerPixel = sheet.Bits;
  if (sheet.Bits == 1) scan.Layout.Palette = {0x000000, 0xFFFFFF};
  if (sheet.Bits == 4) scan.Layout.Palette = GreyPalette(16);
  if (sheet.Bits == 8) scan.Layout.Palette = GreyPalette(256);
  scan.Layout.Pixel = [pixels, width = sheet.Width](int x, int y) {
    return (*pixels)[size_t(y) * width + x];
  };
  scan.Lattice.SetSize(nx, ny);
  scan.Lattice.SetOrigin(TPoint{sheet.OriginX, sheet.OriginY});
  scan.Lattice.SetStep(TPoint{sheet.StepX, sheet.StepY});
  return scan;
}
