// Telemetry loading and writing speed: a one-hour recorder .dat (3,600 [G]
// and 36,000 [S] lines), a 24-hour NMEA-style GPS log, and the GPX writer
// over the 24-hour track; and the peak memory of loading (bytes per line of
// the file and per byte of it) for the recorder .dat, the GPS log and GPX.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/UnitUtils.h"
#include "telemetry/UnitGEvents.h"
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

// A kB figure of /proc/self/status, in bytes.
int64_t StatusBytes(const char *key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return std::stoll(line.substr(prefix.size())) * 1024;
  return -1;
}

// How far the resident size rises while the file loads, measured in a
// child process so that no earlier load's freed memory hides it.
int64_t PeakGrowthOfLoad(const std::string &path) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
      std::fputs("5", f);  // the peak starts from here
      std::fclose(f);
    }
    const int64_t before = StatusBytes("VmRSS");
    auto mi = TMovingInfo::LoadFromFile(path, false);
    int64_t growth = mi ? StatusBytes("VmHWM") - before : -1;
    [[maybe_unused]] const ssize_t w = ::write(fds[1], &growth, sizeof growth);
    ::_exit(0);
  }
  ::close(fds[1]);
  int64_t growth = -1;
  if (pid < 0 || ::read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
  ::close(fds[0]);
  if (pid > 0) ::waitpid(pid, nullptr, 0);
  return growth;
}

std::string GpxDay() {
  const TTempFile f(DvrDay(), ".log");
  auto mi = TMovingInfo::LoadFromFile(f.Path, false);
  TTrackInfo info;
  if (mi) BeginTrackInfo(*mi, info);
  return WriteTrackText(*FindGpsWriter("gpx"), info);
}

// Peak memory of loading, per line and per byte of the file (at most 4 per
// byte plus 50 MB is the bound; this reports what a real file costs).
void BM_LoadPeakMemory(benchmark::State &state) {
  std::string text;
  const char *ext = ".dat";
  switch (state.range(0)) {
    case 0:  // eight hours of a recorder's .dat
      for (int h = 0; h < 8; ++h) text += RecorderHour();
      break;
    case 1:
      text = DvrDay();
      ext = ".log";
      break;
    default:
      text = GpxDay();
      ext = ".gpx";
  }
  const TTempFile f(text, ext);
  const auto lines = std::count(text.begin(), text.end(), '\n');
  const int64_t growth = PeakGrowthOfLoad(f.Path);
  if (growth < 0) state.SkipWithError("the file did not load");
  for (auto _ : state) benchmark::DoNotOptimize(TMovingInfo::LoadFromFile(f.Path, false));
  state.counters["file_MB"] = static_cast<double>(text.size()) / (1 << 20);
  state.counters["peak_MB"] = static_cast<double>(growth) / (1 << 20);
  state.counters["peak_per_file_byte"] = static_cast<double>(growth) / text.size();
  state.counters["peak_bytes_per_line"] = static_cast<double>(growth) / lines;
}
BENCHMARK(BM_LoadPeakMemory)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("dat_log_gpx")
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_WriteGpxDay(benchmark::State &state) {
  const TTempFile f(DvrDay(), ".log");
  auto mi = TMovingInfo::LoadFromFile(f.Path, false);
  TTrackInfo info;
  if (mi) BeginTrackInfo(*mi, info);
  auto gpx = FindGpsWriter("gpx");
  for (auto _ : state) benchmark::DoNotOptimize(WriteTrackText(*gpx, info));
}
BENCHMARK(BM_WriteGpxDay)->Unit(benchmark::kMillisecond);

// The converter's work for a day's GPX file: loading as deep as the writer
// needs, then its text from the loaded points (PLT: no distances at all;
// GPX: everything derived).
void BM_ConvertGpxDay(benchmark::State &state) {
  const TTempFile f(GpxDay(), ".gpx");
  TGpsInfoConverter *w = FindGpsWriter(state.range(0) == 0 ? "plt" : "gpx");
  for (auto _ : state) {
    auto mi = LoadTrackFor(f.Path, {w});
    benchmark::DoNotOptimize(mi ? WriteTrackText(*w, *mi) : std::string());
  }
  state.SetItemsProcessed(state.iterations() * 86400);
}
BENCHMARK(BM_ConvertGpxDay)->Arg(0)->Arg(1)->ArgName("plt_gpx")->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// G-force events of a 24-hour trip sampled at 100 Hz (8.64 million samples):
// road noise, gravity on Z and a hard brake every ten minutes.
void BM_DetectGEventsDay(benchmark::State &state) {
  TMovingInfo mi;
  const size_t n = 24 * 3600 * 100;
  mi.GsensorPoints.resize(n);
  const double t0 = EncodeDate(2024, 5, 1);
  for (size_t i = 0; i < n; ++i) {
    TGsensorPoint &p = mi.GsensorPoints[i];
    p.Time = t0 + static_cast<double>(i) / (100.0 * 86400.0);
    p.X = static_cast<float>(static_cast<int>(i * 7 % 61) - 30) / 1000.0f;
    p.Y = static_cast<float>(static_cast<int>(i * 13 % 71) - 35) / 1000.0f;
    p.Z = 1.0f + static_cast<float>(static_cast<int>(i * 3 % 41) - 20) / 1000.0f;
    if (i % 60000 < 30) p.Y -= 0.7f;
  }
  size_t events = 0;
  for (auto _ : state) {
    const auto found = DetectTripGEvents({&mi}, 0.5f);
    events = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  state.counters["events"] = static_cast<double>(events);
}
BENCHMARK(BM_DetectGEventsDay)->Unit(benchmark::kMillisecond);

}  // namespace
