#include "frame.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace quillmark {

bool argumentsValid(ULONG argc, const RXSTRING* argv, ULONG count,
                    std::initializer_list<ArgTest> tests) {
    if (argc != count) return false;
    ULONG i = 0;
    for (ArgTest test : tests) {
        const RXSTRING& a = argv[i++];
        if (test == ArgTest::Given && !given(a)) return false;
        if (test == ArgTest::NonEmpty && !nonEmpty(a)) return false;
    }
    return true;
}

std::size_t textLength(const RXSTRING& a) {
    if (!a.strptr) return 0;
    const void* nul = std::memchr(a.strptr, '\0', a.strlength);
    return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - a.strptr) : a.strlength;
}

bool argumentIs(const RXSTRING& a, const char* keyword) {
    std::size_t n = textLength(a);
    return a.strptr && std::strlen(keyword) == n && std::memcmp(a.strptr, keyword, n) == 0;
}

ArgText::ArgText(const RXSTRING& a) : text(a.strptr ? copyText(a.strptr, a.strlength) : nullptr) {}

void writeResult(PRXSTRING result, const char* text, std::size_t length) {
    if (!result->strptr || length + 1 > result->strlength)
        result->strptr = static_cast<char*>(allocate(length + 1));
    if (length) std::memcpy(result->strptr, text, length);
    result->strptr[length] = '\0';
    result->strlength = static_cast<ULONG>(length);
}

void writeResult(PRXSTRING result, const char* text) {
    writeResult(result, text, std::strlen(text));
}

void writeInteger(PRXSTRING result, long long value) {
    char text[32];
    int n = std::snprintf(text, sizeof text, "%lld", value);
    writeResult(result, text, static_cast<std::size_t>(n));
}

} // namespace quillmark
