#include "render/UnitRenderOverlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "telemetry/UnitMovingInfo.h"

namespace tachora {

namespace {

constexpr double kSecond = 1.0 / 86400;
constexpr double kMaxFixGap = 5 * kSecond;  // fixes further apart are not joined
constexpr double kMaxGDistance = 1 * kSecond;

// Glyph rows, 5 dots each (bit 4 = left); the code '\x01' stands for "°".
struct TGlyph {
  char Code;
  uint8_t Rows[7];
};
constexpr TGlyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {'h', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {'p', {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {'\x01', {0x0C, 0x12, 0x12, 0x0C, 0x00, 0x00, 0x00}},
};

const TGlyph *GlyphOf(char c) {
  for (const TGlyph &g : kGlyphs)
    if (g.Code == c) return &g;
  return nullptr;  // a blank cell (space and anything the font lacks)
}

// The text as glyph codes: "°" (UTF-8 C2 B0) becomes one code, any other
// byte stays itself.
std::string GlyphCodes(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\xC2' && i + 1 < text.size() && text[i + 1] == '\xB0') {
      out += '\x01';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Cell of one glyph: 5 dots and a gap, 7 dots and a gap below.
constexpr int kCellW = 6, kCellH = 9;

void DarkenRect(TYuvPlanes &pic, int x, int y, int w, int h) {
  const int x0 = std::max(0, x), y0 = std::max(0, y);
  const int x1 = std::min(pic.Width, x + w), y1 = std::min(pic.Height, y + h);
  if (x0 >= x1 || y0 >= y1) return;
  // About 60 % black over the picture.
  for (int r = y0; r < y1; ++r) {
    uint8_t *p = pic.Y + static_cast<ptrdiff_t>(r) * pic.StrideY;
    for (int c = x0; c < x1; ++c) p[c] = static_cast<uint8_t>(16 + (p[c] - 16) * 2 / 5);
  }
  for (int r = y0 / 2; r < (y1 + 1) / 2; ++r) {
    uint8_t *u = pic.U + static_cast<ptrdiff_t>(r) * pic.StrideU;
    uint8_t *v = pic.V + static_cast<ptrdiff_t>(r) * pic.StrideV;
    for (int c = x0 / 2; c < (x1 + 1) / 2; ++c) {
      u[c] = static_cast<uint8_t>(128 + (u[c] - 128) * 2 / 5);
      v[c] = static_cast<uint8_t>(128 + (v[c] - 128) * 2 / 5);
    }
  }
}

// White dots (the chroma of a box is already near grey).
void DrawText(TYuvPlanes &pic, const std::string &codes, int x, int y, int scale) {
  for (size_t i = 0; i < codes.size(); ++i) {
    const TGlyph *g = GlyphOf(codes[i]);
    if (!g) continue;
    const int gx = x + static_cast<int>(i) * kCellW * scale;
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col) {
        if (!(g->Rows[row] & (0x10 >> col))) continue;
        for (int dy = 0; dy < scale; ++dy) {
          const int py = y + row * scale + dy;
          if (py < 0 || py >= pic.Height) continue;
          uint8_t *line = pic.Y + static_cast<ptrdiff_t>(py) * pic.StrideY;
          for (int dx = 0; dx < scale; ++dx) {
            const int px = gx + col * scale + dx;
            if (px >= 0 && px < pic.Width) line[px] = 235;
          }
        }
      }
  }
}

std::string Fixed(double v, int decimals, bool sign) {
  if (std::fabs(v) < 0.5 * std::pow(10.0, -decimals)) v = 0;  // no "-0.00"
  char buf[64];
  std::snprintf(buf, sizeof buf, sign ? "%+.*f" : "%.*f", decimals, v);
  return buf;
}

}  // namespace

TTelemetryTimeline::TTelemetryTimeline(const TMovingInfo *mi) {
  if (!mi) return;
  for (const TGpsPoint &p : mi->GpsPoints) {
    if (!(p.Time > 0)) continue;
    fixes_.push_back({p.Time, static_cast<double>(p.Lat), static_cast<double>(p.Lon),
                      static_cast<double>(p.Speed)});
  }
  std::stable_sort(fixes_.begin(), fixes_.end(),
                   [](const TFix &a, const TFix &b) { return a.Time < b.Time; });
  for (const TGsensorPoint &s : mi->GsensorPoints)
    if (s.Time > 0) g_.push_back({s.Time, s.X, s.Y, s.Z});
  std::stable_sort(g_.begin(), g_.end(), [](const TG &a, const TG &b) { return a.Time < b.Time; });
}

TOverlayValues TTelemetryTimeline::At(TDateTime t) const {
  TOverlayValues v;
  v.Time = t;
  auto after = std::upper_bound(fixes_.begin(), fixes_.end(), t,
                                [](double x, const TFix &f) { return x < f.Time; });
  const TFix *prev = after == fixes_.begin() ? nullptr : &*(after - 1);
  const TFix *next = after == fixes_.end() ? nullptr : &*after;
  auto take = [&](const TFix &f) {
    v.SpeedKmh = f.Speed;
    v.HasPosition = !(f.Lat == 0 && f.Lon == 0);
    v.Lat = f.Lat;
    v.Lon = f.Lon;
  };
  if (prev && next && next->Time - prev->Time <= kMaxFixGap) {
    const double k = (t - prev->Time) / (next->Time - prev->Time);
    take(*prev);
    if (prev->Speed >= 0 && next->Speed >= 0)
      v.SpeedKmh = prev->Speed + (next->Speed - prev->Speed) * k;
    if (v.HasPosition && !(next->Lat == 0 && next->Lon == 0)) {
      v.Lat = prev->Lat + (next->Lat - prev->Lat) * k;
      v.Lon = prev->Lon + (next->Lon - prev->Lon) * k;
    }
  } else if (prev && t - prev->Time <= kMaxFixGap) {
    take(*prev);
  } else if (next && next->Time - t <= kSecond) {
    take(*next);
  }
  auto g =
      std::lower_bound(g_.begin(), g_.end(), t, [](const TG &s, double x) { return s.Time < x; });
  const TG *best = nullptr;
  if (g != g_.end()) best = &*g;
  if (g != g_.begin() && (!best || t - (g - 1)->Time < best->Time - t)) best = &*(g - 1);
  if (best && std::fabs(best->Time - t) <= kMaxGDistance) {
    v.HasG = true;
    v.GX = best->X;
    v.GY = best->Y;
    v.GZ = best->Z;
  }
  return v;
}

std::vector<std::string> OverlayLines(const TOverlayValues &v, const TRenderOverlay &overlay,
                                      TUnits units) {
  std::vector<std::string> lines;
  if (overlay.Time) lines.push_back(v.Time > 0 ? FormatDateTime(v.Time) : "--");
  if (overlay.Speed) {
    const char *unit = units == TUnits::Imperial ? " mph" : " km/h";
    const long double s = DisplaySpeed(v.SpeedKmh, units);
    lines.push_back((s >= 0 ? std::to_string(std::llround(s)) : std::string("--")) + unit);
  }
  if (overlay.Position) {
    if (v.HasPosition)
      lines.push_back(Fixed(std::fabs(v.Lat), 5, false) + "\xC2\xB0" +
                      (v.Lat < 0 ? " S  " : " N  ") + Fixed(std::fabs(v.Lon), 5, false) +
                      "\xC2\xB0" + (v.Lon < 0 ? " W" : " E"));
    else
      lines.push_back("-- N  -- E");
  }
  if (overlay.GSensor) {
    if (v.HasG)
      lines.push_back("G X" + Fixed(v.GX, 2, true) + " Y" + Fixed(v.GY, 2, true) + " Z" +
                      Fixed(v.GZ, 2, true));
    else
      lines.push_back("G --");
  }
  return lines;
}

int OverlayScale(int pictureHeight) {
  return std::clamp(pictureHeight / 240, 1, 8);
}

int TextWidth(const std::string &text, int scale) {
  const int n = static_cast<int>(GlyphCodes(text).size());
  return n > 0 ? (n * kCellW - 1) * scale : 0;
}

int TextHeight(int scale) {
  return 7 * scale;
}

void DrawOverlay(TYuvPlanes &pic, const std::vector<std::string> &lines, int scale) {
  if (lines.empty()) return;
  const int pad = 3 * scale, lineH = kCellH * scale;
  int w = 0;
  for (const std::string &l : lines) w = std::max(w, TextWidth(l, scale));
  const int boxW = w + 2 * pad;
  const int boxH = static_cast<int>(lines.size()) * lineH - 2 * scale + 2 * pad;
  const int margin = 4 * scale;
  const int x = margin, y = pic.Height - margin - boxH;
  DarkenRect(pic, x, y, boxW, boxH);
  for (size_t i = 0; i < lines.size(); ++i)
    DrawText(pic, GlyphCodes(lines[i]), x + pad, y + pad + static_cast<int>(i) * lineH, scale);
}

void DrawLabel(TYuvPlanes &pic, const std::string &text, int x, int y, int scale) {
  if (text.empty()) return;
  const int pad = 2 * scale;
  DarkenRect(pic, x, y, TextWidth(text, scale) + 2 * pad, TextHeight(scale) + 2 * pad);
  DrawText(pic, GlyphCodes(text), x + pad, y + pad, scale);
}

void FillBlack(TYuvPlanes &pic, int x, int y, int w, int h) {
  const int x0 = std::max(0, x), y0 = std::max(0, y);
  const int x1 = std::min(pic.Width, x + w), y1 = std::min(pic.Height, y + h);
  if (x0 >= x1 || y0 >= y1) return;
  for (int r = y0; r < y1; ++r)
    std::fill_n(pic.Y + static_cast<ptrdiff_t>(r) * pic.StrideY + x0, x1 - x0, uint8_t{16});
  for (int r = y0 / 2; r < (y1 + 1) / 2; ++r) {
    std::fill_n(pic.U + static_cast<ptrdiff_t>(r) * pic.StrideU + x0 / 2, (x1 + 1) / 2 - x0 / 2,
                uint8_t{128});
    std::fill_n(pic.V + static_cast<ptrdiff_t>(r) * pic.StrideV + x0 / 2, (x1 + 1) / 2 - x0 / 2,
                uint8_t{128});
  }
}

}  // namespace tachora
