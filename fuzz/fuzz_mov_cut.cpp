// libFuzzer target: reader + cutting. The first two bytes choose the
// selection, the rest is the recording. The cut file is read back; it must
// be a movie whose samples lie inside it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "container/UnitMOV.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace tachora;
  if (size < 2) return 0;
  const long double a = data[0] / 255.0L, b = data[1] / 255.0L;
  const bool video = data[0] & 1, audio = data[1] & 1;
  data += 2;
  size -= 2;
  TMOVReader r(data, size, false);
  if (!r.HasMovie()) return 0;
  static const std::string out =
      (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : std::string("/tmp")) +
      "/fuzz_mov_cut_" + std::to_string(getpid()) + ".mov";
  try {
    TMOVWriter w(out, 4096);
    int calls = 0;
    w.CopySamples(r, a, b, {video, audio}, [&](double, double) { return ++calls < 50; });
    w.CopySamples(r, 0, 1, {video, audio});
    w.WriteMovie(r);
    w.Close();
  } catch (const TMOVError &) {
    std::remove(out.c_str());
    return 0;
  }
  TMOVReader back(out, false);
  if (!back.HasMovie()) std::abort();
  FILE *f = std::fopen(out.c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  const long outSize = std::ftell(f);
  std::fclose(f);
  for (const TMOVTrack &t : back.Tracks())
    for (uint32_t k = 0; k < t.SampleCount(); ++k) {
      const TMOVSample s = t.Sample(k);
      if (s.offset + s.size > outSize) std::abort();
    }
  std::remove(out.c_str());
  return 0;
}
