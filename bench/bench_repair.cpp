// Repair speed on a broken H.264 + PCM recording of about 512 MB (1280x720
// at 12 Mbit/s, 32 kHz mono sowt, as dash cameras record): a 20-second
// ffmpeg recording's media data repeated, with no movie atom and a media-data
// size of 0. Made on first use in the temp folder. Reports MB/s of the
// broken file and the peak resident memory, which must not grow with the
// file (TACHORA_REPAIR_BENCH_MB sets the size).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "container/UnitRepair.h"

using namespace tachora;
namespace fs = std::filesystem;

namespace {

std::string Temp(const std::string &name) {
  return (fs::temp_directory_path() / name).string();
}

const std::string &Reference() {
  static const std::string path = [] {
    const std::string p = Temp("tachora-bench-repair-ref.mov");
    if (!fs::exists(p)) {
      const std::string cmd =
          "ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1280x720:rate=30:duration=20 "
          "-f lavfi -i sine=sample_rate=32000:duration=20 -c:v libx264 -preset ultrafast -b:v 12M "
          "-g 30 -bf 0 -c:a pcm_s16le -ac 1 -f mov '" +
          p + ".tmp' && mv '" + p + ".tmp' '" + p + "'";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "ffmpeg failed\n");
    }
    return p;
  }();
  return path;
}

std::string Broken(int64_t megabytes) {
  const std::string p = Temp("tachora-bench-repair-" + std::to_string(megabytes) + "mb.mov");
  if (fs::exists(p)) return p;
  std::ifstream in(Reference(), std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), {});
  const size_t mdat = data.find("mdat") - 4;
  const size_t moov = data.rfind("moov") - 4;
  const std::string payload = data.substr(mdat + 8, moov - mdat - 8);
  std::string head = data.substr(0, mdat) + std::string("\0\0\0\0mdat", 8);
  std::ofstream out(p + ".tmp", std::ios::binary | std::ios::trunc);
  out.write(head.data(), std::streamsize(head.size()));
  for (int64_t written = 0; written < megabytes << 20; written += int64_t(payload.size()))
    out.write(payload.data(), std::streamsize(payload.size()));
  out.close();
  fs::rename(p + ".tmp", p);
  return p;
}

void BM_RepairH264Pcm(benchmark::State &state) {
  const char *env = std::getenv("TACHORA_REPAIR_BENCH_MB");
  const int64_t mb = env ? std::atoll(env) : 512;
  const std::string broken = Broken(mb);
  const std::string out = Temp("tachora-bench-repaired-" + std::to_string(getpid()) + ".mov");
  TRepairResult r;
  for (auto _ : state) {
    r = RepairRecording(broken, Reference(), out);
    if (!r.Ok()) state.SkipWithError(RepairErrorText(r).c_str());
  }
  fs::remove(out);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(broken)));
  state.counters["frames"] = r.videoFrames;
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  state.counters["peak_rss_mb"] = double(u.ru_maxrss) / 1024;
}
BENCHMARK(BM_RepairH264Pcm)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
