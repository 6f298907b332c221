// The telemetry graphs: column filling with the edge interpolation, scale
// and baseline, ticks and their labels, line gaps, altitude 0, peak labels
// and the cursor, checked on the drawn pictures; and the graphs' place in
// the main window (menu items, order, clicks asking for a seek).
#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <cmath>

#include "app/UnitCommands.h"
#include "app/UnitMainMenu.h"
#include "telemetry/UnitGraphics.h"
#include "telemetry/UnitTelemetryController.h"

using namespace tachora;

namespace {

constexpr double kDay0 = 46000.0;  // some day in 2025
constexpr double kSec = 1.0 / 86400.0;

// A track of GPS points one second apart with the given speeds (altitude
// alike), spanning exactly its points.
TMovingInfo GpsTrack(const std::vector<double> &values, bool altitude = false) {
  TMovingInfo mi;
  for (size_t i = 0; i < values.size(); ++i) {
    TGpsPoint p;
    p.Time = kDay0 + i * kSec;
    p.Speed = altitude ? 30 : values[i];
    p.Altitude = altitude ? values[i] : 0;
    p.Number = static_cast<int>(i);
    mi.GpsPoints.push_back(p);
  }
  mi.StartTime = mi.GpsPoints.front().Time;
  mi.EndTime = mi.GpsPoints.back().Time;
  return mi;
}

TMovingInfo XTrack(const std::vector<float> &xs) {
  TMovingInfo mi;
  for (size_t i = 0; i < xs.size(); ++i) {
    TGsensorPoint g;
    g.Time = kDay0 + i * kSec / 10;
    g.X = xs[i];
    mi.GsensorPoints.push_back(g);
  }
  mi.StartTime = mi.GsensorPoints.front().Time;
  mi.EndTime = mi.GsensorPoints.back().Time;
  return mi;
}

struct TPicture {
  TMyImage image;
  std::unique_ptr<TMyGraphic> graph;
  TPicture(TGraphKind kind, int w, int h, int margin = 30) {
    image.resize(w, h);
    graph = std::make_unique<TMyGraphic>(&image, kind, margin);
  }
  void Draw(const TMovingInfo &mi, long double ws = 0, long double we = 1) {
    graph->DrawGraph({{&mi, 0, 1}}, ws, we);
  }
  QColor At(int x, int y) const { return graph->Background().pixelColor(x, y); }
  // Columns [x1, x2] holding a pixel of the colour.
  bool Has(int x1, int x2, QColor c) const {
    for (int x = x1; x <= x2; ++x)
      for (int y = 0; y < graph->Height(); ++y)
        if (At(x, y) == c) return true;
    return false;
  }
  int CountColour(QColor c) const {
    int n = 0;
    for (int x = 0; x < graph->Width(); ++x)
      for (int y = 0; y < graph->Height(); ++y) n += At(x, y) == c;
    return n;
  }
};

const QColor kBlue(0, 0, 255), kBlack(0, 0, 0), kGrid(220, 220, 220), kRed(255, 0, 0);

}  // namespace

TEST(GraphItems, FillsColumnsAndInterpolatesAtTheWindowEdges) {
  // 0, 10, 20, ... km/h one second apart.
  std::vector<double> v;
  for (int i = 0; i <= 10; ++i) v.push_back(i * 10);
  const TMovingInfo mi = GpsTrack(v);
  // Window from 2.5 s to 7.5 s over 11 columns: half a second each.
  TGraphicItems items(11);
  FillGraphicItems(mi, TGraphKind::Speed, items, 0.25L, 0.75L);
  ASSERT_EQ(items[0].Count, 1);
  EXPECT_NEAR(static_cast<double>(items[0].Max), 25, 1e-4);  // interpolated at the left edge
  EXPECT_EQ(items[1].Count, 1);
  EXPECT_NEAR(static_cast<double>(items[1].Max), 30, 1e-9);
  EXPECT_EQ(items[2].Count, 0);
  ASSERT_EQ(items[10].Count, 1);
  EXPECT_NEAR(static_cast<double>(items[10].Max), 75, 1e-4);  // and at the right edge

  // A window inside one interval still gets both edges.
  TGraphicItems inside(5);
  FillGraphicItems(mi, TGraphKind::Speed, inside, 0.32L, 0.38L);
  EXPECT_NEAR(static_cast<double>(inside[0].Max), 32, 1e-4);
  EXPECT_NEAR(static_cast<double>(inside[4].Max), 38, 1e-4);

  // Several values in a column keep the range; unknown speeds are left out.
  TMovingInfo dense = GpsTrack({5, 9, -1, 2, 7});
  TGraphicItems one(1);
  FillGraphicItems(dense, TGraphKind::Speed, one, 0, 1);
  EXPECT_EQ(one[0].Count, 4);
  EXPECT_EQ(one[0].Min, 2);
  EXPECT_EQ(one[0].Max, 9);

  // Sources outside the window, a zero span or no columns fill nothing.
  EXPECT_EQ(BuildGraphicItems({{&mi, 2, 3}}, TGraphKind::Speed, 10, 0, 1)[0].Count, 0);
  TMovingInfo still = mi;
  still.EndTime = still.StartTime;
  TGraphicItems none(3);
  FillGraphicItems(still, TGraphKind::Speed, none, 0, 1);
  EXPECT_EQ(none[0].Count + none[1].Count + none[2].Count, 0);
  EXPECT_TRUE(BuildGraphicItems({{&mi, 0, 1}}, TGraphKind::Speed, 0, 0, 1).empty());
}

