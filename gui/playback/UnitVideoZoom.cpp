#include "playback/UnitVideoZoom.h"

#include <algorithm>
#include <cmath>

#include "app/UnitUtils.h"

namespace tachora {

namespace {

int RoundInt(double v) {
  return static_cast<int>(std::lround(v));
}

double Clamp01(double v) {
  return std::clamp(v, 0.0, 1.0);
}

TRectI Intersect(const TRectI &a, const TRectI &b) {
  TRectI r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
           std::min(a.Bottom, b.Bottom)};
  if (r.Empty()) return {};
  return r;
}

TRectF ToF(const TRectI &r) {
  return {double(r.Left), double(r.Top), double(r.Right), double(r.Bottom)};
}

// The pan range of one axis: the picture's edge may reach the panel's edge.
double ClampPan(double pan, int panelSize, int videoSize, double factor) {
  const double half = std::min(panelSize / 2.0 / videoSize / factor, 0.5);
  return std::clamp(pan, half, 1 - half);
}

}  // namespace

double ClampZoom(double factor) {
  if (!std::isfinite(factor)) return 1.0;
  return std::clamp(factor, kMinZoom, kMaxZoom);
}

void ZoomStep(TVideoZoom &zoom, bool zoomIn, double step, TSizeI video, TSizeI panel) {
  if (!(step > 1)) step = kZoomStep;
  double old = 0;
  if (zoom.Mode == TFitMode::Custom) {
    old = zoom.Factor;
  } else {
    zoom.Factor = 1.0;
    while ((video.W * zoom.Factor > panel.W + 1 || video.H * zoom.Factor > panel.H + 1) &&
           zoom.Factor > kMinZoom)
      zoom.Factor /= step;
    // A picture that fits at more than its own size (a small video in a big
    // panel) must not shrink on Zoom In, nor come back to Letterbox on the
    // next step: the step starts from the size it is shown at.
    if (zoomIn && !video.Empty() && !panel.Empty()) {
      const double fit = std::min(double(panel.H) / video.H, double(panel.W) / video.W);
      if (zoom.Factor * step <= fit) zoom.Factor = fit;
    }
  }
  if (zoomIn)
    zoom.Factor *= step;
  else if (zoom.Mode == TFitMode::Custom)
    zoom.Factor /= step;
  zoom.Mode = TFitMode::Custom;
  zoom.Factor = ClampZoom(zoom.Factor);
  if (old > 0 && !video.Empty() && !panel.Empty() && zoom.Factor != old) {
    const double fit = std::min(double(panel.H) / video.H, double(panel.W) / video.W);
    if (fit > std::min(old, zoom.Factor) && fit < std::max(old, zoom.Factor))
      zoom.Mode = TFitMode::Letterbox;
  }
}

void ZoomToPercent(TVideoZoom &zoom, double percent) {
  zoom.Mode = TFitMode::Custom;
  zoom.Factor = ClampZoom(percent / 100);
}

double PresetFactor(std::string_view caption) {
  const size_t pct = caption.find('%');
  const std::optional<double> p = ParseZoomPercent(caption.substr(0, pct));
  return ClampZoom(p ? *p / 100 : 1.0);
}

std::optional<double> ParseZoomPercent(std::string_view text) {
  std::string_view t = Trim(text);
  if (!t.empty() && t.back() == '%') t = Trim(t.substr(0, t.size() - 1));
  if (t.empty()) return std::nullopt;
  const long double nan = std::numeric_limits<long double>::quiet_NaN();
  const long double v = ParseFloatDot(t, nan);
  if (!std::isfinite(v) || !(v > 0)) return std::nullopt;
  return static_cast<double>(v);
}

std::string CustomZoomSuffix(double factor) {
  return " (" + std::to_string(RoundHalfAway(factor * 100)) + "%)";
}

std::string ZoomPercentText(double factor) {
  return FormatFixed(factor * 100, 2);
}

void PanBy(TVideoZoom &zoom, int dx, int dy, TSizeI dest) {
  if (dest.W > 0) zoom.PanX += double(dx) / dest.W;
  if (dest.H > 0) zoom.PanY += double(dy) / dest.H;
}

