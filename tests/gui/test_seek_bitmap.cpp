// The seek bar: its arithmetic (view, zoom, scroll, marks, labels) and what
// it draws, pixel by pixel, plus clicks and drags. Set TACHORA_SCREENSHOT_DIR
// to also get PNG pictures of the bar to look at.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>
#include <cmath>
#include <regex>

#include "catalogue/UnitFileItems.h"
#include "playback/UnitSeekBitmap.h"
#include "playback/UnitSeekLayout.h"

using namespace tachora;

namespace {

constexpr double kMinute = 1.0 / 1440;

// A trip starting 2024-05-01 10:00:07 made of recordings given as trip
// positions; `unknown` marks recordings whose duration is not known yet.
TFileItem Trip(double minutes, std::vector<std::pair<double, double>> spans,
               std::vector<bool> unknown = {}) {
  TFileItem row;
  row.Summary.Start = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 7, 0);
  row.Summary.End = row.Summary.Start + minutes * kMinute;
  for (size_t i = 0; i < spans.size(); ++i) {
    TFileItemSubitem it;
    it.RelStart = spans[i].first;
    it.RelEnd = spans[i].second;
    it.DurationSource = i < unknown.size() && unknown[i] ? kDurNoHeader : kDurContainer;
    row.Items.push_back(it);
  }
  return row;
}

int FixedWidth(const std::string &s) {
  return 6 * static_cast<int>(s.size());
}

QColor Pixel(const TMyImage &img, int x, int y) {
  return img.Picture().pixelColor(x, y);
}

void SavePng(const TMyImage &img, const char *name) {
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (!dir.isEmpty()) img.Picture().save(dir + "/" + name + ".png");
}

}  // namespace

TEST(SeekLayout, GapMarksShowSeamsGapsAndEnds) {
  const auto recs = SeekRecordingsOf(Trip(10, {{0, 0.3}, {0.3, 0.5}, {0.6, 1.0}}));
  // Touching recordings: a one-column pair at the seam; the gap a block.
  // Decimal fractions that are whole columns stay whole columns.
  EXPECT_EQ(GapMarks(recs, {0, 1}, 100), (TArrayInteger{30, 30, 50, 60}));
  EXPECT_EQ(GapMarks(SeekRecordingsOf(Trip(10, {{0, 0.1 + 0.2}, {0.1 + 0.2, 1}})), {0, 1}, 100),
            (TArrayInteger{30, 30}));
  // Zoomed into the gap: the recordings are cut at the view's edges.
  EXPECT_EQ(GapMarks(recs, {0.4, 0.7}, 100), (TArrayInteger{34, 66}));
  // A gap before the first and after the last recording in view.
  const auto inner = SeekRecordingsOf(Trip(10, {{0.1, 0.2}, {0.2, 0.8}}));
  EXPECT_EQ(GapMarks(inner, {0, 1}, 100), (TArrayInteger{0, 10, 20, 20, 80, 100}));
  // Nothing in view, nothing drawn.
  EXPECT_TRUE(GapMarks(recs, {0, 0}, 100).empty());
}

TEST(SeekLayout, UnknownDurationAndSelectionMarksStayInsideTheLine) {
  const auto recs = SeekRecordingsOf(Trip(10, {{0, 0.5}, {0.5, 1.0}}, {false, true}));
  EXPECT_EQ(UnknownDurationMarks(recs, {0, 1}, 200), (TArrayInteger{100, 200}));
  EXPECT_EQ(UnknownDurationMarks(recs, {0.25, 0.75}, 200), (TArrayInteger{100, 200}));
  EXPECT_EQ(SelectionMarks(0.2, 0.3, {0, 1}, 100), (TArrayInteger{20, 30}));
  EXPECT_EQ(SelectionMarks(0.1, 0.9, {0.5, 0.6}, 100), (TArrayInteger{0, 100}));
  EXPECT_TRUE(SelectionMarks(0.3, 0.3, {0, 1}, 100).empty());  // B <= A: none
  EXPECT_TRUE(SelectionMarks(0.1, 0.2, {0.5, 1}, 100).empty());

  long double a = 0.5, b = 0.6;
  SetSelectionStart(a, b, 0.7L);  // A after B moves B to the end
  EXPECT_EQ(a, 0.7L);
  EXPECT_EQ(b, 1.0L);
  SetSelectionEnd(a, b, 0.2L);  // B before A moves A to the start
  EXPECT_EQ(a, 0.0L);
  EXPECT_EQ(b, 0.2L);
}