TEST(GraphItems, TicksAndLabelsReadAsWritten) {
  EXPECT_EQ(ShortestText(10), "10");
  EXPECT_EQ(ShortestText(0.1L + 0.1L + 0.1L), "0.3");
  EXPECT_EQ(ShortestText(-0.25L), "-0.25");
  EXPECT_EQ(ShortestText(-0.0L), "0");

  // Steps widen by whole base steps; labels never carry binary noise.
  TGraphFrame f;
  f.Height = 60;
  f.TopMargin = 11;
  f.BottomMargin = 6;
  f.Baseline = (60 + 11 - 6) / 2;
  f.M = 0.4L;
  const auto ticks = GraphTicks(f, 0.1L, 11);
  ASSERT_FALSE(ticks.empty());
  for (const auto &t : ticks) {
    EXPECT_LE(t.Label.size(), 4u) << t.Label;
    EXPECT_GE(t.Y, f.TopMargin);
    EXPECT_LE(t.Y, f.Height - f.BottomMargin);
  }
  EXPECT_EQ(ticks[0].Label, "0");
  EXPECT_EQ(ticks[0].Y, f.Baseline);
}

TEST(Graphs, SpeedAtWalkingPaceSitsOnTheBottomWithTicksAtZeroAndTen) {
  TPicture pic(TGraphKind::Speed, 300, 120);
  std::vector<double> v;
  for (int i = 0; i < 60; ++i) v.push_back(i % 9);  // 0 .. 8 km/h
  const TMovingInfo mi = GpsTrack(v);
  pic.Draw(mi);
  TMyGraphic &g = *pic.graph;
  EXPECT_TRUE(g.PositiveOnly());
  EXPECT_EQ(g.Baseline(), 120 - g.BottomMargin());
  EXPECT_EQ(g.TopMargin(), g.TextHeight());  // tall picture: a full text height

  TGraphScale s;
  s.M = 10.5L;
  const auto ticks = GraphTicks(MakeGraphFrame(120, g.TextHeight(), s), 10, g.TextHeight());
  ASSERT_EQ(ticks.size(), 2u);
  EXPECT_EQ(ticks[0].Label, "0");
  EXPECT_EQ(ticks[1].Label, "10");
  // The grid line of 10 runs right of the axis; the axes are black.
  const int y10 = ticks[1].Y;
  EXPECT_EQ(pic.At(30 + 200, y10), kGrid);
  EXPECT_EQ(pic.At(30, 5), kBlack);
  EXPECT_EQ(pic.At(300 - 30, 5), kBlack);
  EXPECT_EQ(pic.At(100, g.Baseline()), kBlack);
  EXPECT_EQ(pic.At(29, y10), kBlack);  // the tick
  // The tick labels sit left of the axis: dark text pixels there.
  bool label = false;
  for (int x = 0; x < 28; ++x)
    for (int y = y10 - 5; y <= y10 + 5; ++y) label |= pic.At(x, y).lightness() < 128;
  EXPECT_TRUE(label);
  // The line is drawn in blue over the plot, nowhere in the margins.
  EXPECT_TRUE(pic.Has(31, 268, kBlue));
  EXPECT_FALSE(pic.Has(0, 29, kBlue));
  // Frame edges.
  EXPECT_EQ(pic.At(150, 0), QColor(100, 100, 100));
  EXPECT_EQ(pic.At(150, 119), QColor(200, 200, 200));
}

