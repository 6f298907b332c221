// libFuzzer target: bytes as the top-level telemetry boxes of their own
// (70mai `GPS `; `gps0` and `gsen`, the input split in the middle).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "telemetry/UnitEmbeddedReaders.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view all(reinterpret_cast<const char *>(data), size);
  TEmbeddedTrack t;
  Read70maiBox(all, 45000, t);
  ReadGps0(all.substr(0, size / 2), all.substr(size / 2), t);
  FilterFixes(t);
  return 0;
}
