// libFuzzer target: the MOV reader in full and headers-only mode on
// arbitrary bytes, then every built sample, which must lie in the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "container/UnitMOV.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace tachora;
  for (bool headersOnly : {false, true}) {
    TMOVReader r(data, size, headersOnly);
    int32_t w, h;
    r.VideoSize(w, h);
    if (r.HasMovie() && r.MovieAtomOffset() + r.MovieAtomSize() > static_cast<int64_t>(size))
      std::abort();
    for (const TMOVTrack &t : r.Tracks()) {
      if (headersOnly && t.SampleCount() != 0) std::abort();
      int64_t lastTime = -1;
      for (uint32_t k = 0; k < t.SampleCount(); ++k) {
        const TMOVSample s = t.Sample(k);
        if (s.offset < 0 || s.offset + s.size > static_cast<int64_t>(size)) std::abort();
        if (s.time < lastTime) std::abort();
        lastTime = s.time;
      }
    }
  }
  return 0;
}