TEST(SeekLayout, LabelsOfShortAndLongViews) {
  const TFileItem trip = Trip(10, {{0, 1}});
  const TDateTime s = trip.Summary.Start, e = trip.Summary.End;
  // Ten minutes over 540 columns: one label a minute in whole minutes; the
  // clock row ("99:99:99" takes more room) steps by two minutes.
  TSeekLabels l = ComputeSeekLabels(s, e, {0, 1}, 600, 30, FixedWidth);
  ASSERT_EQ(l.Upper.size(), 10u);
  EXPECT_EQ(l.Upper[0].Text, "0");
  EXPECT_EQ(l.Upper[0].X, 30);
  EXPECT_EQ(l.Upper[3].Text, "3");
  EXPECT_EQ(l.Upper[3].X, 30 + 162);
  ASSERT_FALSE(l.Lower.empty());
  EXPECT_EQ(l.Lower[0].Text, "10:02:00");
  EXPECT_EQ(l.Lower[0].X, 30 + static_cast<int>(std::lround(540 * 113.0 / 600)));

  // Under four minutes: minutes and seconds on a whole-second step (ten
  // slots over three minutes: 17 s, the first tick at 11 x 17 s).
  l = ComputeSeekLabels(s, e, {0.3, 0.6}, 600, 30, FixedWidth);
  ASSERT_GE(l.Upper.size(), 2u);
  const std::regex minSec("[0-9]+:[0-5][0-9]");
  for (const TSeekLabel &label : l.Upper) EXPECT_TRUE(std::regex_match(label.Text, minSec));
  EXPECT_EQ(l.Upper[0].Text, "3:07");
  EXPECT_EQ(l.Upper[1].Text, "3:24");

  // Labels wider than their slot: those that would touch the previous one
  // are left out, so the kept ones never overlap.
  auto wide = [](const std::string &t) { return t == "99:99" || t == "99" ? 1 : 60; };
  l = ComputeSeekLabels(s, e, {0, 1}, 600, 30, wide);
  const size_t narrowCount = ComputeSeekLabels(s, e, {0, 1}, 600, 30, FixedWidth).Upper.size();
  ASSERT_GE(l.Upper.size(), 2u);
  EXPECT_LT(l.Upper.size(), narrowCount * 10);
  for (size_t i = 1; i < l.Upper.size(); ++i) EXPECT_GT(l.Upper[i].X - l.Upper[i - 1].X, 60);

  // No time line, no labels.
  l = ComputeSeekLabels(s, s, {0, 1}, 600, 30, FixedWidth);
  EXPECT_TRUE(l.Upper.empty() && l.Lower.empty());
}

