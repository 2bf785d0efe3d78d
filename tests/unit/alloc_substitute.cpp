// Substitutes for the interpreter's allocator and function registration, linked into the test
// binary ahead of Regina's, so that tests can make an allocation fail, a release report failure
// or a registration be refused.
#include "alloc_substitute.h"

#include <cstring>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>

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

namespace quillmark_test {
const char* refuseRegistrationOf = nullptr;
APIRET refusalCode = 0;
std::vector<std::string> registered;
} // namespace quillmark_test

// Records what the package registers and refuses the chosen name with the chosen code;
// everything else goes to the interpreter.
extern "C" APIRET APIENTRY RexxRegisterFunctionDll(PCSZ name, PCSZ library, PCSZ entry) {
    static auto real = reinterpret_cast<APIRET(APIENTRY*)(PCSZ, PCSZ, PCSZ)>(
        dlsym(RTLD_NEXT, "RexxRegisterFunctionDll"));
    registered.emplace_back(name);
    if (refuseRegistrationOf && std::strcmp(name, refuseRegistrationOf) == 0) return refusalCode;
    return real(name, library, entry);
}

namespace quillmark_test {
bool failThreadStarts = false;
}

// As when the address space has no room for another thread's stack.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*entry)(void*), void* argument) {
    static auto real =
        reinterpret_cast<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>(
            dlsym(RTLD_NEXT, "pthread_create"));
    if (failThreadStarts) return EAGAIN;
    return real(thread, attributes, entry, argument);
}
