// Telemetry loading and writing speed: a one-hour recorder .dat (3,600 [G]
// and 36,000 [S] lines), a 24-hour NMEA-style GPS log, and the GPX writer
// over the 24-hour track.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/UnitUtils.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitMovingInfo.h"

using namespace tachora;

namespace {

std::string RecorderHour() {
  std::string s;
  char line[160];
  for (int i = 0; i < 3600; ++i) {
    std::snprintf(line, sizeof line,
                  "[G]\t2010-05-01 %02d:%02d:%02d\tN55.%06d\tE37.%06d\t%d\t%d\r\n", 12 + i / 3600,
                  i / 60 % 60, i % 60, 750000 + i * 7, 600000 + i * 11, 40 + i % 20, i % 360);
    s += line;
    for (int k = 0; k < 10; ++k) {
      std::snprintf(line, sizeof line, "[S]\t%d\t%d\t%d\r\n", (i * 7 + k) % 50 - 25,
                    (i * 3 + k) % 40 - 20, 1000 + (i + k) % 30);
      s += line;
    }
  }
  return s;
}

std::string DvrDay() {
  std::string s;
  char line[160];
  for (int i = 0; i < 86400; ++i) {
    const double lat = 5545.0 + (i % 3000) * 0.01, lon = 3736.0 + (i % 5000) * 0.01;
    std::snprintf(line, sizeof line, "%d,010510,%02d%02d%02d,%.4f,N,%09.4f,E,%.1f\r\n", i, i / 3600,
                  i / 60 % 60, i % 60, lat, lon, 20.0 + i % 30);
    s += line;
  }
  return s;
}

// Writes the text to a temporary file that lives as long as the object.
struct TTempFile {
  explicit TTempFile(const std::string &text, const char *ext) {
    Path = "/tmp/tachora-bench-" + std::to_string(getpid()) + ext;
    WriteTextFile(Path, text);
  }
  ~TTempFile() { ::unlink(Path.c_str()); }
  std::string Path;
};

void BM_LoadRecorderDatHour(benchmark::State &state) {
  const TTempFile f(RecorderHour(), ".dat");
  const bool quick = state.range(0) != 0;
  for (auto _ : state) {
    auto mi = TMovingInfo::LoadFromFile(f.Path, quick);
    if (!mi || mi->GpsPoints.size() != 3600 || mi->GsensorPoints.size() != 36000)
      state.SkipWithError("the hour did not load");
    benchmark::DoNotOptimize(mi);
  }
}
BENCHMARK(BM_LoadRecorderDatHour)->Arg(0)->Arg(1)->ArgName("quick")->Unit(benchmark::kMillisecond);

void BM_LoadGpsLogDay(benchmark::State &state) {
  const TTempFile f(DvrDay(), ".log");
  for (auto _ : state) {
    auto mi = TMovingInfo::LoadFromFile(f.Path, false);
    if (!mi || mi->GpsPoints.size() != 86400) state.SkipWithError("the day did not load");
    benchmark::DoNotOptimize(mi);
  }
}
BENCHMARK(BM_LoadGpsLogDay)->Unit(benchmark::kMillisecond);

void BM_WriteGpxDay(benchmark::State &state) {
  const TTempFile f(DvrDay(), ".log");
  auto mi = TMovingInfo::LoadFromFile(f.Path, false);
  TTrackInfo info;
  if (mi) BeginTrackInfo(*mi, info);
  auto gpx = FindGpsWriter("gpx");
  for (auto _ : state) benchmark::DoNotOptimize(WriteTrackText(*gpx, info));
}
BENCHMARK(BM_WriteGpxDay)->Unit(benchmark::kMillisecond);

}  // namespace