TEST(SeekLayout, ZoomScrollAndFollow) {
  const double span = 60 * kMinute;
  TTimeView v;
  ZoomView(v, 0, 2, true, span);  // zoom in at the very start keeps 0
  EXPECT_EQ(v.Start, 0);
  EXPECT_NEAR(double(v.End), 0.5, 1e-12);
  ZoomView(v, 0.9L, 8, false, span);  // out beyond the whole trip
  EXPECT_EQ(v, (TTimeView{0, 1}));
  EXPECT_FALSE(ZoomScrollFor(v, 500).Enabled);

  // Never narrower than half a second, and never outside [0, 1].
  v = {0.99999L, 0.99999L};
  v = NormaliseView(v, span);
  EXPECT_NEAR(double(v.Width()), double(MinViewWidth(span)), 1e-15);
  EXPECT_EQ(v.End, 1);
  v = {0.7L, 0.2L};
  v = NormaliseView(v, span);
  EXPECT_EQ(v, (TTimeView{0.2L, 0.7L}));

  // The scroll bar covers the trip; its last position shows the very end.
  v = {0.3L, 0.4L};
  TZoomScroll sc = ZoomScrollFor(v, 500);
  EXPECT_TRUE(sc.Enabled);
  EXPECT_EQ(sc.Page, 50);
  EXPECT_EQ(sc.Total, 500);
  EXPECT_EQ(sc.Position, 150);
  TTimeView back = ViewFromScroll(sc, sc.Position, v.Width());
  EXPECT_NEAR(double(back.Start), 0.3, 1e-12);
  back = ViewFromScroll(sc, sc.Maximum(), v.Width());
  EXPECT_EQ(back.End, 1);
  EXPECT_NEAR(double(back.Start), 0.9, 1e-12);

  // Playing near the right edge moves the view on; at the end it stays.
  v = {0.2L, 0.4L};
  EXPECT_TRUE(KeepInView(v, 0.395L, span));
  EXPECT_NEAR(double(v.Start), 0.375, 1e-12);
  EXPECT_NEAR(double(v.Width()), 0.2, 1e-12);
  EXPECT_FALSE(KeepInView(v, 0.45L, span));
  v = {0.8L, 1.0L};
  EXPECT_FALSE(KeepInView(v, 0.999L, span));
  EXPECT_TRUE(KeepInView(v, 0.1L, span));  // behind the view: centred on it
  EXPECT_NEAR(double(v.Start), 0, 1e-15);
  EXPECT_NEAR(double(v.End), 0.2, 1e-15);
}

TEST(SeekLayout, MarkerColumnHitTestAndPrecision) {
  const TTimeView v{0.25L, 0.75L};
  EXPECT_EQ(MarkerColumn(0.5L, v, 240, 20), 120);
  EXPECT_EQ(MarkerColumn(0.25L, v, 240, 20), 20);
  EXPECT_EQ(MarkerColumn(0.75L, v, 240, 20), 220);
  EXPECT_FALSE(MarkerColumn(0.2L, v, 240, 20));
  EXPECT_FALSE(MarkerColumn(0.5L, {0.5L, 0.5L}, 240, 20));
  EXPECT_NEAR(double(PositionAtColumn(120, v, 240, 20)), 0.5, 1e-12);
  EXPECT_EQ(PositionAtColumn(0, v, 240, 20), 0.25L);  // clamped to the view
  EXPECT_EQ(PositionAtColumn(239, v, 240, 20), 0.75L);

  EXPECT_NEAR(double(HoverTolerance(v, 200)), 0.05, 1e-12);
  EXPECT_NEAR(double(HoverTolerance(v, 10)), 0.5 * 20 / 32, 1e-12);

  const double tenSeconds = 10.0 / 86400;
  EXPECT_EQ(PrecisionLevel({0, 1}, tenSeconds, 2000), 3);  // 5 ms a column
  EXPECT_EQ(PrecisionLevel({0, 1}, tenSeconds, 200), 1);   // 50 ms
  EXPECT_EQ(PrecisionLevel({0, 1}, tenSeconds, 20), 0);    // 0.5 s
  EXPECT_EQ(MarkerTimeText(187412, 0), "3:07");
  EXPECT_EQ(MarkerTimeText(187412, 1), "3:07.4");
  EXPECT_EQ(MarkerTimeText(187012, 3), "3:07.012");
  EXPECT_EQ(MarkerTimeText(3723000, 0), "1:02:03");
}

class SeekBitmapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image.resize(420, TSeekBitmap::kDesignHeight);
    image.show();
    seek = std::make_unique<TSeekBitmap>(&image);
    line = seek->LinePixels();
    m = seek->Margin();
  }
  // The column of trip position p on the image.
  int Col(double p) const { return m + static_cast<int>(std::floor(line * p)); }
  bool Is(int x, int y, QColor c) const { return Pixel(image, x, y) == c; }

  TMyImage image;
  std::unique_ptr<TSeekBitmap> seek;
  int line = 0, m = 0;
};

// Two hard brakes on a 10-minute trip: each jump lands 3 s before the next
// (or previous) one; marks draw as red triangles on the bar with a hint.
TEST_F(SeekBitmapTest, EventMarksJumpsAndHints) {
  const double span = 10 * kMinute, sec = 1.0 / 86400 / span;  // a second in positions
  const std::vector<TEventMark> marks = {{0.3L, 0, 0.9f}, {0.7L, 0, 0.6f}, {1 * sec, 0, 0.5f}};
  const std::vector<TEventMark> two(marks.begin(), marks.begin() + 2);
  const struct {
    long double From;
    bool Forward;
    std::optional<long double> To;
  } kJumps[] = {
      {0, true, 0.3L - 3 * sec},
      {0.3L - 3 * sec, true, 0.7L - 3 * sec},
      {0.3L, true, 0.7L - 3 * sec},
      {0.7L - 3 * sec, true, std::nullopt},
      {0.9L, false, 0.7L - 3 * sec},
      {0.7L - 3 * sec, false, 0.3L - 3 * sec},
      {0.3L - 3 * sec, false, std::nullopt},
  };
  for (const auto &j : kJumps) {
    const auto to = EventJumpTarget(two, j.From, j.Forward, span);
    ASSERT_EQ(to.has_value(), j.To.has_value()) << static_cast<double>(j.From);
    if (to) {
      EXPECT_NEAR(static_cast<double>(*to), static_cast<double>(*j.To), 1e-9);
    }
  }
  // An event in the first 3 s: the jump lands at the start.
  EXPECT_EQ(EventJumpTarget({marks[2]}, 0.5L, false, span), 0.0L);

  seek->LoadTrip(Trip(10, {{0, 1}}));
  seek->SetEvents(two);
  SavePng(image, "seek_bar_events");
  int red = 0;
  for (int y = 0; y < image.height(); ++y)
    red += Pixel(image, Col(0.3L), y).red() > 200 && Pixel(image, Col(0.3L), y).green() < 80;
  EXPECT_GT(red, 2);
  const int c3 = static_cast<int>(std::lround(line * 0.3)),
            c7 = static_cast<int>(std::lround(line * 0.7));
  EXPECT_EQ(EventColumns(two, seek->View(), line), (std::vector<int>{c3, c7}));
  EXPECT_EQ(EventAtColumn(two, seek->View(), line, c7 + 3), 1u);
  EXPECT_EQ(EventAtColumn(two, seek->View(), line, line / 2), std::nullopt);
  EXPECT_TRUE(EventHint(two[0]).endsWith("0.90 g")) << EventHint(two[0]).toStdString();
}

