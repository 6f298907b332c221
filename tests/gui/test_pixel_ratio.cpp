// The owner-drawn pictures on high-density screens: at ratios 1, 1.5 and 2
// each kind of picture (seek bar, graph, instrument) is drawn at device
// resolution, its hairlines stay one device pixel, its blocks and buckets
// meet without seams or gaps, and a change of ratio makes it again. Set
// TACHORA_SCREENSHOT_DIR to also get PNG pictures to look at.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <vector>

#include "catalogue/UnitFileItems.h"
#include "map/UnitInstruments.h"
#include "playback/UnitSeekBitmap.h"
#include "telemetry/UnitGraphics.h"
#include "telemetry/UnitMovingInfo.h"

using namespace tachora;

namespace {

constexpr double kSec = 1.0 / 86400.0;

// Runs of equal colours along a row of device pixels [x1, x2).
struct TRun {
  QColor Colour;
  int Start, Width;
};
std::vector<TRun> Runs(const QImage &img, QPoint from, QPoint step, int n) {
  std::vector<TRun> runs;
  for (int i = 0; i < n; ++i) {
    const QColor c = img.pixelColor(from + i * step);
    if (runs.empty() || runs.back().Colour != c)
      runs.push_back({c, i, 1});
    else
      ++runs.back().Width;
  }
  return runs;
}
std::vector<TRun> RowRuns(const QImage &img, int y, int x1, int x2) {
  return Runs(img, {x1, y}, {1, 0}, x2 - x1);
}
std::vector<TRun> ColumnRuns(const QImage &img, int x, int y1, int y2) {
  return Runs(img, {x, y1}, {0, 1}, y2 - y1);
}

void Save(const QImage &img, const QString &name) {
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (!dir.isEmpty()) img.save(dir + "/" + name + ".png");
}

TFileItem TouchingTrip() {
  TFileItem row;
  row.Summary.Start = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 7, 0);
  row.Summary.End = row.Summary.Start + 10.0 / 1440;
  // Two recordings that touch at 0.3 (a thin boundary), then a gap.
  for (auto [s, e] : {std::pair{0.0, 0.3}, {0.3, 0.6}, {0.7, 1.0}}) {
    TFileItemSubitem it;
    it.RelStart = s;
    it.RelEnd = e;
    it.DurationSource = kDurContainer;
    row.Items.push_back(it);
  }
  return row;
}

TMovingInfo SteadyTrack(double speed, int seconds) {
  TMovingInfo mi;
  for (int i = 0; i < seconds; ++i) {
    TGpsPoint p;
    p.Time = 46000.0 + i * kSec;
    p.Speed = speed;
    mi.GpsPoints.push_back(p);
  }
  mi.StartTime = mi.GpsPoints.front().Time;
  mi.EndTime = mi.GpsPoints.back().Time;
  return mi;
}

// Grey edge pixels per dark line pixel: a picture blown up from a smaller
// one has more, a sharp one fewer.
double EdgeShare(const QImage &img) {
  int dark = 0, grey = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QColor c = img.pixelColor(x, y);
      const int v = std::max({c.red(), c.green(), c.blue()});
      const bool neutral = std::abs(c.red() - c.blue()) < 20 && std::abs(c.red() - c.green()) < 20;
      if (!neutral) continue;
      dark += v < 80;
      grey += v >= 80 && v < 200;
    }
  return dark ? static_cast<double>(grey) / dark : 0;
}

}  // namespace

