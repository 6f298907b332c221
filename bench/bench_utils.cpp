#include <benchmark/benchmark.h>

#include "app/UnitUtils.h"

using namespace tachora;

static void BM_FormatCoord(benchmark::State &state) {
  long double v = 59.939123;
  for (auto _ : state) benchmark::DoNotOptimize(FormatCoord(v += 1e-6));
}
BENCHMARK(BM_FormatCoord);

static void BM_ParseFloatDot(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(ParseFloatDot("59,9391234"));
}
BENCHMARK(BM_ParseFloatDot);

static void BM_Distance(benchmark::State &state) {
  long double lat = 59.9;
  for (auto _ : state) benchmark::DoNotOptimize(Distance(lat += 1e-7, 30.3, 59.901, 30.301));
}
BENCHMARK(BM_Distance);
