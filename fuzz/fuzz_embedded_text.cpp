// libFuzzer target: bytes as samples of a text or subtitle track (NMEA with
// or without '$', Thinkware records, Garmin PNDM), the input split at each
// line feed into samples of one track.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "telemetry/UnitEmbeddedReaders.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view all(reinterpret_cast<const char *>(data), size);
  TEmbeddedTrack t;
  TNmeaState state;
  double time = 45000;
  while (!all.empty()) {
    const size_t cut = all.find('\n');
    ReadTextSample(all.substr(0, cut), time, state, t);
    time += 1.0 / 86400;
    if (cut == std::string_view::npos) break;
    all.remove_prefix(cut + 1);
  }
  FilterFixes(t);
  return 0;
}
