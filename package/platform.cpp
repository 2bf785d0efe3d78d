#include "platform.h"

#include "frame.h"

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <mutex>
#include <vector>
#endif

namespace quillmark {

namespace {
struct Start {
    void (*entry)(void*);
    void* arg;
};
} // namespace

#if defined(_WIN32)
bool startThread(void (*entry)(void*), void* arg, std::size_t stackBytes, Thread* thread) {
    auto* start = static_cast<Start*>(std::malloc(sizeof(Start)));
    if (!start) return false;
    *start = Start{entry, arg};
    auto run = [](void* p) -> unsigned __stdcall {
        Start s = *static_cast<Start*>(p);
        std::free(p);
        s.entry(s.arg);
        return 0;
    };
    std::uintptr_t handle = _beginthreadex(nullptr, static_cast<unsigned>(stackBytes), run, start,
                                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!handle) {
        std::free(start);
        return false;
    }
    thread->native = handle;
    return true;
}

void joinThread(Thread thread) {
    HANDLE handle = reinterpret_cast<HANDLE>(thread.native);
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
}
#else
static_assert(sizeof(pthread_t) <= sizeof(std::uintptr_t));

bool startThread(void (*entry)(void*), void* arg, std::size_t stackBytes, Thread* thread) {
    auto* start = static_cast<Start*>(std::malloc(sizeof(Start)));
    if (!start) return false;
    *start = Start{entry, arg};
    auto run = [](void* p) -> void* {
        Start s = *static_cast<Start*>(p);
        std::free(p);
        s.entry(s.arg);
        return nullptr;
    };
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stackBytes);
    pthread_t handle;
    int rc = pthread_create(&handle, &attributes, run, start);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        std::free(start);
        return false;
    }
    thread->native = 0;
    std::memcpy(&thread->native, &handle, sizeof handle);
    return true;
}

void joinThread(Thread thread) {
    pthread_t handle;
    std::memcpy(&handle, &thread.native, sizeof handle);
    pthread_join(handle, nullptr);
}
#endif

namespace {
const int anchor = 0; // an address inside the package
} // namespace

#if defined(_WIN32)
void setEnvironment(const char* name, const char* value) {
    SetEnvironmentVariableA(name, value);
    _putenv_s(name, value ? value : "");
}
#else
namespace {
// glibc's setenv keeps every "NAME=value" string it ever made, for the getenv answers that may
// still point into them: a procedure that counts its events in a variable would grow the
// process by each count. The package keeps one string of its own per name and puts it in the
// environment; a later value that fits is written over it, a longer one gets a string twice
// as large. A string is never freed (a getenv on another thread may be reading it), so what a
// name holds stays under twice its longest value.
struct OwnEntry {
    char* text; // "NAME=value"
    std::size_t nameLength, capacity;
};
struct OwnEntries {
    std::mutex lock;
    std::vector<OwnEntry> entries;
    std::vector<char*> outgrown; // kept, not freed
};
OwnEntries& ownEntries() {
    static OwnEntries* own = new OwnEntries(); // never destroyed: the environment outlives exit
    return *own;
}
} // namespace

void setEnvironment(const char* name, const char* value) {
    const std::size_t n = std::strlen(name);
    if (n == 0 || std::strchr(name, '=')) return; // no such variable can exist
    if (!value) {
        unsetenv(name);
        return;
    }
    const std::size_t size = n + std::strlen(value) + 2;
    OwnEntries& own = ownEntries();
    std::lock_guard<std::mutex> guard(own.lock);
    OwnEntry* entry = nullptr;
    for (OwnEntry& e : own.entries)
        if (e.nameLength == n && std::memcmp(e.text, name, n) == 0) entry = &e;
    if (!entry) {
        own.entries.push_back(OwnEntry{nullptr, n, 0});
        entry = &own.entries.back();
    }
    if (entry->capacity < size) {
        std::size_t capacity = size > 2 * entry->capacity ? size : 2 * entry->capacity;
        if (entry->text) own.outgrown.push_back(entry->text);
        entry->text = static_cast<char*>(std::malloc(capacity));
        if (!entry->text) outOfMemory();
        entry->capacity = capacity;
        std::memcpy(entry->text, name, n);
        entry->text[n] = '=';
    }
    std::memcpy(entry->text + n + 1, value, size - n - 1);
    // Someone else may have set or removed the name since: the string goes back in.
    if (getenv(name) != entry->text + n + 1) putenv(entry->text);
}
#endif

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

bool stampOf(const char* path, FileStamp* stamp) {
#if defined(_WIN32)
    struct _stat64 st;
    if (_stat64(path, &st) != 0) return false;
    *stamp = FileStamp{st.st_size, static_cast<long long>(st.st_mtime) * 1000000000LL};
#else
    struct stat st;
    if (stat(path, &st) != 0) return false;
    *stamp = FileStamp{st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
#endif
    return true;
}

#if defined(_WIN32)
namespace {
bool gProcessEnding = false;
} // namespace

bool processEnding() {
    return gProcessEnding;
}
#else
// At exit() the other threads still run.
bool processEnding() {
    return false;
}
#endif

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

#if defined(_WIN32)
// Windows calls this before the package's own destructors, with reserved set when the process
// is ending rather than the DLL being unloaded.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved) quillmark::gProcessEnding = true;
    return TRUE;
}
#endif