TEST(Graphs, AbsurdValuesDrawADozenTicksAndNoHang) {
  // One absurd value among sane ones (the readers drop such readings, but a
  // graph must hold whatever it is given): the picture is drawn with a
  // bounded number of ticks, and values that are not numbers are left out.
  for (const double bad : {1e12, 3e11, 1e15, 1e300, HUGE_VAL, -HUGE_VAL, std::nan("")}) {
    SCOPED_TRACE(bad);
    TPicture g(TGraphKind::GsensorX, 300, 120);
    g.Draw(XTrack({0.1f, 0.2f, static_cast<float>(bad), -0.1f, 0.3f}));
    EXPECT_EQ(g.At(30, 5), kBlack);  // the axes
    TPicture s(TGraphKind::Speed, 300, 120);
    s.Draw(GpsTrack({10, 20, bad, 30, 40}));
    EXPECT_TRUE(s.Has(31, 268, kBlue));  // the sane speeds still draw
    for (const int height : {20, 120, 900}) {
      TGraphScale scale;
      scale.M = std::fabs(bad);
      scale.PositiveOnly = false;
      const auto ticks = GraphTicks(MakeGraphFrame(height, 11, scale), 0.1L, 11);
      EXPECT_LE(ticks.size(), 2u * kMaxGraphTicks + 1) << height;
    }
  }
}

TEST(Graphs, AccelerationAcrossZeroPutsTheBaselineInTheMiddle) {
  std::vector<float> xs;
  for (int i = 0; i < 200; ++i) xs.push_back(-0.3f + 0.7f * (i % 20) / 19.0f);  // -0.3 .. 0.4
  const TMovingInfo mi = XTrack(xs);
  TPicture pic(TGraphKind::GsensorX, 300, 100);
  pic.Draw(mi);
  TMyGraphic &g = *pic.graph;
  EXPECT_FALSE(g.PositiveOnly());
  EXPECT_EQ(g.Baseline(), (100 + g.TopMargin() - g.BottomMargin()) / 2);
  EXPECT_TRUE(pic.Has(31, 268, kRed));
  // Red reaches both above and below the baseline.
  bool above = false, below = false;
  for (int x = 31; x < 270; ++x)
    for (int y = 0; y < 100; ++y)
      if (pic.At(x, y) == kRed) (y < g.Baseline() ? above : below) = true;
  EXPECT_TRUE(above);
  EXPECT_TRUE(below);
}

TEST(Graphs, AStopOfMoreThanSixSecondsBreaksTheLine) {
  // 30 s of 50 km/h, 20 s without fixes, 30 s of 50 km/h.
  TMovingInfo mi;
  for (int i = 0; i < 80; ++i) {
    if (i >= 30 && i < 50) continue;
    TGpsPoint p;
    p.Time = kDay0 + i * kSec;
    p.Speed = 50;
    mi.GpsPoints.push_back(p);
  }
  mi.StartTime = mi.GpsPoints.front().Time;
  mi.EndTime = mi.GpsPoints.back().Time;
  TPicture pic(TGraphKind::Speed, 30 + 158 + 30, 80);  // 158 columns: 2 per second
  pic.Draw(mi);
  // Columns of the stop hold no blue pixel; both sides do.
  EXPECT_TRUE(pic.Has(31, 85, kBlue));
  EXPECT_FALSE(pic.Has(30 + 62, 30 + 96, kBlue));
  EXPECT_TRUE(pic.Has(30 + 100, 30 + 157, kBlue));

  // A short stop (4 s) is bridged.
  TMovingInfo short_ = GpsTrack(std::vector<double>(40, 50));
  short_.GpsPoints.erase(short_.GpsPoints.begin() + 20, short_.GpsPoints.begin() + 23);
  TPicture bridged(TGraphKind::Speed, 30 + 78 + 30, 80);
  bridged.Draw(short_);
  // (The first columns carry the peak label's plus sign.)
  for (int x = 34; x < 30 + 78; ++x) EXPECT_TRUE(bridged.Has(x, x, kBlue)) << x;
}

