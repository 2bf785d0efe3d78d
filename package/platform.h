// What differs between the Linux shared object and the Windows DLL; the bodies are in
// platform.cpp.
#pragma once

#define INCL_RXFUNC
#define INCL_RXSHV
#define INCL_RXSYSEXIT
#define INCL_RXQUEUE
#include <rexxsaa.h>

#include <cstddef>

// Entry points the interpreter finds by name; everything else stays hidden.
#if defined(_WIN32)
#define QM_EXPORT extern "C" __declspec(dllexport)
#else
#define QM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace quillmark {

// A handle is written with the C library's "%p": on glibc "0x" and lower-case digits, on
// Windows upper-case digits without a prefix.
inline constexpr const char* kHandleFormat = "%p";
inline constexpr std::size_t kHandleTextSize = 2 + 2 * sizeof(void*) + 1;

// Runs fn(arg) on a new thread and waits for it. Regina gives every thread an interpreter
// instance of its own. False when no thread could be started.
bool runOnNewThread(void (*fn)(void*), void* arg);

// The file the package was loaded from, for registering under a path when the interpreter was
// given one instead of the library name. False when unknown.
bool ownLibraryPath(char* buffer, std::size_t size);

// Keeps the package loaded until the process ends, even when the interpreter is told to drop
// it while a handler runs inside one of its functions.
void keepLoaded();

} // namespace quillmark
