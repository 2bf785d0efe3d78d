#include "encoding.h"

#include "../package/package.h"
#include "../parser/record.h"

#include <climits>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

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
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
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

struct Description {
    XML_Encoding* info;
    int answer;
};

void readMap(const RXSTRING& result, bool, void* context) {
    auto* d = static_cast<Description*>(context);
    _ExpatReadEncodingMap(result.strptr, result.strptr ? result.strlength : 0, d->info->map);
    d->answer = result.strptr && result.strlength ? 1 : 0;
}

// The convert procedure answers a scalar value. Its returned string carries all of it; the
// return code RexxStart reports is only 16 bits wide.
struct Scalar {
    bool whole;
    long long value;
};

void readScalar(const RXSTRING& result, bool, void* context) {
    auto* s = static_cast<Scalar*>(context);
    s->whole = false;
    if (!result.strptr) return;
    const char* p = result.strptr;
    const char* end = p + result.strlength;
    while (p < end && *p == ' ') ++p;
    while (end > p && end[-1] == ' ') --end;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end) return;
    long long value = 0;
    for (; p < end; ++p) {
        if (!isDigit(*p)) return;
        if (value < 0x7fffffffLL) value = value * 10 + (*p - '0');
    }
    s->whole = true;
    s->value = negative ? -value : value;
}

} // namespace

int XMLCALL _ExpatUnknownEncodingHandler(void* data, const XML_Char* name, XML_Encoding* info) {
    ParserRecord* record = liveRecord(data, UnknownEncoding);
    if (!record) return 0;
    const char* const values[] = {name};
    // A run that failed leaves no map: the encoding is not handled (identity map, answer 0).
    Description description{info, 0};
    EventOutcome outcome = _ExpatRunEvent(record, EventCall{UnknownEncoding, values, 1}, readMap,
                                          &description);
    if (!outcome.ran) return 0;
    info->data = record;
    info->convert = record->slots[UnknownEncodingConvert] ? _ExpatUnknownEncodingConvert : nullptr;
    info->release = record->slots[UnknownEncodingRelease] ? _ExpatUnknownEncodingRelease : nullptr;
    for (int i = 0; i < 256; ++i) record->encodingMap[i] = info->map[i];
    return description.answer;
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
