// The telemetry graphs: one full redraw of all six graphs for a one-hour
// trip (12 recordings of 5 minutes, a fix a second, ten G-sensor samples a
// second) at a laptop's and a full-HD window's width, at pixel ratios 1 and
// 2 (a 200 % desktop: the same window in four times the pixels), and the
// cursor moves of a playback tick. Runs on Qt's offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cmath>
#include <memory>
#include <vector>

#include "BenchQtMain.h"
#include "app/UnitUtils.h"
#include "telemetry/UnitGraphics.h"
#include "telemetry/UnitMovingInfo.h"

using namespace tachora;

namespace {

constexpr double kSec = 1.0 / 86400.0;

struct TTrip {
  std::vector<std::unique_ptr<TMovingInfo>> tracks;
  std::vector<TGraphSource> sources;
  // extreme: every recording also holds readings no reader lets through
  // (1e12 g and km/h, an infinite altitude, not-a-number), as the graphs
  // must draw them should they ever get them.
  explicit TTrip(bool extreme = false) {
    const double start = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0);
    const int recordings = 12, seconds = 300;
    for (int r = 0; r < recordings; ++r) {
      auto mi = std::make_unique<TMovingInfo>();
      const double t0 = start + r * seconds * kSec;
      for (int s = 0; s < seconds; ++s) {
        TGpsPoint p;
        p.Time = t0 + s * kSec;
        p.Speed = 60 + 40 * std::sin((r * seconds + s) / 97.0);
        p.Altitude = 150 + 30 * std::sin((r * seconds + s) / 400.0);
        mi->GpsPoints.push_back(p);
        for (int k = 0; k < 10; ++k) {
          TGsensorPoint g;
          g.Time = p.Time + k * kSec / 10;
          g.X = 0.2f * std::sin(s * 0.3f + k);
          g.Y = 0.15f * std::cos(s * 0.2f + k);
          g.Z = 0.05f * std::sin(s + k * 0.5f);
          g.A = std::sqrt(g.X * g.X + g.Y * g.Y + g.Z * g.Z);
          mi->GsensorPoints.push_back(g);
        }
      }
      if (extreme) {
        mi->GpsPoints[10].Speed = 1e12L;
        mi->GpsPoints[20].Altitude = INFINITY;
        mi->GpsPoints[30].Speed = NAN;
        for (const size_t i : {100, 200}) {
          TGsensorPoint &g = mi->GsensorPoints[i];
          g.X = g.Y = g.Z = g.A = 1e12f;
        }
        mi->GsensorPoints[300].A = NAN;
      }
      mi->StartTime = t0;
      mi->EndTime = t0 + seconds * kSec;
      sources.push_back({mi.get(), static_cast<long double>(r) / recordings,
                         static_cast<long double>(r + 1) / recordings});
      tracks.push_back(std::move(mi));
    }
  }
};

struct TSix {
  std::vector<std::unique_ptr<TMyImage>> images;
  std::vector<std::unique_ptr<TMyGraphic>> graphs;
  explicit TSix(int width, qreal ratio = 1) {
    for (int k = 0; k < kGraphKindCount; ++k) {
      images.push_back(std::make_unique<TMyImage>());
      images.back()->SetPixelRatio(ratio);
      images.back()->resize(width, 45);
      graphs.push_back(
          std::make_unique<TMyGraphic>(images.back().get(), GraphKindInfo(k).Kind, 30));
    }
  }
};

void BM_SixGraphsRedraw(benchmark::State &state) {
  static const TTrip trip;
  // range(1): the pixel ratio in tenths.
  const qreal ratio = static_cast<qreal>(state.range(1)) / 10;
  TSix six(static_cast<int>(state.range(0)), ratio);
  TGraphBands bands;
  // The selection's columns are device pixels.
  bands.Selection = {static_cast<int>(100 * ratio), static_cast<int>(300 * ratio)};
  for (auto _ : state) {
    for (auto &g : six.graphs) {
      g->DrawGraph(trip.sources, 0, 1, bands);
      g->DrawCursor(0.5L);
    }
    benchmark::DoNotOptimize(six.images[0]->Picture().constBits());
  }
}
BENCHMARK(BM_SixGraphsRedraw)
    ->ArgsProduct({{800, 1920}, {10, 20}})
    ->ArgNames({"width", "ratio10"})
    ->Unit(benchmark::kMillisecond);

// The same redraw with absurd values in every recording: a dozen ticks
// each, never billions (the goal is under 20 ms for the six).
void BM_SixGraphsRedrawExtremeValues(benchmark::State &state) {
  static const TTrip trip(true);
  TSix six(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    for (auto &g : six.graphs) {
      g->DrawGraph(trip.sources, 0, 1);
      g->DrawCursor(0.5L);
    }
    benchmark::DoNotOptimize(six.images[0]->Picture().constBits());
  }
}
BENCHMARK(BM_SixGraphsRedrawExtremeValues)->Arg(800)->Arg(1920)->Unit(benchmark::kMillisecond);

void BM_SixGraphsCursor(benchmark::State &state) {
  static const TTrip trip;
  TSix six(static_cast<int>(state.range(0)));
  for (auto &g : six.graphs) g->DrawGraph(trip.sources, 0, 1);
  long double p = 0;
  for (auto _ : state) {
    p += 0.0001L;
    if (p > 1) p = 0;
    for (auto &g : six.graphs) g->DrawCursor(p);
    benchmark::DoNotOptimize(six.images[0]->Picture().constBits());
  }
}
BENCHMARK(BM_SixGraphsCursor)->Arg(800)->Arg(1920)->Unit(benchmark::kMicrosecond);

}  // namespace

TACHORA_QT_BENCHMARK_MAIN()
