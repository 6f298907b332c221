// libFuzzer target: bytes as a whole recording (an in-memory file), through
// the probe and the read of its embedded telemetry: box walk, index, tracks,
// boxes of their own and the scan; and both through one opening, as a
// listing makes them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue/UnitCatalogueProbe.h"
#include "telemetry/UnitEmbeddedTelemetry.h"
#include "telemetry/UnitMovingInfo.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const int fd = memfd_create("recording", 0);
  if (fd < 0) return 0;
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  TEmbeddedReport report;
  ProbeEmbeddedTelemetry(path, &report);
  auto mi = TMovingInfo::LoadFromFile(path, TLoadDepth::Complete);
  if (mi) StateAt(*mi, 0.5);
  TTelemetryStats stats;
  bool read = false;
  LoadEmbeddedTelemetryStats(path, stats, read);
  return 0;
}
