#include "encoding.h"

#include "../parser/record.h"

#include <climits>

namespace quillmark {

void readEncodingMap(const char* text, std::size_t length, std::int32_t map[256]) {
    int entry = 0;
    if (text) {
        const char* p = text;
        const char* end = text + length;
        auto digit = [](char c) { return c >= '0' && c <= '9'; };
        for (; entry < 256 && p < end; ++entry) {
            if (digit(*p) || (*p == '-' && p + 1 < end && digit(p[1]))) {
                p = readBaseNumber(p, end, &map[entry]);
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

void XMLCALL releaseEncoding(void* data);

// A bridge's data is the record that described the encoding; it is used only while that record
// is live, or being freed (its handle may be gone already when a label freed it while Expat
// waited), and the bridge's slot is filled.
ParserRecord* liveRecord(void* data, Kind kind) {
    auto* record = static_cast<ParserRecord*>(data);
    return record && (record->freeing || objectOf(record->handle) == record) && slotOf(record, kind)
               ? record
               : nullptr;
}

// Expat waits for these answers, so the procedures run while it does, labels too. A run that
// fails stops the parse; so does a label that freed the parser while Expat waited. While Expat
// frees the parser (the release procedure) there is no parse to stop, and Expat's parser may
// no longer be asked anything.
bool answered(ParserRecord* record, const Outcome& outcome) {
    if (record->freeing) return outcome.clean;
    if (!outcome.clean || record->freeRequested) stopParse(record, XML_ERROR_ABORTED, nullptr);
    return outcome.clean && !record->freeRequested;
}

struct Description {
    bool nonEmpty;
    std::int32_t map[256];
};

void readMap(const RXSTRING& result, SHORT, void* context) {
    auto* d = static_cast<Description*>(context);
    d->nonEmpty = result.strptr && result.strlength;
    readEncodingMap(result.strptr, result.strptr ? result.strlength : 0, d->map);
}

// The convert procedure answers a scalar value. Its returned string carries all of it; the
// return code the interpreter reports is only 16 bits wide and is used only when the string
// holds no whole number.
struct Scalar {
    long long value;
};

void readScalar(const RXSTRING& result, SHORT returnCode, void* context) {
    auto* s = static_cast<Scalar*>(context);
    if (!result.strptr || !readWholeNumber(result.strptr, result.strlength, &s->value))
        s->value = returnCode;
}

// Runs the UnknownEncoding procedure with the handle and the encoding name and describes the
// encoding by its map text: 1 for a non-empty text, 0 for an empty one (Expat then reports the
// encoding unknown, and tells the release procedure at once). A procedure that fails to run
// describes nothing: the answer is 0, and Expat's description and the record's map stay.
int XMLCALL describe(void* data, const XML_Char* name, XML_Encoding* info) {
    ParserRecord* record = liveRecord(data, Kind::UnknownEncoding);
    if (!record) return 0;
    Value values[] = {valueOf(name)};
    Description description{false, {}};
    if (!answered(record, runNow(record, Kind::UnknownEncoding, values, 1, readMap, &description)))
        return 0;
    for (int i = 0; i < 256; ++i)
        info->map[i] = record->handlers->encodingMap[i] = description.map[i];
    info->data = record;
    info->convert = slotOf(record, Kind::UnknownEncodingConvert) ? convertSequence : nullptr;
    info->release = slotOf(record, Kind::UnknownEncodingRelease) ? releaseEncoding : nullptr;
    return description.nonEmpty ? 1 : 0;
}

// Runs the UnknownEncodingRelease procedure, also while ExpatParserFree is freeing the Expat
// parser; calls on the handle answer 40 then.
void XMLCALL releaseEncoding(void* data) {
    ParserRecord* record = liveRecord(data, Kind::UnknownEncodingRelease);
    if (record) answered(record, runNow(record, Kind::UnknownEncodingRelease, nullptr, 0));
}

} // namespace

// Runs the UnknownEncodingConvert procedure with exactly the n bytes of the sequence (n from
// the record's map). A whole number beyond 32 bits, or a procedure that fails to run, answers
// -1 (malformed).
int XMLCALL convertSequence(void* data, const char* bytes) {
    ParserRecord* record = liveRecord(data, Kind::UnknownEncodingConvert);
    if (!record) return -1;
    std::int32_t entry = record->handlers->encodingMap[static_cast<unsigned char>(bytes[0])];
    // Expat calls this only for first bytes the map gave as -2 to -4.
    if (entry > -2 || entry < -4) return -1;
    Value values[] = {Value{bytes, static_cast<std::size_t>(-entry)}};
    Scalar scalar{-1};
    if (!answered(record,
                  runNow(record, Kind::UnknownEncodingConvert, values, 1, readScalar, &scalar)))
        return -1;
    if (scalar.value < INT_MIN || scalar.value > INT_MAX) return -1;
    return static_cast<int>(scalar.value);
}

// External-entity parsers register their own: Expat copies the parent's handler data to the
// child, whose descriptions would otherwise run the parent's procedures and overwrite the
// parent's map.
void installUnknownEncoding(ParserRecord* record) {
    bool set = slotOf(record, Kind::UnknownEncoding) != nullptr;
    XML_SetUnknownEncodingHandler(record->parser, set ? describe : nullptr, set ? record : nullptr);
}

} // namespace quillmark
