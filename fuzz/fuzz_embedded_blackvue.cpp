// libFuzzer target: BlackVue records, as the `gps ` and `3gf ` boxes (the
// input split at its first NUL) and as the .gps/.3gf files beside a video
// through the reader selection.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "telemetry/UnitEmbeddedReaders.h"
#include "telemetry/UnitMovingInfo.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view all(reinterpret_cast<const char *>(data), size);
  const size_t nul = all.find('\0');
  const std::string_view gps = all.substr(0, nul);
  const std::string_view accel =
      nul == std::string_view::npos ? std::string_view() : all.substr(nul + 1);
  TEmbeddedTrack t;
  ReadBlackVue(gps, accel, t);
  FilterFixes(t);
  for (const char *path : {"f.gps", "f.3gf"}) {
    auto mi = TMovingInfo::LoadFromText(all, path, 45000, 45000.01, false);
    if (mi) StateAt(*mi, 0.5);
  }
  return 0;
}
