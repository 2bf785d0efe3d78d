#include "encoding.h"

#include "../package/package.h"
#include "../parser/record.h"

#include <climits>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// strtol with base 0 over [p, end), starting at a digit or at '-' followed by a digit; the
// value saturates at the 32-bit limits. Answers the position after the number.
const char* readNumber(const char* p, const char* end, std::int32_t* out) {
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
    long long value = 0;
    for (; p < end && digitValue(*p) < base; ++p) {
        value = value * base + digitValue(*p);
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    *out = static_cast<std::int32_t>(value);
    return p;
}

} // namespace

void _ExpatReadEncodingMap(const char* text, std::size_t length, std::int32_t map[256]) {
    int entry = 0;
    if (text) {
        const char* p = text;
        const char* end = text + length;
        for (; entry < 256 && p < end; ++entry) {
            if (isDigit(*p) || (*p == '-' && p + 1 < end && isDigit(p[1]))) {
                p = readNumber(p, end, &map[entry]);
                if (p < end) ++p; // the separator
            } else {
                map[entry] = entry;
                ++p;
            }
        }
    }
    for (; entry < 256; ++entry) map[entry] = entry;
}

namespace {

// A bridge's data is the record that described the encoding; it is used only while that record
// is live and its slot is filled.
ParserRecord* liveRecord(void* data, HandlerKind kind) {
    auto* record = static_cast<ParserRecord*>(data);
    return _ExpatIsLiveRecord(record) && record->slots[kind] ? record : nullptr;
}

// The map text of a procedure that ran cleanly; a failed run describes nothing.
struct Description {
    bool described;
    bool nonEmpty;
    std::int32_t map[256];
};

void readMap(const RXSTRING& result, bool ranCleanly, void* context) {
    auto* d = static_cast<Description*>(context);
    d->described = ranCleanly;
    if (!ranCleanly) return;
    d->nonEmpty = result.strptr && result.strlength;
    _ExpatReadEncodingMap(result.strptr, result.strptr ? result.strlength : 0, d->map);
}

// Far beyond any answer a conversion can give, and safe to scale by ten.
constexpr long long kSaturated = 1LL << 40;

long long grow(long long value, int digit) {
    value = value * 10 + digit;
    return value < kSaturated ? value : kSaturated;
}

// A Rexx number: blanks, a sign (blanks may follow it), digits with at most one decimal point,
// an exponent, blanks. It is whole when its value is an integer, as Rexx arithmetic may leave
// one ("40000.0", "1.28512E+5"). Magnitudes saturate at kSaturated.
bool readWholeNumber(const char* p, const char* end, long long* out) {
    while (p < end && *p == ' ') ++p;
    while (end > p && end[-1] == ' ') --end;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p++ == '-';
        while (p < end && *p == ' ') ++p;
    }
    // The digits from the first to the last non-zero one, scaled by a power of ten.
    long long significant = 0;
    long long power = 0;
    long long zeros = 0; // zeros after the significant digits so far
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
        long long exponent = 0;
        for (; p < end && isDigit(*p); ++p)
            if (exponent < 1000000) exponent = exponent * 10 + (*p - '0');
        power += down ? -exponent : exponent;
    }
    if (p != end) return false;
    if (significant == 0) {
        *out = 0;
        return true;
    }
    if (power < 0) return false;
    for (; power > 0 && significant < kSaturated; --power) significant = grow(significant, 0);
    *out = negative ? -significant : significant;
    return true;
}

// The convert procedure answers a scalar value. Its returned string carries all of it; the
// return code RexxStart reports is only 16 bits wide.
struct Scalar {
    bool whole;
    long long value;
};

void readScalar(const RXSTRING& result, bool, void* context) {
    auto* s = static_cast<Scalar*>(context);
    s->whole = result.strptr &&
               readWholeNumber(result.strptr, result.strptr + result.strlength, &s->value);
}

} // namespace

int XMLCALL _ExpatUnknownEncodingHandler(void* data, const XML_Char* name, XML_Encoding* info) {
    ParserRecord* record = liveRecord(data, UnknownEncoding);
    if (!record) return 0;
    const char* const values[] = {name};
    Description description{false, false, {}};
    _ExpatRunEvent(record, EventCall{UnknownEncoding, values, 1}, readMap, &description);
    // A procedure that failed to run leaves Expat's description and the record's map as they
    // were: the encoding is not handled, and no release procedure is told about it.
    if (!description.described) return 0;
    for (int i = 0; i < 256; ++i) info->map[i] = record->encodingMap[i] = description.map[i];
    info->data = record;
    info->convert = record->slots[UnknownEncodingConvert] ? _ExpatUnknownEncodingConvert : nullptr;
    info->release = record->slots[UnknownEncodingRelease] ? _ExpatUnknownEncodingRelease : nullptr;
    return description.nonEmpty ? 1 : 0;
}

int XMLCALL _ExpatUnknownEncodingConvert(void* data, const char* bytes) {
    ParserRecord* record = liveRecord(data, UnknownEncodingConvert);
    if (!record) return -1;
    std::int32_t entry = record->encodingMap[static_cast<unsigned char>(bytes[0])];
    // Expat calls this only for first bytes the map gave as -2 to -4.
    if (entry > -2 || entry < -4) return -1;
    const char* const values[] = {nullptr};
    CountedText sequence{1, bytes, -entry};
    Scalar scalar{false, 0};
    EventOutcome outcome = _ExpatRunEvent(
        record, EventCall{UnknownEncodingConvert, values, 1, &sequence, 1}, readScalar, &scalar);
    // A run that failed answers "malformed".
    if (!outcome.ran || outcome.rexxCode != 0) return -1;
    if (!scalar.whole) return outcome.returnCode;
    if (scalar.value < INT_MIN || scalar.value > INT_MAX) return -1;
    return static_cast<int>(scalar.value);
}

void XMLCALL _ExpatUnknownEncodingRelease(void* data) {
    ParserRecord* record = liveRecord(data, UnknownEncodingRelease);
    if (record) _ExpatRunEvent(record, EventCall{UnknownEncodingRelease, nullptr, 0});
}

void _ExpatRegisterUnknownEncoding(ParserRecord* record) {
    bool set = record->slots[UnknownEncoding] != nullptr;
    XML_SetUnknownEncodingHandler(record->parser, set ? _ExpatUnknownEncodingHandler : nullptr,
                                  set ? record : nullptr);
}
