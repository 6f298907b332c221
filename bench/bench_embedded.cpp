// Reading the telemetry inside a recording: a 3-minute 4K recording (1.5 GB,
// a sparse file whose media data holds one freeGPS block a second, 180 in
// all) through the moov `gps ` index and, in a copy without the index, by
// scanning the file; and the peak memory of each read, which must stay
// within the bound of telemetry files (4 times the telemetry bytes plus
// 50 MB), whatever the size of the video.
//
// The file goes to $TACHORA_BENCH_DIR (default /tmp); sparse, it takes only
// the blocks' 6 MB of disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "telemetry/UnitMovingInfo.h"

using namespace tachora;

namespace {

constexpr int64_t kFileSize = 1536LL << 20;  // 3 minutes at about 68 Mbit/s
constexpr int kBlocks = 180;
constexpr uint32_t kBlockSize = 0x8000;

void PutBE32(std::string &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}
void PutLE32(std::string &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
void PutLEf(std::string &b, size_t at, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  PutLE32(b, at, v);
}
std::string BE32(uint32_t v) {
  std::string s(4, '\0');
  PutBE32(s, 0, v);
  return s;
}
std::string Box(const char *type, const std::string &payload) {
  return BE32(static_cast<uint32_t>(payload.size() + 8)) + std::string(type, 4) + payload;
}

// A freeGPS block with the record at 0x10 for second i of the drive.
std::string Block(int i) {
  std::string b(kBlockSize, '\0');
  PutBE32(b, 0, kBlockSize);
  std::memcpy(&b[4], "freeGPS ", 8);
  PutLE32(b, 12, 0x3f0);
  const uint32_t t[6] = {
      8, static_cast<uint32_t>(30 + i / 60), static_cast<uint32_t>(i % 60), 24, 5, 17};
  for (int k = 0; k < 6; ++k) PutLE32(b, 0x10 + 4 * k, t[k]);
  b[0x28] = 'A';
  b[0x29] = 'N';
  b[0x2a] = 'E';
  PutLEf(b, 0x2c, static_cast<float>(5545.06 + i * 0.008));
  PutLEf(b, 0x30, static_cast<float>(3737.02 + i * 0.008));
  PutLEf(b, 0x34, 29.2f);
  PutLEf(b, 0x38, 45.0f);
  return b;
}

// ftyp, a 1.5 GB mdat (holes but for the blocks), moov with mvhd and, when
// asked, the `gps ` index.
std::string MakeRecording(bool index) {
  const char *dir = std::getenv("TACHORA_BENCH_DIR");
  const std::string path = std::string(dir ? dir : "/tmp") + "/tachora-bench-4k-" +
                           (index ? "index" : "scan") + "-" + std::to_string(getpid()) + ".mp4";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return {};
  const std::string ftyp = Box("ftyp", "isom" + BE32(0x200) + "isomiso2avc1mp41");
  const int64_t mdatAt = static_cast<int64_t>(ftyp.size());
  const int64_t mdatEnd = kFileSize - 4096;
  std::string head = ftyp + std::string(4, '\0') + "mdat";
  PutBE32(head, ftyp.size(), static_cast<uint32_t>(mdatEnd - mdatAt));
  bool ok = ::pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size());
  std::string entries;
  const int64_t step = ((mdatEnd - mdatAt) / kBlocks) & ~int64_t(kBlockSize - 1);
  for (int i = 0; i < kBlocks; ++i) {
    const int64_t at = (mdatAt + 2 * kBlockSize + i * step) & ~int64_t(kBlockSize - 1);
    const std::string b = Block(i);
    ok = ok && ::pwrite(fd, b.data(), b.size(), at) == static_cast<ssize_t>(b.size());
    entries += BE32(static_cast<uint32_t>(at)) + BE32(kBlockSize);
  }
  std::string mvhd(100, '\0');
  PutBE32(mvhd, 12, 1000);    // time scale
  PutBE32(mvhd, 16, 180000);  // 3 minutes
  std::string moov = Box("mvhd", mvhd);
  if (index) moov += Box("gps ", BE32(0x101) + BE32(kBlocks) + entries);
  moov = Box("moov", moov);
  ok = ok && ::pwrite(fd, moov.data(), moov.size(), mdatEnd) == static_cast<ssize_t>(moov.size());
  ok = ok && ::ftruncate(fd, mdatEnd + static_cast<int64_t>(moov.size())) == 0;
  ::close(fd);
  if (!ok) ::unlink(path.c_str());
  return ok ? path : std::string();
}

struct TRecording {
  explicit TRecording(bool index) : Path(MakeRecording(index)) {}
  ~TRecording() {
    if (!Path.empty()) ::unlink(Path.c_str());
  }
  std::string Path;
};

int64_t StatusBytes(const char *key) {
  FILE *f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  int64_t v = -1;
  const size_t n = std::strlen(key);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, key, n) == 0 && line[n] == ':') v = std::atoll(line + n + 1) * 1024;
  std::fclose(f);
  return v;
}

// How far the resident size rises while the recording's telemetry loads, in
// a child process.
int64_t PeakGrowthOfLoad(const std::string &path) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
      std::fputs("5", f);
      std::fclose(f);
    }
    const int64_t before = StatusBytes("VmRSS");
    auto mi = TMovingInfo::LoadFromFile(path, false);
    int64_t growth = mi ? StatusBytes("VmHWM") - before : -1;
    [[maybe_unused]] const ssize_t w = ::write(fds[1], &growth, sizeof growth);
    ::_exit(0);
  }
  ::close(fds[1]);
  int64_t growth = -1;
  if (pid < 0 || ::read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
  ::close(fds[0]);
  if (pid > 0) ::waitpid(pid, nullptr, 0);
  return growth;
}

void BM_EmbeddedTelemetry4k(benchmark::State &state) {
  const bool index = state.range(0) == 0;
  const TRecording r(index);
  if (r.Path.empty()) {
    state.SkipWithError("the recording could not be written");
    return;
  }
  const int64_t growth = PeakGrowthOfLoad(r.Path);
  for (auto _ : state) {
    auto mi = TMovingInfo::LoadFromFile(r.Path, false);
    if (!mi || mi->GpsPoints.size() != kBlocks) state.SkipWithError("the telemetry did not load");
    benchmark::DoNotOptimize(mi);
  }
  state.counters["file_MB"] = static_cast<double>(kFileSize) / (1 << 20);
  state.counters["peak_MB"] = static_cast<double>(growth) / (1 << 20);
}
BENCHMARK(BM_EmbeddedTelemetry4k)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("index_scan")
    ->Unit(benchmark::kMillisecond);

}  // namespace
