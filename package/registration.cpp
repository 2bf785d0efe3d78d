// Registration of the package's functions with the interpreter.
#include "frame.h"
#include "functions.h"
#include "helper.h"

#include <cstring>

namespace quillmark {
namespace {

constexpr const char* kLibraryName = "quillmark";

#define QUILLMARK_NAME(name) #name,
constexpr const char* kFunctions[] = {QUILLMARK_FUNCTIONS(QUILLMARK_NAME)};
#undef QUILLMARK_NAME

// ExpatLoadFuncs registers the others and stays registered itself.
constexpr const char* const* kRegistered = kFunctions + 1;
constexpr std::size_t kRegisteredCount = sizeof kFunctions / sizeof kFunctions[0] - 1;

} // namespace
} // namespace quillmark

using namespace quillmark;

// A name that is registered already (10, as when a handler procedure runs the usual load lines
// again) counts as registered. When the library name is not found because the program loaded
// the package by a path, the path the package was loaded from is used. Any other refusal stops
// the loop and is the return code.
QUILLMARK_ENTRY(ExpatLoadFuncs) {
    keepLoaded();
    char path[4096];
    bool havePath = false;
    for (std::size_t i = 0; i < kRegisteredCount; ++i) {
        const char* name = kRegistered[i];
        APIRET rc = RexxRegisterFunctionDll(name, kLibraryName, name);
        if (rc == RXFUNC_MODNOTFND) {
            if (!havePath) havePath = ownLibraryPath(path, sizeof path);
            if (havePath) rc = RexxRegisterFunctionDll(name, path, name);
        }
        if (rc != RXFUNC_OK && rc != RXFUNC_DEFINED) return rc;
    }
    // Left untouched, the caller's RESULT would be the interpreter's 256-byte buffer.
    writeResult(result, "");
    return kValidCall;
}

QUILLMARK_ENTRY(ExpatDropFuncs) {
    for (std::size_t i = 0; i < kRegisteredCount; ++i) RexxDeregisterFunction(kRegistered[i]);
    functionsDropped();
    writeResult(result, "");
    return kValidCall;
}