TEST_F(SeekBitmapTest, SeamGapUnknownAndSelectionPixels) {
  ASSERT_GT(m, 10);
  ASSERT_EQ(line, 420 - 2 * m);
  const QColor grey(100, 100, 100), light(200, 200, 200), yellow(255, 255, 0);
  seek->LoadTrip(Trip(10, {{0, 0.25}, {0.25, 0.5}, {0.6, 1.0}}, {false, false, true}));
  seek->ShowPosition(0.05L);
  SavePng(image, "seek_bar_trip");
  const int y = 1;  // above the labels, below nothing but the marks
  const int seam = m + static_cast<int>(std::ceil(line * 0.25));
  const QColor face = Pixel(image, seam - 10, y);
  EXPECT_TRUE(Is(seam, y, grey));
  EXPECT_TRUE(Is(seam, image.height() - 1, grey));  // over the full height
  EXPECT_EQ(Pixel(image, seam - 1, y), face);       // exactly one column
  EXPECT_EQ(Pixel(image, seam + 1, y), face);
  // The gap: light grey from its first to its last column.
  EXPECT_TRUE(Is(Col(0.5) + 1, y, light));
  EXPECT_TRUE(Is(Col(0.55), y, light));
  EXPECT_TRUE(Is(Col(0.6) - 1, y, light));
  EXPECT_EQ(Pixel(image, Col(0.5) - 2, y), face);
  // Unknown duration: yellow over the recording's extent, nothing past the line.
  EXPECT_TRUE(Is(Col(0.6) + 2, y, yellow));
  EXPECT_TRUE(Is(Col(0.8), y, yellow));
  EXPECT_TRUE(Is(Col(1.0) - 1, y, yellow));
  EXPECT_FALSE(Is(image.width() - m + 2, y, yellow));

  // A-B selection in the highlight colour, gone when cleared.
  seek->SetSelectionStart(0.1L);
  seek->SetSelectionEnd(0.2L);
  EXPECT_EQ(Pixel(image, Col(0.15), y), seek->Highlight());
  SavePng(image, "seek_bar_selection");
  seek->ClearSelection();
  EXPECT_EQ(Pixel(image, Col(0.15), y), face);
}

TEST_F(SeekBitmapTest, MarkerIsDrawnWithItsBoxesAndFollowsTheView) {
  seek->LoadTrip(Trip(10, {{0, 1}}));
  seek->ShowPosition(0.55L);  // 5:30, between two labels
  const int x = seek->MarkerX();
  EXPECT_EQ(x, m + static_cast<int>(std::lround(line * 0.55)));
  const int barTop = (image.height() - TSeekBitmap::kBarHeight) / 2;
  EXPECT_EQ(Pixel(image, x, barTop - 1), QColor(Qt::black));  // the line above the bar
  EXPECT_EQ(Pixel(image, x + 10, 2), QColor(Qt::white));      // upper box around "5:30"
  EXPECT_EQ(Pixel(image, x + 20, image.height() - 3), QColor(Qt::white));  // "10:05:07"
  SavePng(image, "seek_bar_marker");

  // Zoomed about the marker it moves to the middle; outside the view it
  // is not drawn and cannot be hit.
  seek->ZoomIn();
  EXPECT_NEAR(double(seek->View().Start), 0.3, 1e-12);
  EXPECT_NEAR(seek->MarkerX(), image.width() / 2, 1);
  seek->ShowPosition(0.1L);
  EXPECT_LT(seek->MarkerX(), 0);
  EXPECT_NE(Pixel(image, x + 10, 2), QColor(Qt::white));
  bool onMarker = true;
  seek->PositionAt(m, &onMarker);
  EXPECT_FALSE(onMarker);

  // The background is restored under a moved marker.
  seek->SetView({0, 1});
  seek->ShowPosition(0.55L);
  const QImage withMarker = image.Picture().copy();
  seek->ShowPosition(0.9L);
  EXPECT_NE(Pixel(image, x, barTop - 1), QColor(Qt::black));
  seek->ShowPosition(0.55L);
  EXPECT_EQ(image.Picture(), withMarker);
}

