// Loading a large or hostile telemetry file keeps its memory in proportion
// to the file: the peak stays within 4 times the file's size plus 50 MB for
// every reader, whether the file is taken or refused, on the loading path
// (compact points) and on the direct path (the text read whole, then parsed
// into a track's records). Each load runs in a
// child process whose peak resident size is measured (and whose address
// space is capped, so that a regression fails instead of exhausting the
// machine).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "TelemetryTestUtil.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitMovingInfo.h"

#if defined(__SANITIZE_ADDRESS__)
#define TACHORA_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TACHORA_TEST_ASAN 1
#endif
#endif

using namespace tachora;
using namespace tachora::test;

namespace {

constexpr int64_t kFileSize = 100LL * 1024 * 1024;
constexpr int64_t kAllowance = 50LL * 1024 * 1024;

// A kB figure of /proc/self/status ("VmHWM", "VmRSS", "VmSize"), in bytes.
int64_t StatusBytes(const char *key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return std::stoll(line.substr(prefix.size())) * 1024;
  return -1;
}

// `head` once, then `line` repeated up to kFileSize bytes.
void WriteRepeated(const std::string &path, const std::string &head, const std::string &line) {
  std::string block;
  while (block.size() < (1u << 20)) block += line;
  std::ofstream out(path, std::ios::binary);
  out << head;
  for (int64_t n = static_cast<int64_t>(head.size()); n < kFileSize;
       n += static_cast<int64_t>(block.size()))
    out << block;
}

struct TLoadResult {
  bool Loaded = false;
  int64_t Gps = 0, Samples = 0;
  int64_t PeakGrowth = -1;  // bytes over the resident size before loading
};

enum class TPath { Loading, Direct };

// Loads the file in a child process and reports what came out and how far
// the resident size rose.
TLoadResult LoadInChild(const std::string &path, int64_t fileSize, TPath how) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    // Start the peak from here (Linux 4.0+), then cap the address space.
    if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
      std::fputs("5", f);
      std::fclose(f);
    }
    const int64_t before = StatusBytes("VmRSS");
    // The cap is a guard against a runaway load, not the measure: address
    // space counts the final array while the blocks it is copied from are
    // still mapped, though only one of them at a time is resident.
    const int64_t limit = StatusBytes("VmSize") + 6 * fileSize + kAllowance;
    const rlimit rl{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
    ::setrlimit(RLIMIT_AS, &rl);
    TLoadResult r;
    try {
      if (how == TPath::Loading) {
        auto mi = TMovingInfo::LoadFromFile(path, false);
        r.Loaded = mi != nullptr;
        if (mi) {
          r.Gps = static_cast<int64_t>(mi->GpsPoints.size());
          r.Samples = static_cast<int64_t>(mi->GsensorPoints.size());
        }
      } else {
        std::string text;
        TTrackInfo t;
        r.Loaded = ReadWholeFile(path, text) && ReadTrackFile(text, path, t);
        for (const TTrackRecord &rec : t.Items) ++(rec.Kind == kRecordGps ? r.Gps : r.Samples);
      }
      r.PeakGrowth = StatusBytes("VmHWM") - before;
    } catch (...) {
      r.PeakGrowth = -2;  // out of memory under the cap
    }
    [[maybe_unused]] const ssize_t w = ::write(fds[1], &r, sizeof r);
    ::_exit(0);
  }
  ::close(fds[1]);
  TLoadResult r;
  if (pid < 0 || ::read(fds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) r = TLoadResult();
  ::close(fds[0]);
  if (pid > 0) ::waitpid(pid, nullptr, 0);
  return r;
}

struct TCase {
  const char *name;
  const char *ext;
  std::string head, line;
  bool taken;        // real content that must still load
  bool takenDirect;  // ... and fits as records (112 bytes each) too
};

}  // namespace

TEST(TelemetryMemory, PeakStaysWithinFourTimesTheFile) {
#ifdef TACHORA_TEST_ASAN
  GTEST_SKIP() << "the address sanitizer reserves far more than the program uses";
#endif
  SetTimeZone("UTC");
  const std::string plt =
      "OziExplorer Track Point File Version 2.1\r\nWGS 84\r\n"
      "Altitude is in Feet\r\nReserved 3\r\n0,2,8323327,T,0,0,2,8421376\r\n0\r\n";
  std::string recorder = "[G]\t2010-05-01 12:00:00\tN55.750000\tE37.600000\t50\t90\r\n";
  for (int i = 0; i < 10; ++i) recorder += "[S]\t-12\t40\t1010\r\n";
  const std::vector<TCase> cases = {
      // What recorders and loggers write, as densely as they write it.
      // Records of G-sensor samples outweigh the budget of the direct path,
      // which refuses such files past some 30 MB.
      {"recorder .dat", "dat", "", recorder, true, false},
      {"logger .log", "log", "", "1,010510,120000,5545.1234,N,03736.0000,E,10.0\r\n", true, true},
      {"GPX", "gpx", "<gpx>\n",
       "<trkpt lat=\"55.75\" lon=\"37.6\"><time>2010-05-01T12:00:00Z</time></trkpt>\n", true, true},
      {"samples", "dat", "", "[S]\t1\t2\t3\n", true, false},
      // The shortest lines each reader takes: more records than any log of
      // that size holds, refused.
      {"recorder .log", "log", "", "2010-05-01 12:00:00\tN12\tE12\n", false, false},
      {"NMEA-style .log", "log", "", ",010510,120000,1,N,1,E\n", false, false},
      {"PLT", "plt", plt, "1,1,,,1\n", false, false},
      {"shifted .dat", "dat", "1\n", "0\t0\t0\t$\n", false, false},
  };
  TTempDir dir;
  for (const TCase &c : cases) {
    const std::string path = dir.File(std::string("big.") + c.ext);
    WriteRepeated(path, c.head, c.line);
    for (const TPath how : {TPath::Loading, TPath::Direct}) {
      const TLoadResult r = LoadInChild(path, kFileSize, how);
      const std::string what = std::string(c.name) + (how == TPath::Loading ? "" : ", direct");
      const bool taken = how == TPath::Loading ? c.taken : c.takenDirect;
      std::printf("%-26s %s, peak %lld MB over the start\n", what.c_str(),
                  r.Loaded ? "taken  " : "refused", static_cast<long long>(r.PeakGrowth >> 20));
      EXPECT_GE(r.PeakGrowth, 0) << what << ": the load failed under the cap";
      EXPECT_LE(r.PeakGrowth, 4 * kFileSize + kAllowance) << what;
      EXPECT_EQ(r.Loaded, taken) << what;
      if (taken) {
        EXPECT_GT(r.Gps + r.Samples, kFileSize / 100) << what;
      }
    }
    ::unlink(path.c_str());
  }
}
