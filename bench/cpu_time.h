// The processor time of the process so far, in seconds: on a machine shared with other work it
// grows only while this process runs, where the clock also counts the others' turns.
#pragma once

#include <ctime>

inline double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