TEST_F(SeekBitmapTest, ClickSeeksAndDraggingTheMarkerSeeksOnceOnRelease) {
  seek->LoadTrip(Trip(10, {{0, 1}}));
  seek->ShowPosition(0.5L);
  std::vector<long double> seeks, drags;
  QObject::connect(seek.get(), &TSeekBitmap::SeekRequested,
                   [&](long double p) { seeks.push_back(p); });
  QObject::connect(seek.get(), &TSeekBitmap::DragMoved, [&](long double p) { drags.push_back(p); });
  const int mid = image.height() / 2;

  QTest::mouseClick(&image, Qt::LeftButton, {}, QPoint(Col(0.25), mid));
  ASSERT_EQ(seeks.size(), 1u);
  EXPECT_NEAR(double(seeks[0]), 0.25, 1.0 / line);
  EXPECT_TRUE(drags.empty());
  QTest::mouseClick(&image, Qt::RightButton, {}, QPoint(Col(0.75), mid));
  EXPECT_EQ(seeks.size(), 1u);  // the right button is the context menu's

  const int x = seek->MarkerX();
  QTest::mousePress(&image, Qt::LeftButton, {}, QPoint(x + 2, mid));
  EXPECT_TRUE(seek->Dragging());
  EXPECT_EQ(seeks.size(), 1u);
  QTest::mouseMove(&image, QPoint(Col(0.8), mid));
  ASSERT_GE(drags.size(), 2u);
  EXPECT_NEAR(double(drags.back()), 0.8, 1.0 / line);
  EXPECT_EQ(seek->MarkerX(), Col(0.8));  // the marker follows at once
  QTest::mouseRelease(&image, Qt::LeftButton, {}, QPoint(Col(0.8), mid));
  EXPECT_FALSE(seek->Dragging());
  ASSERT_EQ(seeks.size(), 2u);
  EXPECT_NEAR(double(seeks[1]), 0.8, 1.0 / line);

  // Without a trip a click does nothing.
  seek->ClearTrip();
  QTest::mouseClick(&image, Qt::LeftButton, {}, QPoint(Col(0.3), mid));
  EXPECT_EQ(seeks.size(), 2u);
}

TEST_F(SeekBitmapTest, ZoomPanelFollowsAndMovesTheView) {
  TSeekZoomPanel panel(seek.get());
  seek->LoadTrip(Trip(60, {{0, 1}}));
  QScrollBar *bar = panel.ScrollBarZoom();
  EXPECT_FALSE(bar->isEnabled());
  seek->ShowPosition(0.5L);
  panel.ButtonZoomIn()->click();
  panel.ButtonZoomIn()->click();
  EXPECT_NEAR(double(seek->View().Width()), 0.25, 1e-12);
  EXPECT_TRUE(bar->isEnabled());
  SavePng(image, "seek_bar_zoomed");
  if (!qEnvironmentVariableIsEmpty("TACHORA_SCREENSHOT_DIR")) {
    panel.resize(image.width(), TSeekZoomPanel::kDesignHeight);
    panel.grab().save(qEnvironmentVariable("TACHORA_SCREENSHOT_DIR") + "/seek_zoom_panel.png");
  }
  EXPECT_EQ(bar->value(), seek->ZoomScroll().Position);

  bar->setValue(bar->maximum());
  EXPECT_EQ(seek->View().End, 1);
  bar->setValue(0);
  EXPECT_EQ(seek->View().Start, 0);
  EXPECT_NEAR(double(seek->View().Width()), 0.25, 1e-12);

  // One wheel step down moves the view by a page of the bar.
  QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(bar, &wheel);
  EXPECT_EQ(bar->value(), bar->pageStep());
  EXPECT_NEAR(double(seek->View().Start), double(bar->pageStep()) / seek->ZoomScroll().Total, 1e-9);

  // Zoomed in to the narrowest view: a few seconds over the line, the
  // marker's box with milliseconds; never narrower than half a second.
  seek->ShowPosition(0.5L);
  for (int i = 0; i < 14; ++i) panel.ButtonZoomIn()->click();
  EXPECT_NEAR(double(seek->View().Width()), double(MinViewWidth(60 * kMinute)), 1e-12);
  SavePng(image, "seek_bar_deep");
  for (int i = 0; i < 16; ++i) panel.ButtonZoomOut()->click();
  EXPECT_EQ(seek->View(), (TTimeView{0, 1}));
  EXPECT_FALSE(bar->isEnabled());
}
