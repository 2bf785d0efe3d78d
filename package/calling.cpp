#include "package.h"

#include <climits>
#include <cstdio>
#include <cstring>

bool _ExpatArgsValid(ULONG argc, const RXSTRING* argv, ULONG count,
                     std::initializer_list<ArgTest> tests) {
    if (argc != count) return false;
    ULONG i = 0;
    for (ArgTest test : tests) {
        const RXSTRING& a = argv[i++];
        if (test == ArgTest::Given && !_ExpatGiven(a)) return false;
        if (test == ArgTest::NonEmpty && !_ExpatNonEmpty(a)) return false;
    }
    return true;
}

std::size_t _ExpatArgTextLength(const RXSTRING& a) {
    if (!a.strptr) return 0;
    const void* nul = std::memchr(a.strptr, '\0', a.strlength);
    return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - a.strptr) : a.strlength;
}

int _ExpatArgNumber(const RXSTRING& a) {
    const char* p = a.strptr;
    const char* end = p + _ExpatArgTextLength(a);
    if (!p) return 0;
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    long long value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

bool _ExpatArgIs(const RXSTRING& a, const char* keyword) {
    std::size_t n = _ExpatArgTextLength(a);
    return a.strptr && std::strlen(keyword) == n && std::memcmp(a.strptr, keyword, n) == 0;
}

void _ExpatResultText(PRXSTRING result, const char* text, std::size_t length) {
    // The supplied buffer is the interpreter's: it is used when the text and its NUL fit, and
    // otherwise left alone in favour of an exact-size block that the interpreter releases.
    if (!result->strptr || length + 1 > result->strlength)
        result->strptr = static_cast<char*>(_ExpatAlloc(length + 1));
    if (length) std::memcpy(result->strptr, text, length);
    result->strptr[length] = '\0';
    result->strlength = length;
}

void _ExpatResultCString(PRXSTRING result, const char* text) {
    _ExpatResultText(result, text, std::strlen(text));
}

void _ExpatResultInteger(PRXSTRING result, long long value) {
    char text[32];
    int n = std::snprintf(text, sizeof text, "%lld", value);
    _ExpatResultText(result, text, static_cast<std::size_t>(n));
}

void _ExpatResultUnsigned(PRXSTRING result, unsigned long long value) {
    char text[32];
    int n = std::snprintf(text, sizeof text, "%llu", value);
    _ExpatResultText(result, text, static_cast<std::size_t>(n));
}

void _ExpatHandleText(const ParserRecord* record, char (&text)[kHandleTextSize]) {
    std::snprintf(text, sizeof text, QM_HANDLE_FORMAT, static_cast<const void*>(record));
}

void _ExpatResultHandle(PRXSTRING result, const ParserRecord* record) {
    char text[kHandleTextSize];
    _ExpatHandleText(record, text);
    _ExpatResultCString(result, text);
}
