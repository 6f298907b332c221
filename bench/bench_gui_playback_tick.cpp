// One playback tick in the main window with every panel: the position read
// through the trip time line, the telemetry state at it and the listeners
// in order (seek bar, graph cursors, vehicle and instrument pictures, and
// the map's vehicle script, built here since no page runs offscreen). The
// trip has twelve recordings, without telemetry (BM_PlaybackTick) or with a
// fix a second and ten G-sensor samples a second (BM_PlaybackTickAllPanels,
// the six graphs and the instruments shown); the engine is paused on a
// missing file (the tick's own work, not mpv's), the window is 800 or 1920
// pixels wide. Runs on Qt's offscreen platform with a private settings
// file.
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QTemporaryDir>
#include <cmath>

#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "app/UnitUtils.h"
#include "map/UnitMapController.h"
#include "map/UnitMapScript.h"
#include "playback/UnitPlaybackController.h"
#include "playback/UnitTickListener.h"
#include "telemetry/UnitTelemetryController.h"

using namespace tachora;

namespace {

constexpr double kSec = 1.0 / 86400.0;

// A minute of driving: a fix a second, ten G-sensor samples a second.
std::unique_ptr<TMovingInfo> Minute(double t0, int index) {
  auto mi = std::make_unique<TMovingInfo>();
  for (int s = 0; s < 60; ++s) {
    const int n = index * 60 + s;
    TGpsPoint p;
    p.Time = t0 + s * kSec;
    p.Lon = 30 + n * 1e-4;
    p.Lat = 60 + 3e-4 * std::sin(n / 50.0);
    p.Speed = 60 + 40 * std::sin(n / 97.0);
    p.Course = std::fmod(n * 0.7, 360.0);
    p.Altitude = 150 + 30 * std::sin(n / 400.0);
    p.Number = s;
    mi->GpsPoints.push_back(p);
    for (int k = 0; k < 10; ++k) {
      TGsensorPoint g;
      g.Time = p.Time + k * kSec / 10;
      g.X = 0.2f * std::sin(s * 0.3f + k);
      g.Y = 0.15f * std::cos(s * 0.2f + k);
      g.Z = 0.05f * std::sin(s + k * 0.5f);
      g.A = std::sqrt(g.X * g.X + g.Y * g.Y + g.Z * g.Z);
      g.Number = s * 10 + k;
      mi->GsensorPoints.push_back(g);
    }
  }
  mi->StartTime = t0;
  mi->EndTime = t0 + 59 * kSec;
  return mi;
}

// What the map sends the page for the vehicle each tick.
class TVehicleScript : public ITickListener {
 public:
  int64_t Samples = 0;
  void PlaybackTick(const TTickState &s) override {
    if (!s.HasSample) return;
    ++Samples;
    const TGpsPoint &p = s.State.Gps;
    benchmark::DoNotOptimize(VehicleMarkerScript({p.Lon, p.Lat}, p.Course, p.Speed,
                                                 s.State.FixValid, 40, TArrowSize::Normal));
  }
};

std::shared_ptr<const TRowTelemetry> Trip(bool telemetry = false) {
  auto trip = std::make_shared<TRowTelemetry>();
  TFileItem &row = trip->Row;
  row.Summary.DisplayName = "FILE0001-12";
  row.Summary.Start = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0);
  row.Summary.End = row.Summary.Start + 13.0 / 1440;
  for (int i = 0; i < 12; ++i) {
    TFileItemSubitem it;
    const int at = i < 6 ? i : i + 1;
    it.Path = "/nonexistent/FILE" + std::to_string(i) + ".MOV";
    it.RelStart = at / 13.0L;
    it.RelEnd = (at + 1) / 13.0L;
    it.Duration = 60000;
    it.DurationSource = kDurContainer;
    if (telemetry) {
      it.RelGpsStart = it.RelStart;
      it.RelGpsEnd = it.RelEnd;
      trip->Tracks.push_back(Minute(row.Summary.Start + at * 60 * kSec, i));
    } else {
      trip->Tracks.push_back(std::make_unique<TMovingInfo>());
    }
    row.Items.push_back(it);
  }
  return trip;
}

void BM_PlaybackTick(benchmark::State &state) {
  TFormMain::AutoFirstShow = false;
  TFormMain form;
  form.resize(static_cast<int>(state.range(0)), 700);
  form.show();
  TPlaybackController *player = form.Playback();
  player->Warn = [](const QString &) {};
  player->OpenRow(Trip());
  player->Pause();
  long double p = 0;
  for (auto _ : state) {
    p += 0.0001L;
    if (p > 1) p = 0;
    player->Timeline().Drag(p);  // the position a drag shows
    player->Tick(true);
  }
  player->Stop();
}
BENCHMARK(BM_PlaybackTick)->Arg(800)->Arg(1920)->Unit(benchmark::kMicrosecond);

void BM_PlaybackTickAllPanels(benchmark::State &state) {
  TFormMain::AutoFirstShow = false;
  TFormMain form;
  // All six graphs under the video.
  form.Menu()->Item("N_View_Graphics_Show")->trigger();
  form.resize(static_cast<int>(state.range(0)), 900);
  form.show();
  TPlaybackController *player = form.Playback();
  player->Warn = [](const QString &) {};
  TVehicleScript vehicle;
  player->AddTickListener(&vehicle, TTickRank::kMap);
  player->OpenRow(Trip(true));
  player->Pause();
  QApplication::processEvents();  // the layout takes the graphs' height
  long double p = 0;
  for (auto _ : state) {
    p += 0.0001L;
    if (p > 1) p = 0;
    player->Timeline().Drag(p);
    player->Tick(true);
  }
  // Ticks that found a telemetry point (all of them but the gap's).
  state.counters["samples"] =
      benchmark::Counter(static_cast<double>(vehicle.Samples), benchmark::Counter::kAvgIterations);
  // The graphs drawn, to see that all six are shown.
  state.counters["graphs"] = static_cast<double>(form.Telemetry()->Graphics().size());
  player->RemoveTickListener(&vehicle);
  player->Stop();
}
BENCHMARK(BM_PlaybackTickAllPanels)->Arg(800)->Arg(1920)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  SetSettingsFile(dir.filePath("Tachora.conf"));
  InitLocalTimeOffset();
  InitLanguages(1033);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
