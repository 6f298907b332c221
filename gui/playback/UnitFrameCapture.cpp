#include "playback/UnitFrameCapture.h"

#include <jpeglib.h>

#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/UnitFileIO.h"
#include "app/UnitLang.h"

namespace tachora {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back into EncodeRaw with the message kept.
struct TJpegError {
  jpeg_error_mgr Mgr;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<TJpegError *>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->Message);
  std::longjmp(err->Jump, 1);
}

void OnJpegMessage(j_common_ptr, int) {}  // warnings are not shown

J_COLOR_SPACE ColourSpace(TPixelLayout layout) {
  switch (layout) {
    case TPixelLayout::Rgbx:
      return JCS_EXT_RGBX;
    case TPixelLayout::Bgrx:
      return JCS_EXT_BGRX;
    case TPixelLayout::Rgb24:
      break;
  }
  return JCS_RGB;
}

int BytesPerPixel(TPixelLayout layout) {
  return layout == TPixelLayout::Rgb24 ? 3 : 4;
}

// Only plain C data lives here: longjmp skips destructors. Returns the
// malloc'ed JPEG image in buffer/size, or false with `message` filled.
bool EncodeRaw(const TRawPicture &pic, int quality, unsigned char **buffer, unsigned long *size,
               char *message) {
  jpeg_compress_struct cinfo;
  TJpegError err;
  cinfo.err = jpeg_std_error(&err.Mgr);
  err.Mgr.error_exit = OnJpegError;
  err.Mgr.emit_message = OnJpegMessage;
  err.Message[0] = 0;
  if (setjmp(err.Jump)) {
    jpeg_destroy_compress(&cinfo);
    std::snprintf(message, JMSG_LENGTH_MAX, "%s", err.Message);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, buffer, size);
  cinfo.image_width = static_cast<JDIMENSION>(pic.Width);
  cinfo.image_height = static_cast<JDIMENSION>(pic.Height);
  cinfo.input_components = BytesPerPixel(pic.Layout);
  cinfo.in_color_space = ColourSpace(pic.Layout);
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg takes non-const rows but only reads them.
    JSAMPROW row = const_cast<JSAMPROW>(pic.Pixels + size_t(cinfo.next_scanline) * pic.Stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

void SetError(std::string *error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

bool EncodeJpeg(const TRawPicture &picture, int quality, std::string &out, std::string *error) {
  out.clear();
  if (!picture.Pixels || picture.Width <= 0 || picture.Height <= 0 ||
      picture.Width > JPEG_MAX_DIMENSION || picture.Height > JPEG_MAX_DIMENSION ||
      picture.Stride < picture.Width * BytesPerPixel(picture.Layout)) {
    SetError(error, "no picture to save");
    return false;
  }
  unsigned char *buffer = nullptr;
  unsigned long size = 0;
  char message[JMSG_LENGTH_MAX] = {};
  const bool ok = EncodeRaw(picture, std::clamp(quality, 1, 100), &buffer, &size, message);
  if (ok && buffer) out.assign(reinterpret_cast<const char *>(buffer), size);
  std::free(buffer);
  if (!ok) SetError(error, message);
  return ok;
}

bool WriteJpegFile(const std::string &path, const TRawPicture &picture, int quality,
                   std::string *error) {
  std::string data;
  if (!EncodeJpeg(picture, quality, data, error)) return false;
  return WriteFileAtomic(path, data, error);
}

bool WriteJpegFile(const std::string &path, const QImage &image, int quality, std::string *error) {
  if (image.isNull()) {
    SetError(error, "no picture to save");
    return false;
  }
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  const TRawPicture raw{rgb.constBits(), rgb.width(), rgb.height(),
                        static_cast<int>(rgb.bytesPerLine()), TPixelLayout::Rgb24};
  return WriteJpegFile(path, raw, quality, error);
}

std::string ValidFileName(std::string_view name) {
  std::string out(name);
  for (char &c : out)
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\"*<>?|:/\\", c)) c = '_';
  return out;
}

std::string CaptureFileName(std::string_view prefix, TDateTime at, int64_t msFromTripStart) {
  if (msFromTripStart < 0) msFromTripStart = 0;
  const int64_t s = msFromTripStart / 1000;
  char since[48];
  std::snprintf(since, sizeof since, "%02lld:%02d:%02d.%03d", static_cast<long long>(s / 3600),
                static_cast<int>(s / 60 % 60), static_cast<int>(s % 60),
                static_cast<int>(msFromTripStart % 1000));
  std::string name(prefix);
  if (at > 0) name += " " + FormatDateTime(at);
  name += " (" + std::string(since) + ").jpg";
  for (char &c : name)
    if (c == ':') c = '-';
  return ValidFileName(name);
}

QImage CaptureWindow(QWidget *window) {
  if (!window) return {};
  return window->window()->grab().toImage();
}

QString SaveCaptureAs(QWidget *parent, const QImage &picture, const QString &folder,
                      const QString &suggested, const char *titleKey) {
  if (picture.isNull()) return {};
  auto lang = [](const char *key) { return QString::fromStdString(LangText(key)); };
  QFileDialog dialog(parent, lang(titleKey), folder, lang("SaveFrame_Filter") + " (*.jpg *.jpeg)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("jpg"));
  dialog.selectFile(suggested);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  const QString path = dialog.selectedFiles().first();
  std::string error;
  if (!WriteJpegFile(path.toStdString(), picture, kJpegQuality, &error)) {
    QMessageBox::warning(
        parent, QStringLiteral("Tachora"),
        lang("Mes_SaveFrameError") + "\n" + path + "\n" + QString::fromStdString(error));
    return {};
  }
  return path;
}

}  // namespace tachora