TEST(Graphs, AltitudeZeroIsNotDrawn) {
  std::vector<double> alt(60, 120);
  for (int i = 20; i < 40; ++i) alt[i] = 0;  // no altitude in the fixes
  const TMovingInfo mi = GpsTrack(alt, true);
  TGraphicItems items = BuildGraphicItems({{&mi, 0, 1}}, TGraphKind::Altitude, 118, 0, 1);
  const TGraphScale s = ScaleGraphicItems(items, TGraphKind::Altitude);
  EXPECT_TRUE(s.PositiveOnly);
  EXPECT_EQ(items[40].Count, 0);
  EXPECT_EQ(items[60].Count, 0);
  EXPECT_GT(items[38].Count, 0);
  // A column mixing 0 and a real altitude keeps the real one.
  TGraphicItems mixed(2);
  PutGraphicValue(mixed[1], 0, kDay0);
  PutGraphicValue(mixed[1], 120, kDay0);
  ScaleGraphicItems(mixed, TGraphKind::Altitude);
  EXPECT_EQ(mixed[1].Count, 2);
  EXPECT_EQ(mixed[1].Min, 120);

  TPicture pic(TGraphKind::Altitude, 30 + 118 + 30, 80);
  pic.Draw(mi);
  // The line is black like the axes: look strictly inside the plot, away
  // from the baseline and the grid, in the columns of the missing altitude.
  const int baseline = pic.graph->Baseline();
  for (int x = 30 + 44; x <= 30 + 72; ++x)
    for (int y = pic.graph->TopMargin() - 2; y < baseline; ++y)
      EXPECT_NE(pic.At(x, y), kBlack) << x << "," << y;
}

TEST(Graphs, PeakLabelsMarkTheHighestPointsOnce) {
  std::vector<double> v(120, 20);
  v[30] = 87.4;  // one sharp peak
  v[90] = 61;    // and a lower one far from it
  const TMovingInfo mi = GpsTrack(v);
  TGraphicItems items = BuildGraphicItems({{&mi, 0, 1}}, TGraphKind::Speed, 238, 0, 1);
  const TGraphScale s = ScaleGraphicItems(items, TGraphKind::Speed);
  TPicture pic(TGraphKind::Speed, 30 + 238 + 30, 100);
  const TGraphFrame f = MakeGraphFrame(100, pic.graph->TextHeight(), s);
  const auto peaks =
      GraphPeaks(items, f, 10, [](const std::string &t) { return static_cast<int>(t.size()) * 6; });
  ASSERT_GE(peaks.size(), 2u);
  EXPECT_EQ(peaks[0].Label, "87");
  EXPECT_EQ(peaks[0].Column, 60);
  EXPECT_EQ(peaks[1].Label, "61");
  EXPECT_NEAR(peaks[1].Column, 180, 1);
  EXPECT_LE(peaks.size(), 5u);
  // The neighbourhoods are used up: no other label within the first's reach.
  for (size_t i = 2; i < peaks.size(); ++i) EXPECT_GT(std::abs(peaks[i].Column - 60), 34);

  // Acceleration labels round to a hundredth of a g; negative peaks count.
  std::vector<float> xs(100, 0.02f);
  xs[50] = -0.456f;
  const TMovingInfo g = XTrack(xs);
  TGraphicItems gi = BuildGraphicItems({{&g, 0, 1}}, TGraphKind::GsensorX, 99, 0, 1);
  const TGraphFrame gf = MakeGraphFrame(100, 11, ScaleGraphicItems(gi, TGraphKind::GsensorX));
  const auto gp = GraphPeaks(gi, gf, 0.1L, [](const std::string &) { return 20; });
  ASSERT_FALSE(gp.empty());
  EXPECT_EQ(gp[0].Label, "-0.46");
  EXPECT_GT(gp[0].Y, gf.Baseline);

  // A flat line between two spikes of opposite sign does not hide the
  // smaller one.
  std::vector<float> zs(200, 0.0f);
  zs[150] = 0.57f;
  zs[40] = -0.35f;
  const TMovingInfo z = XTrack(zs);
  TGraphicItems zi = BuildGraphicItems({{&z, 0, 1}}, TGraphKind::GsensorX, 199, 0, 1);
  const TGraphFrame zf = MakeGraphFrame(60, 11, ScaleGraphicItems(zi, TGraphKind::GsensorX));
  const auto zp = GraphPeaks(zi, zf, 0.1L, [](const std::string &) { return 20; });
  ASSERT_GE(zp.size(), 2u);
  EXPECT_EQ(zp[0].Label, "0.57");
  EXPECT_EQ(zp[1].Label, "-0.35");

  // Drawn: the plus sign and the label's text beside the peak.
  pic.Draw(mi);
  const int x = 30 + 60, y = f.YOf(87.4L);
  EXPECT_EQ(pic.At(x - 1, y), kBlack);
  EXPECT_EQ(pic.At(x + 1, y), kBlack);
  bool text = false;
  for (int tx = x + 2; tx < x + 20; ++tx)
    for (int ty = std::max(0, y - 12); ty < y; ++ty) text |= pic.At(tx, ty).lightness() < 100;
  EXPECT_TRUE(text);
}

