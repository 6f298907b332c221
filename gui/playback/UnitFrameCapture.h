// Saving the current video frame or the whole window as a JPEG picture:
// the suggested file name, the JPEG encoder (libjpeg, quality 96) and the
// save step with its dialog.
//
// The encoder takes raw pixels at the video's own size (the player's
// screenshot) or a QImage (a window grab). Files are written through
// TAtomicFile: a failed or cancelled save leaves no file, and an existing
// picture is replaced only by a complete one. Encoding and names may run on
// any thread; SaveCaptureAs shows a dialog and belongs to the UI thread.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/UnitUtils.h"

class QWidget;

namespace tachora {

constexpr int kJpegQuality = 96;

// Byte order of one pixel in a raw buffer.
enum class TPixelLayout {
  Rgb24,  // R, G, B
  Rgbx,   // R, G, B, unused (mpv's "rgb0")
  Bgrx,   // B, G, R, unused (mpv's "bgr0", QImage::Format_RGB32 on little-endian)
};

struct TRawPicture {
  const uint8_t *Pixels = nullptr;
  int Width = 0, Height = 0;
  int Stride = 0;  // bytes from one row to the next
  TPixelLayout Layout = TPixelLayout::Rgb24;
};

// Encodes a picture as a JPEG file image. False with `error` set for an
// empty or inconsistent picture or an encoder failure.
bool EncodeJpeg(const TRawPicture &picture, int quality, std::string &out,
                std::string *error = nullptr);
// Encodes and writes `path` atomically.
bool WriteJpegFile(const std::string &path, const TRawPicture &picture, int quality = kJpegQuality,
                   std::string *error = nullptr);
bool WriteJpegFile(const std::string &path, const QImage &image, int quality = kJpegQuality,
                   std::string *error = nullptr);

// Replaces every character that a file name cannot hold on the recorder's
// FAT card or on Linux (", *, <, >, ?, |, :, /, \ and control characters)
// with "_".
std::string ValidFileName(std::string_view name);
// "Frame 2024-05-01 14-05-09 (00-01-23.456).jpg": the prefix ("Frame" or
// "Window"), the date-time at the position (left out when unknown) and the
// time since the trip start with milliseconds.
std::string CaptureFileName(std::string_view prefix, TDateTime at, int64_t msFromTripStart);

// The window as the user sees it, for "Save Current Window": its widgets
// rendered at their own size (the video too, where the program paints it).
QImage CaptureWindow(QWidget *window);

// Asks where to save `picture` (starting with `suggested` in `folder`, the
// dialog titled with the language text of `titleKey`, the menu item's name)
// and writes it; a failure is shown to the user. Returns the saved path, or
// an empty string when nothing was saved.
QString SaveCaptureAs(QWidget *parent, const QImage &picture, const QString &folder,
                      const QString &suggested, const char *titleKey = "N_Playback_Save_Frame");

}  // namespace tachora
