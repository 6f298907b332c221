// libFuzzer target: any bytes through the reader selection (every reader, by
// head and by each extension), then loading, the queries and every writer on
// whatever was accepted. Nothing may crash, hang or grow beyond the input,
// and a writer gives the same text for a track's records, for its loaded
// points and for its points loaded only as deep as the writer needs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitMovingInfo.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  const double modified = 40299.5, created = modified - 0.01;
  static const char *const kPaths[] = {"f.dat", "f.log", "f.gpx", "f.plt", "f.txt"};
  for (const char *path : kPaths) {
    auto mi = TMovingInfo::LoadFromText(text, path, created, modified, false);
    if (!mi) continue;
    TTrackInfo info;
    BeginTrackInfo(*mi, info);
    if (!mi->GpsPoints.empty())
      for (const auto &w : MakeGpsWriters()) {
        const std::string records = WriteTrackText(*w, info);
        if (WriteTrackText(*w, *mi) != records) __builtin_trap();
        auto shallow = TMovingInfo::LoadFromText(text, path, created, modified, w->Depth());
        if (!shallow || WriteTrackText(*w, *shallow) != records) __builtin_trap();
      }
    ExtractRange(*mi, 0.25, 0.75, info);
    for (const long double f : {-0.1L, 0.0L, 0.33L, 1.0L, 1.5L}) StateAt(*mi, f);
    long double best = 1e30L;
    NearestPoint(*mi, 55.75, 37.6, best);
    Thin(*mi, -1);
    TMovingInfo copy = *mi;
    Trim(copy, mi->StartTime + (mi->EndTime - mi->StartTime) / 4, mi->EndTime);
    CopyAltitude(copy, *mi);
    for (const auto &w : MakeGpsWriters()) {
      const std::string out = WriteTrackText(*w, info);
      TTrackInfo back;
      ReadTrackText(out, std::string("o.") + w->Extension(), created, modified, back);
    }
    break;  // the extension rule only matters when no reader takes the head
  }
  return 0;
}
