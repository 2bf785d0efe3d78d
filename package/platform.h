// Everything that differs between the Linux shared object and the Windows DLL.
#pragma once

#define INCL_RXFUNC
#define INCL_RXSHV
#define INCL_RXSYSEXIT
#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <pthread.h>
#endif
#include <rexxsaa.h>

#include <cstddef>

// Entry points the interpreter finds by name; everything else stays hidden.
#if defined(_WIN32)
#define QM_EXPORT extern "C" __declspec(dllexport)
#else
#define QM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// A ParserHandle is a record address written with the C library's "%p": on glibc "0x" and
// lower-case hex digits, on Windows upper-case hex digits without a prefix.
#define QM_HANDLE_FORMAT "%p"
inline constexpr std::size_t kHandleTextSize = 2 + 2 * sizeof(void*) + 1;

// Runs fn(arg) on a new thread and waits for it. Regina gives every thread its own
// interpreter instance, which is what makes this useful. Answers false when no thread could
// be started.
inline bool _ExpatRunOnFreshThread(void (*fn)(void*), void* arg) {
    struct Job {
        void (*fn)(void*);
        void* arg;
    } job{fn, arg};
#if defined(_WIN32)
    auto entry = [](void* p) -> unsigned __stdcall {
        auto* j = static_cast<Job*>(p);
        j->fn(j->arg);
        return 0;
    };
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, entry, &job, 0, nullptr));
    if (!thread) return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return true;
#else
    auto entry = [](void* p) -> void* {
        auto* j = static_cast<Job*>(p);
        j->fn(j->arg);
        return nullptr;
    };
    pthread_t thread;
    if (pthread_create(&thread, nullptr, entry, &job) != 0) return false;
    pthread_join(thread, nullptr);
    return true;
#endif
}

// The file the package itself was loaded from, for registering under a path when the
// interpreter was given one instead of the library name. Answers false when unknown.
inline bool _ExpatOwnLibraryPath(char* buffer, std::size_t size) {
    static const int anchor = 0;
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&anchor), &module))
        return false;
    DWORD n = GetModuleFileNameA(module, buffer, static_cast<DWORD>(size));
    return n > 0 && n < size;
#else
    Dl_info info;
    if (!dladdr(&anchor, &info) || !info.dli_fname) return false;
    std::size_t i = 0;
    for (; info.dli_fname[i] && i + 1 < size; ++i) buffer[i] = info.dli_fname[i];
    buffer[i] = '\0';
    return info.dli_fname[i] == '\0';
#endif
}