TEST(Graphs, EmptyWindowDrawsOnlyAxesGridAndLetter) {
  const TMovingInfo mi = GpsTrack(std::vector<double>(30, 40));
  TPicture pic(TGraphKind::Speed, 200, 80);
  pic.graph->DrawGraph({{&mi, 0.5L, 0.6L}}, 0, 0.4L);  // window before the data
  EXPECT_EQ(pic.CountColour(kBlue), 0);
  EXPECT_EQ(pic.At(30, 40), kBlack);
  // The letter "S" in the right margin.
  bool letter = false;
  for (int x = 171; x < 200; ++x)
    for (int y = 0; y < 80; ++y) letter |= pic.At(x, y).lightness() < 128;
  EXPECT_TRUE(letter);
}

TEST(Graphs, CursorInvertsOneColumnAndLeavesTheBackground) {
  const TMovingInfo mi = GpsTrack(std::vector<double>(30, 40));
  TPicture pic(TGraphKind::Speed, 230, 60);
  pic.Draw(mi, 0, 1);
  pic.graph->DrawCursor(0.5L);
  const QImage &shown = pic.image.Picture();
  const int x = 30 + 85;  // half of 170 columns
  EXPECT_EQ(GraphCursorX(0.5L, 0, 1, 230, 30), x);
  // White turns black, the grey grid dark; the column beside stays.
  int changed = 0;
  for (int y = 0; y < 60; ++y) changed += shown.pixelColor(x, y) != pic.At(x, y);
  EXPECT_EQ(changed, 60);
  EXPECT_EQ(shown.pixelColor(x, 2), kBlack);
  EXPECT_EQ(shown.pixelColor(x + 1, 2), pic.At(x + 1, 2));
  // Moving it restores the old column; outside the window there is none.
  pic.graph->DrawCursor(2);
  EXPECT_EQ(shown.pixelColor(x, 2), pic.At(x, 2));
  EXPECT_EQ(GraphCursorX(-0.1L, 0, 1, 230, 30), -1);
  EXPECT_EQ(GraphCursorX(0.5L, 1, 1, 230, 30), -1);
}

TEST(Graphs, BottomPanelGrowsAndShrinksWithTheChoice) {
  const int fixed = 57;
  EXPECT_EQ(BottomPanelHeightFor(0, 250, fixed), fixed);
  EXPECT_EQ(BottomPanelHeightFor(6, 180, fixed), 320);
  EXPECT_EQ(BottomPanelHeightFor(6, 250, fixed), 250);  // already enlarged by the user
  EXPECT_EQ(BottomPanelHeightFor(2, 100, fixed), 180);
  EXPECT_EQ(BottomPanelHeightFor(2, 240, fixed), 240);
}

namespace {
// A window with the menus and a bottom panel holding the seek bar's place.
struct TGraphWindow {
  QMainWindow window;
  TMainMenu *menu;
  TCommands *commands;
  QWidget *panel;
  TTelemetryController *ctl;
  TGraphWindow() {
    menu = new TMainMenu(&window);
    menu->CaptureDefaults();
    commands = new TCommands(menu);
    panel = new QWidget(&window);
    auto *lay = new QVBoxLayout(panel);
    lay->setContentsMargins(0, 0, 0, 0);
    auto *seek = new QWidget(panel);
    seek->setObjectName("ImageSeek");
    seek->setFixedHeight(40);
    lay->addWidget(seek);
    lay->addStretch(1);
    window.setCentralWidget(panel);
    window.resize(600, 400);
    window.show();
    ctl = new TTelemetryController(&window, TGraphsPanel{panel}, *commands);
  }
  QString Letters() const {
    QString s;
    for (auto *g : ctl->Graphics()) s += g->Letter();
    return s;
  }
};
}  // namespace

