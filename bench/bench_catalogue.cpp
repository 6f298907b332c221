// Catalogue benchmarks: the row summary of a long trip, automatic grouping
// rules over many rows, setting up a copy job for a long trip, and, when
// TACHORA_BENCH_CARD names a generated card (bench/compare_catalogue.sh
// makes one), a whole search of it (the time until the first pass has
// listed every row and until preview and grouping have ended) and a copy of
// its recordings, through unnamed files and through ".part" names, into
// TACHORA_BENCH_COPY_DIR (default /tmp).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/UnitLang.h"
#include "catalogue/UnitCopyEngine.h"
#include "catalogue/UnitFileManager.h"

using namespace tachora;

namespace {

std::vector<TFileItemSubitem> Trip(int n) {
  std::vector<TFileItemSubitem> recs;
  const TDateTime day = EncodeDate(2024, 5, 1);
  for (int i = n - 1; i >= 0; --i) {
    TFileItemSubitem r;
    r.Path = "/card/DCIM/100MEDIA/FILE" + std::to_string(1000 + i) + ".MOV";
    r.DisplayName = RecordingDisplayName(r.Path);
    r.Start = day + i * 60 / 86400.0;
    r.End = r.Start + 60 / 86400.0;
    r.Size = 100 << 20;
    r.Duration = 60000;
    r.DurationSource = kDurContainer;
    r.TelemetryPath = "/card/DCIM/100MEDIA/FILE" + std::to_string(1000 + i) + ".DAT";
    r.HasTrack = 1;
    r.TrackLength = 1000;
    r.AvgSpeed = 60;
    recs.push_back(r);
  }
  return recs;
}

void BM_RecomputeTrip(benchmark::State &state) {
  TFileItem row;
  row.Items = Trip(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TFileItem copy = row;
    RecomputeRow(copy, "km", 0);
    benchmark::DoNotOptimize(copy.Summary.DisplayName);
  }
}
BENCHMARK(BM_RecomputeTrip)->Arg(10)->Arg(200);

void BM_RowGapAllPairs(benchmark::State &state) {
  std::vector<TFileItem> rows;
  for (auto &r : Trip(static_cast<int>(state.range(0)))) {
    TFileItem row;
    row.Items = {r};
    RecomputeRow(row, "km", 0);
    rows.push_back(row);
  }
  for (auto _ : state) {
    double sum = 0;
    for (size_t i = 0; i < rows.size(); ++i)
      for (size_t j = i + 1; j < rows.size(); ++j) sum += RowGap(rows[i], rows[j]);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_RowGapAllPairs)->Arg(2000)->Unit(benchmark::kMillisecond);

// A whole search of a card on the search thread, as the program runs it.
void BM_SearchCard(benchmark::State &state) {
  const char *card = std::getenv("TACHORA_BENCH_CARD");
  if (!card || !*card) {
    state.SkipWithError("TACHORA_BENCH_CARD is not set");
    return;
  }
  InitLanguages(1033);
  using TClock = std::chrono::steady_clock;
  double firstPass = 0, total = 0;
  int rows = 0;
  for (auto _ : state) {
    std::atomic<bool> listed{false};
    std::atomic<TFileManager *> self{nullptr};
    const auto t0 = TClock::now();
    std::atomic<int64_t> listedAt{0};
    TFileManagerOptions opt;
    opt.Roots = {card};
    opt.InitialDelayMs = 0;
    opt.LowPriorityPreview = false;
    TFileManager fm(opt, [&] {
      TFileManager *m = self.load();
      // The preview starts once the first pass has listed every row.
      if (m && !listed && m->Status().rfind("Preview", 0) == 0) {
        listed = true;
        listedAt =
            std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - t0).count();
      }
    });
    self = &fm;
    fm.WaitFor();
    total += std::chrono::duration<double>(TClock::now() - t0).count();
    firstPass += listedAt.load() / 1e6;
    rows = fm.RowCount();
  }
  state.counters["first_pass_s"] = firstPass / state.iterations();
  state.counters["whole_s"] = total / state.iterations();
  state.counters["rows_after_grouping"] = rows;
}
BENCHMARK(BM_SearchCard)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The job's source list and total for a trip of 2,000 recordings, each with
// its own telemetry file (which the job stats for the total).
void BM_CopyJobSetup(benchmark::State &state) {
  TFileItem row;
  row.Items = Trip(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TFormCopyThread job(row, "/nonexistent-target", {}, false);
    benchmark::DoNotOptimize(job.TotalBytes());
  }
}
BENCHMARK(BM_CopyJobSetup)->Arg(2000)->Unit(benchmark::kMillisecond);

// A card of `count` one-minute recordings, each with a .dat file of a fix
// every 10 s, one after the other from 2024-05-01 08:00 (so they form one
// trip), made once under /tmp/tachora-bench-list-COUNT. The recordings are
// hard links to one small ffmpeg-made movie: the catalogue reads only its
// header, and the .dat files give every recording its own time. Empty
// when ffmpeg fails.
std::string ListCard(int count) {
  const std::string dir = "/tmp/tachora-bench-list-" + std::to_string(count);
  const std::string media = dir + "/DCIM/100MEDIA/";
  if (std::filesystem::exists(dir + "/.complete")) return dir;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(media);
  const std::string clip = dir + "-clip.mov";  // outside the card
  const std::string cmd =
      "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=32x32:rate=1 "
      "-t 60 -c:v libx264 -g 60 -pix_fmt yuv420p -f mov '" +
      clip + "'";
  if (std::system(cmd.c_str()) != 0) return {};
  const TDateTime day = EncodeDate(2024, 5, 1) + 8 / 24.0;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "FILE%05d", i + 1);
    std::filesystem::create_hard_link(clip, media + name + ".MOV");
    std::string text;
    for (int k = 0; k <= 60; k += 10) {
      char line[128];
      std::snprintf(line, sizeof line, "[G]\t%s\tN55.750000\tE%.6f\t36\t90\r\n",
                    FormatDateTime(day + (i * 60 + k) / 86400.0).c_str(),
                    37.6 + (i * 60 + k) * 0.00016);
      text += line;
    }
    std::ofstream(media + name + ".DAT", std::ios::binary) << text;
  }
  std::ofstream(dir + "/.complete");
  return dir;
}

