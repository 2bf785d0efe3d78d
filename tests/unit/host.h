// Helpers for in-process tests: arguments and results as the interpreter passes them.
#pragma once

#include "../../package/package.h"

#include <cstring>
#include <string>
#include <vector>

// Arguments for a direct call; std::nullopt-like omitted ones are written as nullptr.
struct Args {
    std::vector<std::string> storage;
    std::vector<RXSTRING> argv;
    Args(std::initializer_list<const char*> values) {
        storage.reserve(values.size());
        for (const char* v : values) storage.emplace_back(v ? v : "");
        std::size_t i = 0;
        for (const char* v : values) {
            argv.push_back(v ? RXSTRING{storage[i].size(), storage[i].data()}
                             : RXSTRING{0, nullptr});
            ++i;
        }
    }
    ULONG count() const { return static_cast<ULONG>(argv.size()); }
    PRXSTRING data() { return argv.data(); }
};

// A result as Regina supplies it: a 256-byte buffer, filled here with a pattern so that an
// untouched result can be recognised.
struct Result {
    char buffer[RXAUTOBUFLEN];
    RXSTRING rx;
    Result() {
        std::memset(buffer, '#', sizeof buffer);
        rx = RXSTRING{RXAUTOBUFLEN, buffer};
    }
    bool untouched() const {
        if (rx.strptr != buffer || rx.strlength != RXAUTOBUFLEN) return false;
        for (char c : buffer)
            if (c != '#') return false;
        return true;
    }
    std::string text() const { return std::string(rx.strptr, rx.strlength); }
    // Releases a block the package allocated in place of the supplied buffer.
    ~Result() {
        if (rx.strptr && rx.strptr != buffer) RexxFreeMemory(rx.strptr);
    }
};

using EntryPoint = APIRET APIENTRY(PCSZ, ULONG, PRXSTRING, PCSZ, PRXSTRING);

inline APIRET call(EntryPoint* fn, Args args, Result& result) {
    return fn("F", args.count(), args.data(), "SESSION", &result.rx);
}

#define QM_ENTRY(name) extern "C" EntryPoint name;
QM_ENTRY(ExpatParserCreate)
QM_ENTRY(ExpatParserFree)
QM_ENTRY(ExpatParse)
QM_ENTRY(ExpatGetBase)
QM_ENTRY(ExpatSetBase)
QM_ENTRY(ExpatErrorString)
QM_ENTRY(ExpatGetErrorCode)
QM_ENTRY(ExpatSetCommentHandler)
QM_ENTRY(ExpatLoadFuncs)
QM_ENTRY(ExpatDropFuncs)
#undef QM_ENTRY
