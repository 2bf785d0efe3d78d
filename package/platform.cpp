#include "platform.h"

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <pthread.h>
#endif

namespace quillmark {

namespace {
struct Job {
    void (*fn)(void*);
    void* arg;
};
} // namespace

bool runOnNewThread(void (*fn)(void*), void* arg) {
    Job job{fn, arg};
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

namespace {
const int anchor = 0; // an address inside the package
} // namespace

void keepLoaded() {
    // The first caller pins the module; every later one finds it done.
    static const bool pinned = [] {
#if defined(_WIN32)
        HMODULE module = nullptr;
        return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                      GET_MODULE_HANDLE_EX_FLAG_PIN,
                                  reinterpret_cast<LPCSTR>(&anchor), &module) != 0;
#else
        Dl_info info;
        return dladdr(&anchor, &info) && info.dli_fname &&
               dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
#endif
    }();
    (void)pinned;
}

bool ownLibraryPath(char* buffer, std::size_t size) {
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

} // namespace quillmark
