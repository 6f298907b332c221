// Placing the video picture in its panel: zoom steps, presets, panning and
// the rectangles of each fit mode.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QPushButton>
#include <QTimer>

#include "playback/UnitVideoZoom.h"
#include "playback/UnitVideoZoomDialog.h"

using namespace tachora;

namespace {

constexpr TSizeI kFullHd{1920, 1080};
constexpr TSizeI kHalfPanel{960, 540};
constexpr TRectI kHalfRect{0, 0, 960, 540};

}  // namespace

TEST(VideoZoom, StepsStartFromTheFitAndStopAtLetterboxWhenPassingIt) {
  TVideoZoom z;  // Letterbox
  ZoomStep(z, true, kZoomStep, kFullHd, kHalfPanel);
  EXPECT_EQ(z.Mode, TFitMode::Custom);
  EXPECT_DOUBLE_EQ(z.Factor, 1.0);  // from 0.5, the largest halving that fits

  z = {TFitMode::Stretch, 1.0};
  ZoomStep(z, false, kZoomStep, kFullHd, kHalfPanel);  // out from a fit mode: the fit
  EXPECT_EQ(z.Mode, TFitMode::Custom);
  EXPECT_DOUBLE_EQ(z.Factor, 0.5);

  z = {TFitMode::Custom, 0.75};  // the fit factor 0.5 lies between 0.75 and 0.375
  ZoomStep(z, false, kZoomStep, kFullHd, kHalfPanel);
  EXPECT_EQ(z.Mode, TFitMode::Letterbox);
  z = {TFitMode::Custom, 0.375};
  ZoomStep(z, true, kZoomStep, kFullHd, kHalfPanel);
  EXPECT_EQ(z.Mode, TFitMode::Letterbox);
  z = {TFitMode::Custom, 0.5};  // from exactly the fit: a plain step
  ZoomStep(z, true, kWheelZoomStep, kFullHd, kHalfPanel);
  EXPECT_EQ(z.Mode, TFitMode::Custom);
  EXPECT_DOUBLE_EQ(z.Factor, 0.6);

  // A small video shown larger than its size: Zoom In grows it from there,
  // and the next step goes on rather than back to Letterbox.
  z = {};
  ZoomStep(z, true, kWheelZoomStep, {640, 480}, {960, 720});  // fit 1.5
  EXPECT_EQ(z.Mode, TFitMode::Custom);
  EXPECT_DOUBLE_EQ(z.Factor, 1.5 * 1.2);
  ZoomStep(z, true, kWheelZoomStep, {640, 480}, {960, 720});
  EXPECT_EQ(z.Mode, TFitMode::Custom);
  EXPECT_DOUBLE_EQ(z.Factor, 1.5 * 1.2 * 1.2);

  // The factor stays within [0.02, 16] however often it is stepped, and an
  // unknown video size (the native-window renderer) still zooms.
  for (int i = 0; i < 12; ++i) ZoomStep(z, true, kZoomStep, kFullHd, kHalfPanel);
  EXPECT_DOUBLE_EQ(z.Factor, kMaxZoom);
  for (int i = 0; i < 20; ++i) ZoomStep(z, false, kZoomStep, kFullHd, kHalfPanel);
  EXPECT_DOUBLE_EQ(z.Factor, kMinZoom);
  z = {};
  ZoomStep(z, true, kZoomStep, {0, 0}, {0, 0});
  EXPECT_DOUBLE_EQ(z.Factor, 2.0);
  z = {};
  ZoomStep(z, true, kZoomStep, kFullHd, {0, 0});  // an empty panel ends the search
  EXPECT_GE(z.Factor, kMinZoom);
}

