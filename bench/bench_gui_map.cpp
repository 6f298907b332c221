// The map's and the instruments' share of playback: the track script of a
// 100,000-point trip (thinning, time points, the script text: all that
// DrawTracks does before handing the text to the browser), the vehicle
// marker script of each tick, and one tick's redraw of the three
// instrument pictures. Runs on Qt's offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cmath>

#include "BenchQtMain.h"
#include "app/UnitUtils.h"
#include "map/UnitInstruments.h"
#include "map/UnitMapScript.h"

using namespace tachora;

namespace {

// A drive of n fixes, one a second at about 60 km/h along a winding road,
// with a stop of ten minutes every 10,000 points.
TMovingInfo Drive(int n) {
  TMovingInfo mi;
  mi.GpsPoints.reserve(n);
  double lon = 30.3, lat = 59.9, t = EncodeDate(2024, 5, 1) + EncodeTime(8, 0, 0, 0);
  long double dist = 0;
  for (int k = 0; k < n; ++k) {
    TGpsPoint p;
    if (k > 0 && k % 10000 == 0) t += 600.0 / 86400;
    t += 1.0 / 86400;
    const double heading = std::sin(k / 300.0) * 1.2 + k / 5000.0;
    lon += std::sin(heading) * 16.7 / 55800;
    lat += std::cos(heading) * 16.7 / 111200;
    dist += 16.7;
    p.Time = t;
    p.Lon = lon;
    p.Lat = lat;
    p.Speed = 60;
    p.Course = std::fmod(heading * 57.3 + 360, 360);
    p.Distance = dist;
    p.Number = k;
    mi.GpsPoints.push_back(p);
  }
  mi.StartTime = mi.GpsPoints.front().Time;
  mi.EndTime = mi.GpsPoints.back().Time;
  return mi;
}

void BM_DrawTracksScript(benchmark::State &state) {
  const TMovingInfo mi = Drive(static_cast<int>(state.range(0)));
  TTrackScriptInput in;
  in.Records = {&mi};
  in.Connect = true;
  in.Interval = 1.0 / 1440;
  size_t bytes = 0;
  for (auto _ : state) {
    const TTrackScript t = BuildTrackScript(in);
    QString script = t.Paths + MapBoundsScript(t) + t.TimePoints;
    bytes = script.size();
    benchmark::DoNotOptimize(script.constData());
  }
  state.counters["chars"] = static_cast<double>(bytes);
}
BENCHMARK(BM_DrawTracksScript)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The thinning alone (core's Thin), to tell its share from the script's.
void BM_ThinOnly(benchmark::State &state) {
  const TMovingInfo mi = Drive(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TTrack t = Thin(mi, -1);
    benchmark::DoNotOptimize(t.data());
  }
}
BENCHMARK(BM_ThinOnly)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_VehicleMarkerScript(benchmark::State &state) {
  double course = 0;
  for (auto _ : state) {
    course = std::fmod(course + 7.3, 360);
    QString s = VehicleMarkerScript({30.3, 59.9}, course, 62, true, 48, TArrowSize::Big);
    benchmark::DoNotOptimize(s.constData());
  }
}
BENCHMARK(BM_VehicleMarkerScript)->Unit(benchmark::kMicrosecond);

void BM_InstrumentsTick(benchmark::State &state) {
  TMyImage speedImage, azImage, gImage;
  speedImage.resize(134, 100);
  azImage.resize(73, 49);
  gImage.resize(65, 65);
  TSpeedBitmap speed(&speedImage);
  TAzimutBitmap az(&azImage);
  TGSensorBitmap g(&gImage);
  double v = 0;
  for (auto _ : state) {
    v = std::fmod(v + 1.7, 180);
    speed.Draw(v, 12345 + v, 42);
    az.Draw(v * 2);
    g.Draw(0.1, -0.2, 0.98, 1);
    benchmark::DoNotOptimize(speedImage.Picture().constBits());
  }
}
BENCHMARK(BM_InstrumentsTick)->Unit(benchmark::kMicrosecond);

}  // namespace

TACHORA_QT_BENCHMARK_MAIN()
