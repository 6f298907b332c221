// Where the video picture goes inside the video panel: the fit modes
// (Letterbox, Pan and Scan, Stretch, Not linear), the free zoom with its
// steps, percent presets and panning by dragging, and the rectangles that
// follow from them: the whole scaled picture, the part of the panel that
// shows picture, and the part of the video that is shown.
//
// Pure arithmetic without a window. Sizes and rectangles are in pixels
// (panel coordinates; video sizes in video pixels); a TRectI's right and
// bottom are exclusive. The zoom factor is screen pixels per video pixel
// (1.0 = one to one), always within [kMinZoom, kMaxZoom]. Pan values are
// fractions of the scaled picture (0.5 = centred). Any thread.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tachora {

struct TSizeI {
  int W = 0, H = 0;
  bool Empty() const { return W <= 0 || H <= 0; }
};

struct TRectI {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool Empty() const { return Right <= Left || Bottom <= Top; }
  bool operator==(const TRectI &) const = default;
};

struct TRectF {
  double Left = 0, Top = 0, Right = 0, Bottom = 0;
  double Width() const { return Right - Left; }
  double Height() const { return Bottom - Top; }
};

enum class TFitMode { Custom, Letterbox, PanAndScan, Stretch, NotLinear };

constexpr double kMinZoom = 0.02;
constexpr double kMaxZoom = 16.0;
constexpr double kZoomStep = 2.0;       // Zoom In / Zoom Out
constexpr double kWheelZoomStep = 1.2;  // one wheel step over the video

// The percent presets of the zoom menu, largest first ("Other" asks).
constexpr std::array<int, 7> kZoomPresets{800, 400, 200, 100, 50, 25, 10};

struct TVideoZoom {
  TFitMode Mode = TFitMode::Letterbox;
  double Factor = 1.0;
  double PanX = 0.5, PanY = 0.5;
};

double ClampZoom(double factor);

// One Zoom In or Zoom Out step of `step`. From a fit mode the factor starts
// at the largest power of 1/step at which the picture fits the panel; a step
// that passes the size at which the picture just fits stops at Letterbox.
void ZoomStep(TVideoZoom &zoom, bool zoomIn, double step, TSizeI video, TSizeI panel);
// A percent preset or an entered percentage: Custom at percent / 100.
void ZoomToPercent(TVideoZoom &zoom, double percent);
// The factor of a preset's caption ("800%" -> 8); 1 when the caption holds
// no number.
double PresetFactor(std::string_view caption);
// An entered percentage ("150", "37,5", " 200 % "); none for anything that
// is not a positive number.
std::optional<double> ParseZoomPercent(std::string_view text);
// " (150%)": what follows the Custom item's caption while it is checked.
std::string CustomZoomSuffix(double factor);
// The current factor as the percentage offered for editing ("150.00").
std::string ZoomPercentText(double factor);

// Moves a custom-zoomed picture by a pointer movement of (dx, dy) pixels
// over a picture drawn `dest` large.
void PanBy(TVideoZoom &zoom, int dx, int dy, TSizeI dest);

struct TVideoPlacement {
  bool Known = false;  // video size known and panel not empty
  TRectI Dest;         // the whole scaled picture, panel coordinates
  TRectI Visible;      // the part of the panel that shows picture
  TRectF Source;       // the shown part of the video, fractions 0..1
};
// Places the video for the current mode; keeps the pan of a custom zoom
// within the range where the picture's edge can reach the panel's edge but
// not pass it. Without a known video size the picture fills the panel.
TVideoPlacement PlaceVideo(TVideoZoom &zoom, TSizeI video, TRectI panel);

// The largest rectangle of the video's aspect ratio centred in `area`.
TRectI LetterboxRect(TSizeI video, TRectI area);

// "Not linear stretching": the picture fills `area`; its centre third keeps
// the aspect ratio and the two sides take the rest of the video stretched.
// Three strips, left to right, each a part of the video (video pixels) and
// where it goes. An area not wider than the video's aspect ratio gets the
// letterboxed picture as one strip (the other two empty).
struct TVideoStrip {
  TRectF Source;
  TRectF Dest;
};
std::array<TVideoStrip, 3> NotLinearStrips(TSizeI video, TRectI area);

}  // namespace tachora
