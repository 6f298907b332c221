// MOV reader and cutter speed on a one-minute H.264 + 48 kHz PCM recording
// (2.88 million audio samples), made with ffmpeg on first use in the temp
// folder. Whole-process comparisons with ffprobe/ffmpeg/cp on a 300 MB file
// are in compare_container.sh and compare_cut.sh. TACHORA_BENCH_CUT_SOURCE
// names another recording for BM_Cut10to90 (compare_cut.sh gives one on
// each file system it compares); the cut is written beside it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "container/UnitCutter.h"
#include "container/UnitMOV.h"

using namespace tachora;

namespace {

const std::string &Minute() {
  static const std::string path = [] {
    const std::string p =
        (std::filesystem::temp_directory_path() / "tachora-bench-minute.mov").string();
    if (!std::filesystem::exists(p)) {
      const std::string tmp = p + ".tmp";
      const std::string cmd =
          "ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=320x240:rate=30:duration=60 "
          "-f lavfi -i sine=sample_rate=48000:duration=60 -c:v libx264 -preset ultrafast -g 30 "
          "-bf 0 -c:a pcm_s16le -ac 1 -f mov '" +
          tmp + "' && mv '" + tmp + "' '" + p + "'";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "ffmpeg failed\n");
    }
    return p;
  }();
  return path;
}

void BM_OpenHeadersOnly(benchmark::State &state) {
  for (auto _ : state) {
    TMOVReader r(Minute(), true);
    if (!r.HasMovie()) state.SkipWithError("no movie");
    benchmark::DoNotOptimize(r.DurationMs());
  }
}
BENCHMARK(BM_OpenHeadersOnly)->Unit(benchmark::kMicrosecond);

void BM_OpenFull(benchmark::State &state) {
  uint64_t samples = 0;
  for (auto _ : state) {
    TMOVReader r(Minute(), false);
    samples = 0;
    for (const TMOVTrack &t : r.Tracks()) samples += t.SampleCount();
  }
  state.counters["samples"] = static_cast<double>(samples);
}
BENCHMARK(BM_OpenFull)->Unit(benchmark::kMillisecond);

void BM_Cut10to90(benchmark::State &state) {
  const char *source = std::getenv("TACHORA_BENCH_CUT_SOURCE");
  const std::filesystem::path path = source && *source ? source : Minute();
  const std::string out =
      (path.parent_path() / ("tachora-bench-cut-" + std::to_string(getpid()) + ".mov")).string();
  TCutTrip trip;
  trip.recordings.push_back({path.string(), 0, 1});
  TCutOptions o;
  o.a = 0.1L;
  o.b = 0.9L;
  o.output = out;
  int64_t bytes = 0, calls = 0;
  for (auto _ : state) {
    // Every cut writes a fresh file: removing the last one is not timed.
    state.PauseTiming();
    std::filesystem::remove(out);
    state.ResumeTiming();
    TCutResult r = CutFragment(trip, o, nullptr, {});
    if (!r.written) state.SkipWithError(CutErrorText(r).c_str());
    bytes = r.mediaBytes;
    calls = r.copyCalls;
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["copy_calls"] = static_cast<double>(calls);
  std::filesystem::remove(out);
}
BENCHMARK(BM_Cut10to90)->Unit(benchmark::kMillisecond);

}  // namespace