TRectI LetterboxRect(TSizeI video, TRectI area) {
  if (video.Empty() || area.Empty()) return area;
  const double s = std::min(double(area.Width()) / video.W, double(area.Height()) / video.H);
  const int w = RoundInt(video.W * s), h = RoundInt(video.H * s);
  const int left = area.Left + (area.Width() - w) / 2;
  const int top = area.Top + (area.Height() - h) / 2;
  return {left, top, left + w, top + h};
}

TVideoPlacement PlaceVideo(TVideoZoom &zoom, TSizeI video, TRectI panel) {
  TVideoPlacement out;
  out.Dest = out.Visible = panel;
  out.Source = {0, 0, 1, 1};
  if (video.Empty() || panel.Empty()) return out;
  out.Known = true;
  zoom.Factor = ClampZoom(zoom.Factor);
  const double w = video.W, h = video.H, f = zoom.Factor;
  double left = panel.Left, top = panel.Top, right = panel.Right, bottom = panel.Bottom;
  if (zoom.Mode == TFitMode::Custom) {
    zoom.PanX = ClampPan(zoom.PanX, panel.Width(), video.W, f);
    zoom.PanY = ClampPan(zoom.PanY, panel.Height(), video.H, f);
    const double cx = (panel.Left + panel.Right - w) / 2;
    const double cy = (panel.Top + panel.Bottom - h) / 2;
    const double shiftX = w * f * (zoom.PanX - 0.5), shiftY = h * f * (zoom.PanY - 0.5);
    left = cx - w * (f - 1) / 2 + shiftX;
    right = cx + w + w * (f - 1) / 2 + shiftX;
    top = cy - h * (f - 1) / 2 + shiftY;
    bottom = cy + h + h * (f - 1) / 2 + shiftY;
  } else if (zoom.Mode == TFitMode::PanAndScan) {
    const double pw = panel.Width(), ph = panel.Height();
    if (pw / ph < w / h) {
      const double sw = ph * w / h;
      left = panel.Left + (pw - sw) / 2;
      right = left + sw;
    } else {
      const double sh = pw * h / w;
      top = panel.Top + (ph - sh) / 2;
      bottom = top + sh;
    }
  }
  out.Dest = {RoundInt(left), RoundInt(top), RoundInt(right), RoundInt(bottom)};
  out.Visible = Intersect(out.Dest, panel);
  const TRectI &d = out.Dest, &v = out.Visible;
  const double dw = std::max(1, d.Width() - 1), dh = std::max(1, d.Height() - 1);
  if (!v.Empty())
    out.Source = {Clamp01((v.Left - d.Left) / dw), Clamp01((v.Top - d.Top) / dh),
                  Clamp01((v.Right - d.Left - 1) / dw), Clamp01((v.Bottom - d.Top - 1) / dh)};
  return out;
}

std::array<TVideoStrip, 3> NotLinearStrips(TSizeI video, TRectI area) {
  std::array<TVideoStrip, 3> strips{};
  if (video.Empty() || area.Empty()) return strips;
  const double vw = video.W, vh = video.H;
  const double aw = area.Width(), ah = area.Height();
  if (aw / ah <= vw / vh) {
    strips[0] = {{0, 0, vw, vh}, ToF(LetterboxRect(video, area))};
    return strips;
  }
  // The picture fills the height; the centre third of the area shows a
  // piece of the video at its own aspect ratio, never more than half of
  // it, so that the sides keep something to stretch.
  const double scale = ah / vh;
  const double centreDest = aw / 3;
  const double centreSrc = std::min(centreDest / scale, vw / 2);
  const double srcL = (vw - centreSrc) / 2, srcR = srcL + centreSrc;
  const double destL = area.Left + (aw - centreDest) / 2, destR = destL + centreDest;
  const double top = area.Top, bottom = area.Bottom;
  strips[0] = {{0, 0, srcL, vh}, {double(area.Left), top, destL, bottom}};
  strips[1] = {{srcL, 0, srcR, vh}, {destL, top, destR, bottom}};
  strips[2] = {{srcR, 0, vw, vh}, {destR, top, double(area.Right), bottom}};
  return strips;
}

}  // namespace tachora
