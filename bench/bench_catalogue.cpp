// Catalogue benchmarks: the row summary of a long trip, automatic grouping
// rules over many rows, and, when TACHORA_BENCH_CARD names a generated card
// (bench/compare_catalogue.sh makes one), a whole search of it: the time
// until the first pass has listed every row and until preview and grouping
// have ended.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "app/UnitLang.h"
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

}  // namespace
