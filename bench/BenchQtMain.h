// The main() of the benchmarks that draw with Qt: a QApplication on the
// offscreen platform (unless one is chosen), the local-time offset, then
// Google Benchmark as usual.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>

#include "app/UnitUtils.h"

#define TACHORA_QT_BENCHMARK_MAIN()                                                              \
  int main(int argc, char **argv) {                                                              \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
    QApplication app(argc, argv);                                                                \
    tachora::InitLocalTimeOffset();                                                              \
    benchmark::Initialize(&argc, argv);                                                          \
    benchmark::RunSpecifiedBenchmarks();                                                         \
    benchmark::Shutdown();                                                                       \
    return 0;                                                                                    \
  }
