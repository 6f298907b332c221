// libFuzzer target: bytes as one GPMF sample of a `gpmd` track (nested
// entries, sticky scales and types, GPS5/GPS9/ACCL).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "telemetry/UnitEmbeddedReaders.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TEmbeddedTrack t;
  ReadGpmfSample(std::string_view(reinterpret_cast<const char *>(data), size), 45000, 1.0, t);
  FilterFixes(t);
  return 0;
}
