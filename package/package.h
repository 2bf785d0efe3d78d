// The calling convention shared by every entry point: argument tests, result writing,
// ParserHandle text, memory and diagnostics. Each concern lives here once.
#pragma once

#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

struct ParserRecord;

// Return codes of an external function.
inline constexpr APIRET kValidCall = 0;
inline constexpr APIRET kInvalidCall = 40;

// ---- memory ------------------------------------------------------------------------------
// Every block the package keeps comes from the interpreter's allocator. An allocation that
// fails ends the process with status 1 after "Quillmark: insufficient memory\n"; a release the
// interpreter refuses is reported and otherwise treated as done.
[[noreturn]] void _ExpatOutOfMemory();
void _ExpatReportFreeFailure();
void* _ExpatAlloc(std::size_t size);
void _ExpatFree(void* block);

template <class T> T* _ExpatAllocArray(std::size_t count) {
    return static_cast<T*>(_ExpatAlloc(count * sizeof(T)));
}

// A NUL-terminated copy of at most maxLength characters of text, cut at the first NUL.
char* _ExpatCopyText(const char* text, std::size_t maxLength, std::size_t* copiedLength = nullptr);
// A NUL-terminated copy of exactly length bytes (NULs included).
char* _ExpatCopyBytes(const char* bytes, std::size_t length);

// Releases a block when the scope ends.
struct ScopedBlock {
    void* block;
    explicit ScopedBlock(void* b) : block(b) {}
    ScopedBlock(const ScopedBlock&) = delete;
    ScopedBlock& operator=(const ScopedBlock&) = delete;
    ~ScopedBlock() { _ExpatFree(block); }
};

// An RXSTRING of a length and text. Its length type is narrower than size_t on 64-bit Windows.
inline RXSTRING _ExpatRx(std::size_t length, char* text) {
    return RXSTRING{static_cast<ULONG>(length), text};
}

// ---- arguments ---------------------------------------------------------------------------
enum class ArgTest { Any, Given, NonEmpty };

inline bool _ExpatGiven(const RXSTRING& a) {
    return a.strptr != nullptr;
}
inline bool _ExpatNonEmpty(const RXSTRING& a) {
    return a.strptr != nullptr && a.strlength != 0;
}

// Argument n (from 1); one beyond the count is omitted.
inline RXSTRING _ExpatArg(ULONG argc, const RXSTRING* argv, ULONG n) {
    return n >= 1 && n <= argc ? argv[n - 1] : RXSTRING{0, nullptr};
}

// The count must be exact and each argument must pass its test, in order.
bool _ExpatArgsValid(ULONG argc, const RXSTRING* argv, ULONG count,
                     std::initializer_list<ArgTest> tests);

// Length of an argument read as text: up to its first NUL, never past its length.
std::size_t _ExpatArgTextLength(const RXSTRING& a);
// The argument's number by the C library's atoi rules (leading blanks, a sign, digits; no
// digits give 0), read within the argument's text and clamped to 32 bits.
int _ExpatArgNumber(const RXSTRING& a);
// Whether the argument's text equals the keyword exactly (case-sensitive).
bool _ExpatArgIs(const RXSTRING& a, const char* keyword);

// A NUL-terminated copy of an argument's text (cut at a NUL), released with the scope; null
// for an omitted argument.
struct ArgText {
    char* text;
    explicit ArgText(const RXSTRING& a)
        : text(a.strptr ? _ExpatCopyText(a.strptr, a.strlength) : nullptr) {}
    ArgText(const ArgText&) = delete;
    ArgText& operator=(const ArgText&) = delete;
    ~ArgText() { _ExpatFree(text); }
};

// ---- results -----------------------------------------------------------------------------
// The interpreter supplies a buffer (256 bytes with Regina) that lives on its own stack: it is
// never released. A text that does not fit with its NUL goes into an exact-size block, which
// the interpreter releases after use.
void _ExpatResultText(PRXSTRING result, const char* text, std::size_t length);
void _ExpatResultCString(PRXSTRING result, const char* text);
void _ExpatResultInteger(PRXSTRING result, long long value);
void _ExpatResultUnsigned(PRXSTRING result, unsigned long long value);
inline void _ExpatResultEmpty(PRXSTRING result) {
    _ExpatResultText(result, "", 0);
}
void _ExpatResultHandle(PRXSTRING result, const ParserRecord* record);

// ---- handles -----------------------------------------------------------------------------
// The set of live records is the package's one piece of shared state. A handle names a record
// only while that record is in the set; anything else (garbage, "0", a freed parser) is no
// record. Safe to use from several threads, each with its own interpreter.
void _ExpatHandleText(const ParserRecord* record, char (&text)[kHandleTextSize]);
void _ExpatAddLiveRecord(ParserRecord* record);
void _ExpatRemoveLiveRecord(ParserRecord* record);
bool _ExpatIsLiveRecord(const void* record);
// The record a handle argument names, or null when it names none or its parser is being freed.
ParserRecord* _ExpatRecordFromArg(const RXSTRING& arg);