TEST(PixelRatio, EachKindOfPictureIsSharpAndSeamlessAtOneOneAndAHalfAndTwo) {
  double dialEdgeAtOne = 0;
  for (const qreal r : {1.0, 1.5, 2.0}) {
    SCOPED_TRACE(r);
    const QString tag = QString::number(r);
    const int lw = std::max(1, static_cast<int>(std::lround(r)));

    // Seek bar, made at 1 and moved to a screen of ratio r: two touching
    // recordings show one device column of boundary, the gap one unbroken
    // block, nothing else between them.
    {
      TMyImage image;
      image.resize(420, TSeekBitmap::kDesignHeight);
      TSeekBitmap seek(&image);
      seek.LoadTrip(TouchingTrip());
      image.SetPixelRatio(r);
      const QImage &pic = image.Picture();
      Save(pic, "ratio_seek_" + tag);
      EXPECT_EQ(pic.devicePixelRatio(), r);
      EXPECT_EQ(pic.size(), QSize(std::lround(420 * r), std::lround(40 * r)));
      const int m = seek.Device(seek.Margin()), line = seek.DeviceLinePixels();
      auto col = [&](double f) { return m + static_cast<int>(std::floor(line * f)); };
      const auto runs = RowRuns(pic, 0, col(0.2), col(0.8));
      const QColor face = seek.ButtonFace();
      ASSERT_EQ(runs.size(), 5u);
      EXPECT_EQ(runs[0].Colour, face);
      EXPECT_EQ(runs[1].Colour, QColor(100, 100, 100));
      EXPECT_EQ(runs[1].Width, 1);
      EXPECT_EQ(runs[2].Colour, face);
      EXPECT_EQ(runs[3].Colour, QColor(200, 200, 200));
      EXPECT_NEAR(runs[3].Width, line * 0.1, 2);
      EXPECT_EQ(runs[4].Colour, face);
      // Hit tests stay logical: the middle of the line is the middle of the trip.
      EXPECT_NEAR(static_cast<double>(seek.PositionAt(210)), 0.5, 0.01);
    }

    // Graph: one bucket per device column with no column left out, grid and
    // cursor one device pixel, axes and the plot line whole device pixels.
    {
      TMyImage image;
      image.SetPixelRatio(r);
      image.resize(300, 100);
      TMyGraphic graph(&image, TGraphKind::Speed, 30);
      const TMovingInfo mi = SteadyTrack(5, 120);
      graph.DrawGraph({{&mi, 0, 1}}, 0, 1);
      const QImage &bg = graph.Background();
      EXPECT_EQ(bg.size(), QSize(std::lround(300 * r), std::lround(100 * r)));
      const int m = graph.Device(30), w = bg.width();
      const int x = w / 2;
      // The grid line of 10 km/h above the plot line: exactly one row.
      int gridRows = 0;
      for (const TRun &run : ColumnRuns(bg, x, 0, graph.Baseline()))
        if (run.Colour == QColor(220, 220, 220)) gridRows += run.Width;
      EXPECT_EQ(gridRows, 1);
      // The plot line covers every device column of the plot, lw rows high
      // (right of the peak's label at its start).
      const int lineY =
          graph.Baseline() -
          static_cast<int>(std::lround(5 / 10.5 * (graph.Baseline() - graph.TopMargin())));
      for (int c = m + graph.Device(40); c < w - m; ++c) {
        int blue = 0;
        for (const TRun &run : ColumnRuns(bg, c, lineY - 3, lineY + 4))
          if (run.Colour == QColor(0, 0, 255)) blue += run.Width;
        ASSERT_EQ(blue, lw) << "column " << c;
      }
      // The left axis is lw columns of black with white beside it.
      const auto axis = RowRuns(bg, graph.TopMargin() + 1, m - 2, m + lw + 2);
      ASSERT_GE(axis.size(), 2u);
      EXPECT_EQ(axis[axis.size() - 2].Colour, QColor(Qt::black));
      EXPECT_EQ(axis[axis.size() - 2].Width, lw);
      // The cursor inverts exactly one device column.
      graph.DrawCursor(0.5L);
      const QImage &shown = image.Picture();
      Save(shown, "ratio_graph_" + tag);
      const int y = graph.TopMargin() + 2;
      int changed = 0;
      for (int c = 0; c < w; ++c) changed += shown.pixel(c, y) != bg.pixel(c, y);
      EXPECT_EQ(changed, 1);
    }

    // Instrument, made at 1 and moved to ratio r: remade at device size with
    // the last values, and its edges go from black to the panel colour with
    // no blurred pixel between (one device pixel of edge at 2).
    {
      TMyImage image;
      image.setFixedSize(65, 65);
      TGSensorBitmap g(&image);
      g.Draw(0, 0, 0, 0);
      image.SetPixelRatio(r);
      const QImage &pic = image.Picture();
      Save(pic, "ratio_gsensor_" + tag);
      EXPECT_EQ(pic.size(), QSize(std::lround(65 * r), std::lround(65 * r)));
      const int x = g.Device(g.XAxisCenterX + 10);
      const auto runs = ColumnRuns(pic, x, g.Device(g.XAxisY - 3), g.Device(g.XAxisY + 3));
      ASSERT_EQ(runs.size(), 3u);
      EXPECT_EQ(runs[0].Colour, g.ButtonFace());
      EXPECT_EQ(runs[1].Colour, QColor(Qt::black));
      EXPECT_EQ(runs[1].Width, lw);
      EXPECT_EQ(runs[2].Colour, g.ButtonFace());
      // The dot on the x axis' centre is still drawn.
      EXPECT_EQ(pic.pixelColor(g.Device(g.XAxisCenterX), g.Device(g.XAxisY)), QColor(Qt::white));
    }

    // The speedometer's dial is drawn at the ratio, not blown up: no more
    // grey edge per line pixel than at 1.
    {
      TMyImage image;
      image.setFixedSize(134, 100);
      image.SetPixelRatio(r);
      TSpeedBitmap speed(&image);
      EXPECT_EQ(speed.Background().size(), QSize(std::lround(134 * r), std::lround(100 * r)));
      const double share = EdgeShare(speed.Background());
      if (r == 1) dialEdgeAtOne = share;
      EXPECT_LE(share, dialEdgeAtOne * 1.05);
      Save(speed.Background(), "ratio_dial_" + tag);
    }
  }
}
