// What differs between the Linux shared object and the Windows DLL; the bodies are in
// platform.cpp.
#pragma once

#define INCL_RXFUNC
#define INCL_RXSHV
#define INCL_RXSYSEXIT
#define INCL_RXQUEUE
#include <rexxsaa.h>

#include <cstddef>
#include <cstdint>

// Entry points the interpreter finds by name; everything else stays hidden.
#if defined(_WIN32)
#define QM_EXPORT extern "C" __declspec(dllexport)
#else
#define QM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace quillmark {

// A handle is written with the C library's "%p": on glibc "0x" and lower-case digits; in the
// MinGW-w64 build, whose headers select MinGW's own printf, 16 lower-case digits without a
// prefix (Microsoft's C library would write upper-case ones).
inline constexpr const char* kHandleFormat = "%p";
inline constexpr std::size_t kHandleTextSize = 2 + 2 * sizeof(void*) + 1;

// A thread of the package's own; Regina gives every thread an interpreter instance of its own.
struct Thread {
    std::uintptr_t native;
};
// Starts entry(arg) on a new thread with a stack of stackBytes. False when none could be started.
bool startThread(void (*entry)(void*), void* arg, std::size_t stackBytes, Thread* thread);
void joinThread(Thread thread);

// What tells whether a file changed: its size and modification time (nanoseconds since 1970,
// as far as the system keeps them). False when the file cannot be examined.
struct FileStamp {
    long long size, modified;
    bool operator==(const FileStamp&) const = default;
};
bool stampOf(const char* path, FileStamp* stamp);

// The file the package was loaded from, for registering under a path when the interpreter was
// given one instead of the library name. False when unknown.
bool ownLibraryPath(char* buffer, std::size_t size);

// Sets (value not null) or removes a variable of the process environment, in storage of the
// C library's own that outlives every interpreter instance and is freed once replaced.
void setEnvironment(const char* name, const char* value);

// Keeps the package loaded until the process ends, even when the interpreter is told to drop
// it while a handler runs inside one of its functions.
void keepLoaded();

// True once the process has begun to end. On Windows every other thread has been stopped by
// then, wherever it was: what those threads own can no longer be handed back or destroyed.
bool processEnding();

} // namespace quillmark
