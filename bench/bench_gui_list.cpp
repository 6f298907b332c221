// View -> Show on a list of 10,000 rows: the catalogue's items filtered by
// kind into the list's rows and handed to the list's model, as a change of
// the filter does. Runs on Qt's offscreen platform.
#include <benchmark/benchmark.h>

#include "BenchQtMain.h"
#include "catalogue/UnitListCommands.h"
#include "catalogue/UnitRecordList.h"
#include "catalogue/UnitRecordingKind.h"

using namespace tachora;

namespace {

// Every third row an event, every seventh a parking clip.
std::vector<TListItem> Items(int count) {
  std::vector<TListItem> items(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    TListItem &li = items[static_cast<size_t>(i)];
    li.Caption = "FILE" + std::to_string(10000 + i);
    li.SubItems = {"1:00",
                   "2024-05-01 10:00",
                   "1.20km",
                   "36.0",
                   "/media/card/DCIM/100MEDIA/" + li.Caption + ".MOV",
                   "120",
                   "1920x1080",
                   "Normal",
                   "0"};
    li.SubImages.assign(li.SubItems.size(), -1);
    li.Kind = i % 3 == 0 ? kKindEvent : (i % 7 == 0 ? kKindParking : kKindNormal);
    li.Id = static_cast<uint64_t>(i + 1);
  }
  return items;
}

void BM_FilterList(benchmark::State &state) {
  const std::vector<TListItem> items = Items(static_cast<int>(state.range(0)));
  TRecordListModel model;
  int filter = 0;
  for (auto _ : state) {
    filter = (filter + 1) % 4;
    model.SetRows(FilteredListRows(items, filter));
    benchmark::DoNotOptimize(model.rowCount());
  }
}
BENCHMARK(BM_FilterList)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

TACHORA_QT_BENCHMARK_MAIN()
