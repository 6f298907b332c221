// The picture side of a render: the telemetry values at a frame's time, the
// overlay's text lines, and drawing into planar YUV 4:2:0 frames with a
// built-in 5x7 bitmap font (digits, the letters of units, compass points,
// axes and camera labels, ": . - + / °"), so no font file is needed and the
// text looks the same on every machine. Text is drawn white on a dark
// translucent box so it reads on any picture.
//
// Pure functions and plain objects; any thread, one object per thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/UnitRender.h"

namespace tachora {

// One 8-bit YUV 4:2:0 picture the caller owns (chroma planes of half size,
// rounded up).
struct TYuvPlanes {
  uint8_t *Y = nullptr, *U = nullptr, *V = nullptr;
  int StrideY = 0, StrideU = 0, StrideV = 0;
  int Width = 0, Height = 0;
};

// What the overlay shows at one moment; unknown values stay unknown.
struct TOverlayValues {
  TDateTime Time = 0;
  double SpeedKmh = -1;
  bool HasPosition = false;
  double Lat = 0, Lon = 0;
  bool HasG = false;
  double GX = 0, GY = 0, GZ = 0;
};

// The telemetry of one recording sorted by time, for lookups frame by
// frame. Positions and speeds are interpolated between fixes up to 5 s
// apart (a longer gap keeps the last fix for 5 s, then reads unknown); the
// G-force is the nearest sample within 1 s.
class TTelemetryTimeline {
 public:
  TTelemetryTimeline() = default;
  explicit TTelemetryTimeline(const TMovingInfo *mi);
  TOverlayValues At(TDateTime t) const;

 private:
  struct TFix {
    double Time, Lat, Lon, Speed;
  };
  struct TG {
    double Time;
    float X, Y, Z;
  };
  std::vector<TFix> fixes_;
  std::vector<TG> g_;
};

// The overlay's lines for the chosen items, in the order time, speed,
// position, G-force; an unknown value reads "--".
std::vector<std::string> OverlayLines(const TOverlayValues &v, const TRenderOverlay &overlay,
                                      TUnits units);

// Pixel size of one font dot for a picture of this height (1 below 480
// lines, 3 at 720, 4 at 1080).
int OverlayScale(int pictureHeight);
// Width and height in pixels of a text at `scale` (one line).
int TextWidth(const std::string &text, int scale);
int TextHeight(int scale);

// Draws the lines at the picture's bottom left on a dark translucent box.
void DrawOverlay(TYuvPlanes &pic, const std::vector<std::string> &lines, int scale);
// Draws one text with its box at (x, y) (top left of the box).
void DrawLabel(TYuvPlanes &pic, const std::string &text, int x, int y, int scale);
// Fills a rectangle (clipped to the picture) with black.
void FillBlack(TYuvPlanes &pic, int x, int y, int w, int h);

}  // namespace tachora