// What `tachora-cli list CARD` does: scan, preview (telemetry and header of
// every recording), match GPS logs, group. Linear growth means the 10,000
// card takes five times the 2,000 one.
void BM_ListCard(benchmark::State &state) {
  InitLanguages(1033);
  const std::string card = ListCard(static_cast<int>(state.range(0)));
  if (card.empty()) {
    state.SkipWithError("ffmpeg could not make the clip");
    return;
  }
  int rows = 0;
  for (auto _ : state) {
    TFileManager fm(false, nullptr);
    fm.AddFolder(card);
    fm.MatchLogFiles();
    fm.AutoGroup();
    rows = fm.RowCount();
  }
  state.counters["rows"] = rows;
  state.counters["recordings"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_ListCard)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every recording of the card with its telemetry file into a new folder,
// including the final flush; arg 1 through unnamed files, 0 through ".part"
// names. Each iteration writes a folder of its own, removed afterwards
// outside the timing.
void BM_CopyCard(benchmark::State &state) {
  const char *card = std::getenv("TACHORA_BENCH_CARD");
  if (!card || !*card) {
    state.SkipWithError("TACHORA_BENCH_CARD is not set");
    return;
  }
  const char *dir = std::getenv("TACHORA_BENCH_COPY_DIR");
  const std::string base = std::string(dir && *dir ? dir : "/tmp") + "/tachora-bench-copycard";
  TFileManager fm(false, nullptr);
  fm.AddFolder(card);
  fm.AutoGroup();
  std::vector<TFileItem> rows = fm.Items();
  int64_t bytes = 0;
  int round = 0;
  for (auto _ : state) {
    const std::string target = base + std::to_string(++round);
    for (const auto &row : rows) {
      TFormCopyThread job(row, target, {}, false);
      job.SetUseUnnamedFiles(state.range(0) != 0);
      job.Start();
      job.WaitFor();
      bytes += job.TotalBytes();
    }
    state.PauseTiming();
    std::filesystem::remove_all(target);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_CopyCard)->Arg(1)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