TEST(VideoZoom, PresetsAndEnteredPercentages) {
  EXPECT_DOUBLE_EQ(PresetFactor("800%"), 8);
  EXPECT_DOUBLE_EQ(PresetFactor("10%"), 0.1);
  EXPECT_DOUBLE_EQ(PresetFactor("Other"), 1);
  EXPECT_EQ(ParseZoomPercent("150"), 150);
  EXPECT_EQ(ParseZoomPercent(" 37,5 % "), 37.5);
  EXPECT_EQ(ParseZoomPercent("12.5"), 12.5);
  EXPECT_FALSE(ParseZoomPercent("abc"));
  EXPECT_FALSE(ParseZoomPercent("0"));
  EXPECT_FALSE(ParseZoomPercent("-20"));
  EXPECT_FALSE(ParseZoomPercent(""));
  TVideoZoom z;
  ZoomToPercent(z, 5000);
  EXPECT_EQ(z.Mode, TFitMode::Custom);
  EXPECT_DOUBLE_EQ(z.Factor, 16);
  ZoomToPercent(z, 1);
  EXPECT_DOUBLE_EQ(z.Factor, 0.02);
  EXPECT_EQ(CustomZoomSuffix(1.5), " (150%)");
  EXPECT_EQ(CustomZoomSuffix(0.125), " (13%)");
  EXPECT_EQ(ZoomPercentText(1.5), "150.00");
}

TEST(VideoZoom, CustomZoomPlacesAndPansWithinTheEdges) {
  TVideoZoom z{TFitMode::Custom, 1.0};
  TVideoPlacement p = PlaceVideo(z, kFullHd, kHalfRect);
  ASSERT_TRUE(p.Known);
  EXPECT_EQ(p.Dest, (TRectI{-480, -270, 1440, 810}));
  EXPECT_EQ(p.Visible, kHalfRect);
  EXPECT_NEAR(p.Source.Left, 480.0 / 1919, 1e-12);
  EXPECT_NEAR(p.Source.Right, 1439.0 / 1919, 1e-12);
  EXPECT_NEAR(p.Source.Top, 270.0 / 1079, 1e-12);

  // Dragged far right: the picture's left edge stops at the panel's left edge.
  PanBy(z, 100000, 0, {p.Dest.Width(), p.Dest.Height()});
  p = PlaceVideo(z, kFullHd, kHalfRect);
  EXPECT_DOUBLE_EQ(z.PanX, 0.75);
  EXPECT_EQ(p.Dest.Left, 0);
  EXPECT_EQ(p.Source.Left, 0);
  // Dragged up by a quarter of the picture: the bottom edge meets the panel's.
  PanBy(z, 0, -1000000, {p.Dest.Width(), p.Dest.Height()});
  p = PlaceVideo(z, kFullHd, kHalfRect);
  EXPECT_DOUBLE_EQ(z.PanY, 0.25);
  EXPECT_EQ(p.Dest.Bottom, 540);
  EXPECT_EQ(p.Source.Bottom, 1);

  // A picture smaller than the panel stays centred and wholly shown.
  z = {TFitMode::Custom, 0.25, 0.9, 0.1};
  p = PlaceVideo(z, kFullHd, {10, 20, 970, 560});
  EXPECT_EQ(p.Dest, (TRectI{250, 155, 730, 425}));
  EXPECT_EQ(p.Visible, p.Dest);
  EXPECT_EQ(p.Source.Left, 0);
  EXPECT_EQ(p.Source.Right, 1);
  EXPECT_DOUBLE_EQ(z.PanX, 0.5);
}