TEST(GraphsWindow, MenuItemsChooseTheGraphsInTheirOrder) {
  TGraphWindow w;
  EXPECT_EQ(w.Letters(), "SG");
  QSignalSpy height(w.ctl, &TTelemetryController::BottomPanelHeightRequested);
  w.menu->Item("N_View_Graphics_Show")->trigger();
  EXPECT_EQ(w.Letters(), "SHGXYZ");
  w.menu->Item("N_View_Graphics_H")->trigger();  // unchecks H
  EXPECT_EQ(w.Letters(), "SGXYZ");
  EXPECT_FALSE(w.menu->Item("N_View_Graphics_H")->isChecked());
  w.menu->Item("N_View_Graphics_Hide")->trigger();
  EXPECT_EQ(w.Letters(), "");
  EXPECT_FALSE(height.isEmpty());

  // Stacked under the seek bar, filling the panel.
  w.menu->Item("N_View_Graphics_Show")->trigger();
  const auto &g = w.ctl->Graphics();
  ASSERT_EQ(g.size(), 6u);
  EXPECT_EQ(g[0]->Image()->y(), 40);
  for (size_t i = 1; i < g.size(); ++i)
    EXPECT_EQ(g[i]->Image()->y(), g[i - 1]->Image()->y() + g[i - 1]->Image()->height());
  EXPECT_EQ(g.back()->Image()->geometry().bottom(), w.panel->height() - 1);
  EXPECT_EQ(g[0]->Image()->width(), w.panel->width());
}

TEST(GraphsWindow, AClickOnAGraphAsksForASeekThere) {
  TGraphWindow w;
  auto trip = std::make_shared<TRowTelemetry>();
  trip->Row.Summary.Start = kDay0;
  trip->Row.Summary.End = kDay0 + 60 * kSec;
  TFileItemSubitem rec;
  rec.Path = "/card/FILE0001.MOV";
  rec.RelStart = 0;
  rec.RelEnd = 1;
  trip->Row.Items.push_back(rec);
  std::vector<double> v;
  for (int i = 0; i <= 60; ++i) v.push_back(i);
  trip->Tracks.push_back(std::make_unique<TMovingInfo>(GpsTrack(v)));
  w.ctl->LoadTrip(trip);
  w.ctl->SetTimeLine(0.5L, 1, 30, {});
  TMyGraphic *speed = w.ctl->Graphics().at(0);
  // Only the second half of the trip is in view: the line starts half way up.
  const QImage &bg = speed->Background();
  int firstBlueY = -1;
  for (int y = 0; y < bg.height() && firstBlueY < 0; ++y)
    if (bg.pixelColor(31, y) == kBlue) firstBlueY = y;
  ASSERT_GE(firstBlueY, 0);
  EXPECT_NEAR(firstBlueY, (speed->Baseline() + speed->TopMargin()) / 2, 2);
  std::vector<long double> seeks;
  QObject::connect(w.ctl, &TTelemetryController::SeekRequested,
                   [&](long double p) { seeks.push_back(p); });
  const int mid = 30 + (speed->Width() - 60) / 2;
  QTest::mouseClick(speed->Image(), Qt::LeftButton, {}, QPoint(mid, 10));
  ASSERT_EQ(seeks.size(), 1u);
  EXPECT_NEAR(static_cast<double>(seeks[0]), 0.75, 0.01);

  // The pointer over a graph shows the details with that graph's preview;
  // switched off in the menu, it does not.
  w.ctl->ShowDetailsAt(TGraphKind::Speed, mid, speed->Width(), 0.75L, QPoint(100, 100));
  EXPECT_TRUE(w.ctl->Details()->Shown());
  EXPECT_EQ(w.ctl->Details()->PreviewKind(), TGraphKind::Speed);
  w.ctl->ShowDetailsAt(TGraphKind::Speed, 2, speed->Width(), 0.5L, QPoint(100, 100));
  EXPECT_FALSE(w.ctl->Details()->Shown());  // left of the plot
  w.menu->Item("N_View_Details")->trigger();
  w.ctl->ShowDetailsAt(TGraphKind::Speed, mid, speed->Width(), 0.75L, QPoint(100, 100));
  EXPECT_FALSE(w.ctl->Details()->Shown());
}
