// A substitute for the interpreter's allocator, linked into the test binary ahead of Regina's,
// so that tests can make an allocation fail or a release report failure.
#include "alloc_substitute.h"

#include <dlfcn.h>

namespace quillmark_test {
long failAllocationAfter = -1; // the allocation that many calls from now fails; -1: never
bool failReleases = false;
long allocations = 0;
long releases = 0;
} // namespace quillmark_test

using namespace quillmark_test;

extern "C" PVOID APIENTRY RexxAllocateMemory(ULONG size) {
    static auto real =
        reinterpret_cast<PVOID(APIENTRY*)(ULONG)>(dlsym(RTLD_NEXT, "RexxAllocateMemory"));
    if (failAllocationAfter == 0) return nullptr;
    if (failAllocationAfter > 0) --failAllocationAfter;
    ++allocations;
    return real(size);
}

extern "C" APIRET APIENTRY RexxFreeMemory(PVOID block) {
    static auto real =
        reinterpret_cast<APIRET(APIENTRY*)(PVOID)>(dlsym(RTLD_NEXT, "RexxFreeMemory"));
    ++releases;
    APIRET rc = real(block);
    return failReleases ? 1 : rc;
}
