#include "package.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void _ExpatOutOfMemory() {
    std::fputs("Quillmark: insufficient memory\n", stderr);
    std::fflush(stderr);
    // A run that ran out of memory must not look successful to the shell that started it.
    std::exit(1);
}

void _ExpatReportFreeFailure() {
    std::fputs("Quillmark: de-allocating memory failed\n", stderr);
}

void* _ExpatAlloc(std::size_t size) {
    void* block = RexxAllocateMemory(static_cast<ULONG>(size ? size : 1));
    if (!block) _ExpatOutOfMemory();
    return block;
}

void _ExpatFree(void* block) {
    if (block && RexxFreeMemory(block) != 0) _ExpatReportFreeFailure();
}

char* _ExpatCopyText(const char* text, std::size_t maxLength, std::size_t* copiedLength) {
    std::size_t n = 0;
    while (n < maxLength && text[n] != '\0') ++n;
    char* copy = static_cast<char*>(_ExpatAlloc(n + 1));
    std::memcpy(copy, text, n);
    copy[n] = '\0';
    if (copiedLength) *copiedLength = n;
    return copy;
}

char* _ExpatCopyBytes(const char* bytes, std::size_t length) {
    char* copy = static_cast<char*>(_ExpatAlloc(length + 1));
    if (length) std::memcpy(copy, bytes, length);
    copy[length] = '\0';
    return copy;
}
