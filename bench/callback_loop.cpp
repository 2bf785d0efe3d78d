// libquillbench.so: external functions for the benchmark, loaded with RxFuncAdd by name, as in
//   call RxFuncAdd 'BenchCallBack', 'quillbench', 'BenchCallBack'
// BenchCallBack(LABEL, COUNT, HANDLE, VALUE...) calls the label LABEL of the calling program
// COUNT times with RexxCallBack, as the package runs a label handler: two arguments, HANDLE
// and the next of the VALUEs in turn, and no result buffer. It answers "WALL CPU": the seconds
// the calls took by the clock and in processor time of the process.
// BenchCpuTime() answers the processor time of the process so far, in seconds.
#define INCL_REXXSAA
#include <rexxsaa.h>

#include "cpu_time.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" __attribute__((visibility("default"))) RexxFunctionHandler BenchCallBack;
extern "C" __attribute__((visibility("default"))) RexxFunctionHandler BenchCpuTime;

APIRET APIENTRY BenchCallBack(PCSZ, ULONG argc, PRXSTRING argv, PCSZ, PRXSTRING result) {
    if (argc < 4 || !argv[0].strptr || !argv[1].strptr) return 40;
    const std::string label(argv[0].strptr, argv[0].strlength);
    const long count = std::atol(std::string(argv[1].strptr, argv[1].strlength).c_str());
    const ULONG values = argc - 3;
    RXSTRING args[2] = {argv[2], argv[3]};
    const double cpu = cpuSeconds();
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        args[1] = argv[3 + static_cast<ULONG>(i) % values];
        RXSTRING answer{0, nullptr};
        SHORT returnCode = 0;
        if (RexxCallBack(label.c_str(), 2, args, &returnCode, &answer) != 0) return 40;
        if (answer.strptr) RexxFreeMemory(answer.strptr);
    }
    auto end = std::chrono::steady_clock::now();
    const double used = cpuSeconds() - cpu;
    // The result buffer Regina hands over holds 256 bytes.
    result->strlength =
        static_cast<ULONG>(std::snprintf(result->strptr, 256, "%.6f %.6f",
                                         std::chrono::duration<double>(end - start).count(), used));
    return 0;
}

APIRET APIENTRY BenchCpuTime(PCSZ, ULONG argc, PRXSTRING, PCSZ, PRXSTRING result) {
    if (argc != 0) return 40;
    result->strlength =
        static_cast<ULONG>(std::snprintf(result->strptr, 256, "%.6f", cpuSeconds()));
    return 0;
}
