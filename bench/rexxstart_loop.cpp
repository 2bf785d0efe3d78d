// rexxstart_loop SOURCE COUNT HANDLE VALUE...: runs SOURCE COUNT times with RexxStart, as the
// package runs an in-store procedure: the tokenised image, at top level on a thread of its own
// with no program running on it, a subroutine call with two arguments (HANDLE and the next of
// the VALUEs, in turn), no environment and a 256-byte result buffer. Prints "rexxstart WALL CPU
// COUNT": the seconds of the COUNT calls after the first (which tokenises), by the clock and in
// processor time of the process.
#define INCL_REXXSAA
#include <rexxsaa.h>

#include "cpu_time.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

struct Loop {
    const char* source;
    long count;
    const char* handle;
    std::vector<const char*> values;
    double seconds = 0, cpu = 0;
    long failures = 0;
};

RXSTRING rxstring(const char* text) {
    return RXSTRING{std::strlen(text), const_cast<char*>(text)};
}

// One call, with the arguments and result the package passes.
long call(RXSTRING (&instore)[2], RXSTRING (&args)[2]) {
    char preset[RXAUTOBUFLEN];
    RXSTRING result{sizeof preset, preset};
    SHORT returnCode = 0;
    long rc = RexxStart(2, args, "", instore, nullptr, RXSUBROUTINE, nullptr, &returnCode, &result);
    if (result.strptr != preset) RexxFreeMemory(result.strptr);
    return rc;
}

void run(Loop& loop) {
    RXSTRING instore[2] = {rxstring(loop.source), {0, nullptr}};
    RXSTRING args[2] = {rxstring(loop.handle), rxstring(loop.values[0])};
    // The first call tokenises the source into instore[1]; later calls run the image.
    if (call(instore, args) != 0 || !instore[1].strptr) {
        loop.failures = 1;
        return;
    }
    const std::size_t n = loop.values.size();
    const double cpu = cpuSeconds();
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < loop.count; ++i) {
        args[1] = rxstring(loop.values[static_cast<std::size_t>(i) % n]);
        if (call(instore, args) != 0) ++loop.failures;
    }
    auto end = std::chrono::steady_clock::now();
    loop.cpu = cpuSeconds() - cpu;
    loop.seconds = std::chrono::duration<double>(end - start).count();
    RexxFreeMemory(instore[1].strptr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: rexxstart_loop SOURCE COUNT HANDLE VALUE...\n");
        return 2;
    }
    Loop loop{argv[1], std::atol(argv[2]), argv[3], {argv + 4, argv + argc}};
    std::thread thread(run, std::ref(loop));
    thread.join();
    if (loop.failures) {
        std::fprintf(stderr, "rexxstart_loop: %ld calls failed\n", loop.failures);
        return 1;
    }
    std::printf("rexxstart %.6f %.6f %ld\n", loop.seconds, loop.cpu, loop.count);
    return 0;
}
