// What every entry point shares: memory, diagnostics, arguments, numbers, results and handles.
#pragma once

#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace quillmark {

inline constexpr APIRET kValidCall = 0;
inline constexpr APIRET kInvalidCall = 40;

// ---- memory -------------------------------------------------------------------------------
// Blocks come from the interpreter's allocator. An allocation that fails ends the process (status
// 1); a release the interpreter refuses is reported and otherwise taken as done.
void* allocate(std::size_t size);
void release(void* block);
template <class T> T* allocateArray(std::size_t count) {
    return static_cast<T*>(allocate(count * sizeof(T)));
}
[[noreturn]] void outOfMemory();
// Containers keep their storage with the interpreter's allocator too.
template <class T> struct RexxAllocator {
    using value_type = T;
    RexxAllocator() = default;
    template <class U> RexxAllocator(const RexxAllocator<U>&) {}
    T* allocate(std::size_t n) { return allocateArray<T>(n); }
    void deallocate(T* p, std::size_t) { release(p); }
    template <class U> bool operator==(const RexxAllocator<U>&) const { return true; }
};

// A NUL-terminated copy of at most maxLength characters, cut at the first NUL.
char* copyText(const char* text, std::size_t maxLength, std::size_t* copiedLength = nullptr);
// A NUL-terminated copy of exactly length bytes, NULs included.
char* copyBytes(const char* bytes, std::size_t length);

// ---- diagnostics --------------------------------------------------------------------------
// One line on standard error: "Quillmark" followed by the formatted text.
void diagnose(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// ---- arguments ----------------------------------------------------------------------------
enum class ArgTest { Any, Given, NonEmpty };

inline bool given(const RXSTRING& a) {
    return a.strptr != nullptr;
}
inline bool nonEmpty(const RXSTRING& a) {
    return a.strptr != nullptr && a.strlength != 0;
}
// Argument n, counted from 1; one beyond the count is omitted.
inline RXSTRING argument(ULONG argc, const RXSTRING* argv, ULONG n) {
    return n >= 1 && n <= argc ? argv[n - 1] : RXSTRING{0, nullptr};
}
// An RXSTRING of a length and a text; the length type is narrower than size_t on 64-bit Windows.
inline RXSTRING rxstring(std::size_t length, char* text) {
    return RXSTRING{static_cast<ULONG>(length), text};
}
// The count is exact and each argument passes its test, in order.
bool argumentsValid(ULONG argc, const RXSTRING* argv, ULONG count,
                    std::initializer_list<ArgTest> tests);
// The argument read as text: up to its first NUL, never past its length.
std::size_t textLength(const RXSTRING& a);
bool argumentIs(const RXSTRING& a, const char* keyword);
// A NUL-terminated copy of an argument's text, released with the scope; null when omitted.
struct ArgText {
    char* text;
    explicit ArgText(const RXSTRING& a);
    ArgText(const ArgText&) = delete;
    ArgText& operator=(const ArgText&) = delete;
    ~ArgText() { release(text); }
    // Null for an empty text too: for Expat "" would be a name.
    const char* nonEmptyText() const { return text && *text ? text : nullptr; }
};

// ---- numbers ------------------------------------------------------------------------------
// The C library's atoi over the argument's text (blanks, a sign, digits; none gives 0),
// clamped to 32 bits.
int argumentNumber(const RXSTRING& a);
// strtol with base 0 over [p, end), from a digit or a '-' followed by one, clamped to 32 bits.
// Answers the position after the number.
const char* readBaseNumber(const char* p, const char* end, std::int32_t* value);
// A Rexx number that is whole ("7", " -7 ", "+ 7", "7.0", "7E0", "1.28512E+5"). Magnitudes beyond
// 2^40 saturate there. False when the text is no whole number.
bool readWholeNumber(const char* text, std::size_t length, long long* value);

// ---- results ------------------------------------------------------------------------------
// The interpreter's buffer (256 bytes with Regina, on its own stack) is used when the text and
// its NUL fit and is never released; a longer text goes into an exact-size block that the
// interpreter releases.
void writeResult(PRXSTRING result, const char* text, std::size_t length);
void writeResult(PRXSTRING result, const char* text);
void writeInteger(PRXSTRING result, long long value);

// ---- handles ------------------------------------------------------------------------------
// A handle names one object for as long as it is registered, and never another one: numbers
// are not reused. Safe for several threads, each with its own interpreter.
using Handle = std::uintptr_t;
Handle registerObject(void* object);
void unregisterObject(Handle handle);
void* objectOf(Handle handle);
void handleText(Handle handle, char (&text)[kHandleTextSize]);
void writeHandle(PRXSTRING result, Handle handle);
// The handle an argument's text names (what follows the number is ignored); 0 for none.
Handle readHandle(const RXSTRING& a);

} // namespace quillmark