TEST(VideoZoom, FitModesAndUnknownSize) {
  TVideoZoom z{TFitMode::PanAndScan};
  // A panel wider than the picture: full width, cropped top and bottom.
  TVideoPlacement p = PlaceVideo(z, kFullHd, {0, 0, 1000, 500});
  EXPECT_EQ(p.Dest, (TRectI{0, -31, 1000, 531}));
  EXPECT_EQ(p.Visible, (TRectI{0, 0, 1000, 500}));
  EXPECT_NEAR(p.Source.Top, 31.0 / 561, 1e-12);
  EXPECT_NEAR(p.Source.Bottom, 530.0 / 561, 1e-12);
  // A taller panel: full height, cropped at the sides.
  p = PlaceVideo(z, kFullHd, {0, 0, 400, 450});
  EXPECT_EQ(p.Dest, (TRectI{-200, 0, 600, 450}));

  for (TFitMode mode : {TFitMode::Letterbox, TFitMode::Stretch, TFitMode::NotLinear}) {
    z = {mode};
    p = PlaceVideo(z, kFullHd, kHalfRect);
    EXPECT_EQ(p.Dest, kHalfRect);
    EXPECT_EQ(p.Source.Left, 0);
    EXPECT_EQ(p.Source.Bottom, 1);
  }
  // No known size (native window renderer): the picture fills the panel.
  z = {TFitMode::Custom, 4.0};
  p = PlaceVideo(z, {0, 0}, kHalfRect);
  EXPECT_FALSE(p.Known);
  EXPECT_EQ(p.Visible, kHalfRect);

  EXPECT_EQ(LetterboxRect(kFullHd, {0, 0, 1000, 1000}), (TRectI{0, 218, 1000, 781}));
  EXPECT_EQ(LetterboxRect(kFullHd, {100, 0, 1100, 100}), (TRectI{511, 0, 689, 100}));
}

TEST(VideoZoom, NotLinearKeepsTheCentreAndStretchesTheSides) {
  const TRectI area{0, 0, 1600, 720};  // wider than 16:9
  const auto s = NotLinearStrips(kFullHd, area);
  // Contiguous strips covering the area and the whole video.
  EXPECT_EQ(s[0].Dest.Left, 0);
  EXPECT_DOUBLE_EQ(s[0].Dest.Right, s[1].Dest.Left);
  EXPECT_DOUBLE_EQ(s[1].Dest.Right, s[2].Dest.Left);
  EXPECT_EQ(s[2].Dest.Right, 1600);
  EXPECT_EQ(s[0].Source.Left, 0);
  EXPECT_DOUBLE_EQ(s[0].Source.Right, s[1].Source.Left);
  EXPECT_DOUBLE_EQ(s[1].Source.Right, s[2].Source.Left);
  EXPECT_EQ(s[2].Source.Right, 1920);
  // The centre third keeps the aspect ratio; the sides are stretched.
  EXPECT_NEAR(s[1].Dest.Width(), 1600.0 / 3, 1e-9);
  EXPECT_NEAR(s[1].Dest.Width() / s[1].Dest.Height(), s[1].Source.Width() / s[1].Source.Height(),
              1e-9);
  EXPECT_GT(s[0].Dest.Width() / s[0].Source.Width(), s[1].Dest.Width() / s[1].Source.Width());
  EXPECT_NEAR(s[0].Source.Width(), s[2].Source.Width(), 1e-9);

  // Not wider than the picture: one letterboxed strip.
  const auto narrow = NotLinearStrips(kFullHd, {0, 0, 800, 600});
  EXPECT_EQ(narrow[0].Dest.Top, 75);
  EXPECT_EQ(narrow[0].Dest.Bottom, 525);
  EXPECT_EQ(narrow[1].Dest.Width(), 0);
}

TEST(VideoZoom, OtherAsksForAPercentageAndRefusesText) {
  bool checked = false;
  QTimer::singleShot(0, [&] {
    auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
    if (!dialog) {  // never leave the dialog waiting
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QDialog *>(w)) d->reject();
      FAIL() << "the dialog is not modal";
    }
    EXPECT_EQ(dialog->textValue(), "150.00");
    QPushButton *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    dialog->setTextValue("abc");
    EXPECT_FALSE(ok->isEnabled());
    dialog->setTextValue("37,5");
    EXPECT_TRUE(ok->isEnabled());
    checked = true;
    ok->click();
  });
  EXPECT_EQ(AskZoomPercent(nullptr, 1.5), 37.5);
  EXPECT_TRUE(checked);
}
