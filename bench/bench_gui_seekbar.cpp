// The seek bar's share of a playback tick (the marker redrawn over the
// background) and a full redraw after a zoom, scroll or resize, at a
// laptop's and a full-HD window's width. Runs on Qt's offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "BenchQtMain.h"
#include "app/UnitUtils.h"
#include "catalogue/UnitFileItems.h"
#include "playback/UnitSeekBitmap.h"

using namespace tachora;

namespace {

// A trip of 12 one-minute recordings with a gap and one of unknown duration.
TFileItem Trip() {
  TFileItem row;
  row.Summary.Start = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0);
  row.Summary.End = row.Summary.Start + 13.0 / 1440;
  for (int i = 0; i < 12; ++i) {
    TFileItemSubitem it;
    const int at = i < 6 ? i : i + 1;
    it.RelStart = at / 13.0L;
    it.RelEnd = (at + 1) / 13.0L;
    it.DurationSource = i == 9 ? kDurNoHeader : kDurContainer;
    row.Items.push_back(it);
  }
  return row;
}

struct TBar {
  explicit TBar(int width) : seek(&image) {
    image.resize(width, TSeekBitmap::kDesignHeight);
    seek.LoadTrip(Trip());
    seek.SetSelectionStart(0.2L);
    seek.SetSelectionEnd(0.35L);
  }
  TMyImage image;
  TSeekBitmap seek;
};

void BM_SeekBarTick(benchmark::State &state) {
  TBar bar(static_cast<int>(state.range(0)));
  long double p = 0;
  for (auto _ : state) {
    p += 0.0001L;
    if (p > 1) p = 0;
    bar.seek.ShowPosition(p);
    benchmark::DoNotOptimize(bar.image.Picture().constBits());
  }
}
BENCHMARK(BM_SeekBarTick)->Arg(800)->Arg(1920)->Unit(benchmark::kMicrosecond);

void BM_SeekBarLayout(benchmark::State &state) {
  TBar bar(static_cast<int>(state.range(0)));
  bar.seek.ShowPosition(0.5L);
  for (auto _ : state) {
    bar.seek.Layout();
    benchmark::DoNotOptimize(bar.image.Picture().constBits());
  }
}
BENCHMARK(BM_SeekBarLayout)->Arg(800)->Arg(1920)->Unit(benchmark::kMicrosecond);

}  // namespace

TACHORA_QT_BENCHMARK_MAIN()
