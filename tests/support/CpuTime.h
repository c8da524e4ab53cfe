#pragma once

#include <sys/resource.h>

// CPU seconds this process has used so far, user and system together: what a benchmark
// compares before and after a piece of work, whatever else the machine is doing.
inline double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
