// One playback tick in the main window with the listeners that exist (the
// seek bar): the position read through the trip time line, the telemetry
// state at it and every listener in order. The trip has twelve recordings,
// the engine is paused on a missing file (the tick's own work, not mpv's),
// the window is 800 or 1920 pixels wide. Runs on Qt's offscreen platform
// with a private settings file.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitReg.h"
#include "app/UnitUtils.h"
#include "playback/UnitPlaybackController.h"

using namespace tachora;

namespace {

std::shared_ptr<const TRowTelemetry> Trip() {
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
    row.Items.push_back(it);
    trip->Tracks.push_back(std::make_unique<TMovingInfo>());
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
