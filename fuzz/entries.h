// Every function a Rexx program can call, by name, for the fuzz drivers.
#pragma once

#include "../package/functions.h"

using EntryPoint = APIRET APIENTRY(PCSZ, ULONG, PRXSTRING, PCSZ, PRXSTRING);

struct Entry {
    const char* name;
    EntryPoint* fn;
};
#define QM_ROW(name) {#name, name},
inline constexpr Entry kEntries[] = {QUILLMARK_FUNCTIONS(QM_ROW)};
#undef QM_ROW
inline constexpr int kEntryCount = sizeof kEntries / sizeof kEntries[0];

#include <cstring>
#include <optional>
#include <string>
#include <vector>

// Calls fn as the interpreter does: argc arguments (nullopt: omitted), a 256-byte result
// buffer that lives with the caller, and the release of a longer result the package allocated.
inline APIRET callEntry(EntryPoint* fn, const std::vector<std::optional<std::string>>& args,
                        std::string* out = nullptr) {
    std::vector<RXSTRING> argv;
    for (const auto& a : args)
        argv.push_back(a ? RXSTRING{a->size(), const_cast<char*>(a->c_str())}
                         : RXSTRING{0, nullptr});
    char buffer[RXAUTOBUFLEN];
    RXSTRING result{sizeof buffer, buffer};
    APIRET rc = fn("FUZZ", static_cast<ULONG>(argv.size()), argv.data(), "SESSION", &result);
    if (out) out->assign(result.strptr ? result.strptr : "", result.strptr ? result.strlength : 0);
    if (result.strptr && result.strptr != buffer) RexxFreeMemory(result.strptr);
    return rc;
}
