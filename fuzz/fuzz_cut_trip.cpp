// libFuzzer target: cutting a fragment across several recordings, as the
// cutting window and `tachora-cli cut` do. The first four bytes choose the
// number of recordings (1-3), the selection and the options; each recording
// but the last is preceded by its length (two bytes, big-endian), the last
// takes the rest. Whatever the recordings hold, a cut either writes a movie
// whose samples lie inside it (and whose ".dat" is what the meta source
// gave), or leaves nothing at all in the output folder.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "container/UnitCutter.h"
#include "container/UnitMOV.h"

namespace {

using namespace tachora;

// The telemetry of a recording as the cut asks for it: a short line that
// names the recording and the span.
class TFakeMeta : public TCutMetaSource {
 public:
  std::string MetaText(const TCutRecording &rec, long double from, long double to) override {
    if (!(from >= 0 && to <= 1 && from <= to)) std::abort();
    return "[G]\t" + rec.path.substr(rec.path.rfind('/') + 1) + "\r\n";
  }
};

const std::string &Folder() {
  static const std::string dir = [] {
    std::string d =
        (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : std::string("/tmp")) +
        "/fuzz_cut_trip_" + std::to_string(getpid());
    mkdir(d.c_str(), 0700);
    return d;
  }();
  return dir;
}

std::vector<std::string> Names(const std::string &dir) {
  std::vector<std::string> out;
  if (DIR *dp = opendir(dir.c_str())) {
    while (dirent *e = readdir(dp))
      if (e->d_name[0] != '.' || (e->d_name[1] != '\0' && e->d_name[1] != '.'))
        out.push_back(e->d_name);
    closedir(dp);
  }
  return out;
}

bool WriteFile(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

long FileSize(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  const size_t count = 1 + data[0] % 3;
  const uint8_t flags = data[3];
  TCutOptions o;
  o.a = data[1] / 255.0L;
  o.b = data[2] / 255.0L;
  o.video = !(flags & 1);
  o.audio = !(flags & 2);
  o.meta = flags & 4;
  o.keepOnCancel = flags & 8;
  o.mediaDataLimit = flags & 16 ? 4096 : 0;
  const int cancelAfter = flags & 32 ? 1 + (flags >> 6) * 7 : -1;
  data += 4;
  size -= 4;

  const std::string &dir = Folder();
  TCutTrip trip;
  trip.caption = "fuzz";
  for (size_t i = 0; i < count; ++i) {
    size_t len = size;
    if (i + 1 < count) {
      if (size < 2) return 0;
      len = std::min<size_t>((size_t(data[0]) << 8) | data[1], size - 2);
      data += 2;
      size -= 2;
    }
    TCutRecording rec;
    rec.path = dir + "/rec" + std::to_string(i) + ".mov";
    if (!WriteFile(rec.path, data, len)) std::abort();
    data += len;
    size -= len;
    // Laid end to end with a gap after the second, telemetry on every other.
    rec.start = (i + (i >= 2 ? 0.5L : 0)) / (count + 0.5L);
    rec.end = (i + 1 + (i >= 2 ? 0.5L : 0)) / (count + 0.5L);
    rec.hasTelemetry = i % 2 == 0;
    rec.telemetryStart = rec.start;
    rec.telemetryEnd = rec.end;
    trip.recordings.push_back(rec);
  }
  o.output = dir + "/out.mov";
  TFakeMeta meta;
  int calls = 0;
  const TCutResult res = CutFragment(trip, o, &meta, [&](const TCutProgress &p) {
    if (p.recording >= count || !(p.fraction >= 0 && p.fraction <= 1)) std::abort();
    return cancelAfter < 0 || ++calls < cancelAfter;
  });

  const std::string metaPath = MetaFileName(o.output);
  if (res.written) {
    TMOVReader back(o.output, false);
    if (!back.HasMovie()) std::abort();
    const long outSize = FileSize(o.output);
    for (const TMOVTrack &t : back.Tracks())
      for (uint32_t k = 0; k < t.SampleCount(); ++k) {
        const TMOVSample s = t.Sample(k);
        if (s.offset < 0 || s.offset + s.size > outSize) std::abort();
      }
    if (!res.metaPath.empty() && (!o.meta || FileSize(res.metaPath) <= 0)) std::abort();
  } else {
    // Nothing that looks like a result, and no temporary left behind.
    if (FileSize(o.output) >= 0 || FileSize(metaPath) >= 0) std::abort();
  }
  std::remove(o.output.c_str());
  std::remove(metaPath.c_str());
  for (const TCutRecording &rec : trip.recordings) std::remove(rec.path.c_str());
  if (!Names(dir).empty()) std::abort();  // a hidden temporary left behind
  return 0;
}
