#include "frame.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quillmark {

void diagnose(const char* format, ...) {
    // One write per line keeps lines whole when several threads report.
    char line[512] = "Quillmark";
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(line + 9, sizeof line - 10, format, args);
    va_end(args);
    std::size_t n = std::strlen(line);
    line[n] = '\n';
    std::fwrite(line, 1, n + 1, stderr);
    std::fflush(stderr);
}

void outOfMemory() {
    diagnose(": insufficient memory");
    // A run that ran out of memory must not look successful to the shell that started it.
    std::exit(1);
}

void* allocate(std::size_t size) {
    void* block = RexxAllocateMemory(static_cast<ULONG>(size ? size : 1));
    if (!block) outOfMemory();
    return block;
}

void release(void* block) {
    if (block && RexxFreeMemory(block) != 0) diagnose(": de-allocating memory failed");
}

char* copyText(const char* text, std::size_t maxLength, std::size_t* copiedLength) {
    std::size_t n = 0;
    while (n < maxLength && text[n] != '\0') ++n;
    if (copiedLength) *copiedLength = n;
    return copyBytes(text, n);
}

char* copyBytes(const char* bytes, std::size_t length) {
    char* copy = static_cast<char*>(allocate(length + 1));
    if (length) std::memcpy(copy, bytes, length);
    copy[length] = '\0';
    return copy;
}

} // namespace quillmark
