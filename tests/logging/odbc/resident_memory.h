#pragma once
// The benchmarks' memory figure: this process's resident set, in kilobytes.

#include <unistd.h>

#include <cstdio>

namespace quorna::test {

inline long residentKilobytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace quorna::test
