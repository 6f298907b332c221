// libFuzzer target: bytes as freeGPS blocks, found through an index built
// from the input's head and by the scan, every layout's decoder and the
// filter of stray fixes. Nothing may crash, hang or read outside the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "container/UnitMOVBoxes.h"
#include "telemetry/UnitEmbeddedReaders.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  auto stream = TMOVStream::FromMemory(data, size);
  TEmbeddedTrack t;
  TFreeGpsState s;
  s.ClipStartUtc = 45000;
  // The input itself as one block, with whatever its size field says.
  DecodeFreeGpsBlock(data, size, s, t);
  // Index entries from the first bytes, pointing anywhere.
  std::vector<TBlockRef> entries;
  for (size_t i = 0; i + 8 <= size && i < 64; i += 8) {
    TBlockRef e;
    e.offset = (uint32_t(data[i]) << 24 | uint32_t(data[i + 1]) << 16 | uint32_t(data[i + 2]) << 8 |
                data[i + 3]) %
               (size + 16);
    e.size = uint32_t(data[i + 4]) << 8 | data[i + 5];
    entries.push_back(e);
  }
  ReadFreeGpsIndexed(*stream, entries, s, t);
  ScanFreeGps(*stream, 0, static_cast<int64_t>(size), s, t);
  FilterFixes(t);
  return 0;
}
