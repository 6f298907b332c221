#include "app/UnitTiming.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace tachora {

namespace {

std::atomic<bool> g_enabled{false};

// The process's start in seconds on the boot-time clock, from field 22 of
// /proc/self/stat (clock ticks since boot). The command name before it may
// hold spaces and brackets: the fields are counted after its last ')'.
double ProcessStartSeconds() {
  FILE *f = std::fopen("/proc/self/stat", "r");
  if (!f) return -1;
  char buf[1024];
  const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  const char *p = std::strrchr(buf, ')');
  if (!p) return -1;
  // State is field 3; the start time is field 22.
  for (int field = 2; field < 22 && p; ++field) p = std::strchr(p + 1, ' ');
  if (!p) return -1;
  const unsigned long long ticks = std::strtoull(p + 1, nullptr, 10);
  const long hz = ::sysconf(_SC_CLK_TCK);
  return hz > 0 ? static_cast<double>(ticks) / static_cast<double>(hz) : -1;
}

}  // namespace

void EnableTiming() {
  g_enabled = true;
}

bool TimingEnabled() {
  return g_enabled;
}

double MsSinceProcessStart() {
  static const double start = ProcessStartSeconds();
  timespec now{};
  if (start < 0 || ::clock_gettime(CLOCK_BOOTTIME, &now) != 0) return -1;
  return (static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 - start) * 1000.0;
}

void MarkTiming(const char *what, const std::string &detail) {
  if (!g_enabled) return;
  static std::mutex mutex;
  static std::set<std::string> marked;
  const double ms = MsSinceProcessStart();
  std::lock_guard<std::mutex> lock(mutex);
  if (!marked.insert(what).second) return;
  std::fprintf(stderr, "tachora: timing: %s %.0f ms%s%s\n", what, ms, detail.empty() ? "" : " ",
               detail.c_str());
  std::fflush(stderr);
}

}  // namespace tachora
