// Every number the package reads: arguments (atoi), map texts (strtol with base 0) and the
// values procedures return (Rexx numbers).
#include "frame.h"

#include <climits>

namespace quillmark {

namespace {

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Digits of the base from p on, saturating at limit; answers the position after them.
const char* accumulate(const char* p, const char* end, int base, long long limit,
                       long long* value) {
    long long v = 0;
    for (; p < end && digitValue(*p) < base; ++p) {
        v = v * base + digitValue(*p);
        if (v > limit) v = limit;
    }
    *value = v;
    return p;
}

std::int32_t clamp32(bool negative, long long magnitude) {
    long long v = negative ? -magnitude : magnitude;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<std::int32_t>(v);
}

constexpr long long kPast32 = static_cast<long long>(INT_MAX) + 1;

} // namespace

int argumentNumber(const RXSTRING& a) {
    if (!a.strptr) return 0;
    const char* p = a.strptr;
    const char* end = p + textLength(a);
    while (p < end && isBlank(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    long long magnitude;
    accumulate(p, end, 10, kPast32, &magnitude);
    return clamp32(negative, magnitude);
}

const char* readBaseNumber(const char* p, const char* end, std::int32_t* value) {
    bool negative = *p == '-';
    if (negative) ++p;
    int base = 10;
    if (*p == '0') {
        base = 8;
        if (p + 2 < end && (p[1] == 'x' || p[1] == 'X') && digitValue(p[2]) < 16) {
            base = 16;
            p += 2;
        }
    }
    long long magnitude;
    p = accumulate(p, end, base, kPast32, &magnitude);
    *value = clamp32(negative, magnitude);
    return p;
}

bool readWholeNumber(const char* text, std::size_t length, long long* value) {
    constexpr long long kSaturated = 1LL << 40;
    const char* p = text;
    const char* end = text + length;
    while (p < end && *p == ' ') ++p;
    while (end > p && end[-1] == ' ') --end;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p++ == '-';
        while (p < end && *p == ' ') ++p;
    }
    // The digits up to the last non-zero one, and a power of ten to scale them by.
    auto grow = [](long long v, int digit) {
        v = v * 10 + digit;
        return v < kSaturated ? v : kSaturated;
    };
    long long significant = 0, power = 0, zeros = 0;
    int digits = 0;
    bool point = false;
    for (; p < end; ++p) {
        if (*p == '.' && !point) {
            point = true;
            continue;
        }
        if (!isDigit(*p)) break;
        ++digits;
        if (point) --power;
        if (*p == '0') {
            if (significant) ++zeros;
            continue;
        }
        for (; zeros > 0; --zeros) significant = grow(significant, 0);
        significant = grow(significant, *p - '0');
    }
    if (digits == 0) return false;
    power += zeros;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool down = p < end && *p == '-';
        if (p < end && (*p == '+' || *p == '-')) ++p;
        if (p == end) return false;
        long long exponent;
        p = accumulate(p, end, 10, 1000000, &exponent);
        power += down ? -exponent : exponent;
    }
    if (p != end) return false;
    if (significant == 0) {
        *value = 0;
        return true;
    }
    if (power < 0) return false;
    for (; power > 0 && significant < kSaturated; --power) significant = grow(significant, 0);
    *value = negative ? -significant : significant;
    return true;
}

} // namespace quillmark
