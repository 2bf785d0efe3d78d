// Helpers for in-process tests: arguments and results as the interpreter passes them.
#pragma once

#include "../../package/frame.h"
#include "../../package/functions.h"

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
