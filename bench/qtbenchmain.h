// What the benchmarks of windows share: a QApplication on the offscreen platform (unless one is
// chosen), the benchmarks, or with --cpu-share a measurement of CPU time instead.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>

#include <cstring>

// CPU seconds used so far by the process (RUSAGE_SELF) or the calling thread (RUSAGE_THREAD).
inline double CpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

inline int QtBenchmarkMain(int argc, char** argv, int (*cpuShare)()) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--cpu-share") == 0) return cpuShare();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
