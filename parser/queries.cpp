// Expat's error, position and attribute queries, and the base, encoding and parameter-entity
// settings. Each is a thin bridge to one Expat call.
#include "record.h"

#include "../package/package.h"

#include <cstring>

namespace {

// The family of one-handle queries: check, decode, ask Expat, write a number.
template <class Query> APIRET query(ULONG argc, const RXSTRING* argv, PRXSTRING result, Query ask) {
    if (!_ExpatArgsValid(argc, argv, 1, {ArgTest::NonEmpty})) return kInvalidCall;
    ParserRecord* record = _ExpatRecordFromArg(argv[0]);
    if (!record) return kInvalidCall;
    _ExpatResultInteger(result, static_cast<long long>(ask(record->parser)));
    return kValidCall;
}

} // namespace

#define QM_QUERY(name, call)                                                                       \
    QM_EXPORT APIRET APIENTRY name(PCSZ, ULONG argc, PRXSTRING argv, PCSZ, PRXSTRING result) {     \
        return query(argc, argv, result, [](XML_Parser p) { return call(p); });                    \
    }

QM_QUERY(ExpatGetErrorCode, XML_GetErrorCode)
QM_QUERY(ExpatGetCurrentByteIndex, XML_GetCurrentByteIndex)
QM_QUERY(ExpatGetCurrentLineNumber, XML_GetCurrentLineNumber)
QM_QUERY(ExpatGetCurrentColumnNumber, XML_GetCurrentColumnNumber)
QM_QUERY(ExpatGetSpecifiedAttributeCount, XML_GetSpecifiedAttributeCount)
QM_QUERY(ExpatGetIdAttributeIndex, XML_GetIdAttributeIndex)
QM_QUERY(ExpatGetCurrentByteCount, XML_GetCurrentByteCount)

// Takes an error code, not a handle. A code without a message answers the empty text.
QM_EXPORT APIRET APIENTRY ExpatErrorString(PCSZ, ULONG argc, PRXSTRING argv, PCSZ,
                                           PRXSTRING result) {
    if (!_ExpatArgsValid(argc, argv, 1, {ArgTest::Given})) return kInvalidCall;
    // Expat's codes are small; anything beyond them has no message.
    int code = _ExpatArgNumber(argv[0]);
    const XML_LChar* message =
        code >= 0 && code < 64 ? XML_ErrorString(static_cast<enum XML_Error>(code)) : nullptr;
    _ExpatResultCString(result, message ? message : "");
    return kValidCall;
}

QM_EXPORT APIRET APIENTRY ExpatSetBase(PCSZ, ULONG argc, PRXSTRING argv, PCSZ, PRXSTRING result) {
    if (!_ExpatArgsValid(argc, argv, 2, {ArgTest::NonEmpty, ArgTest::Given})) return kInvalidCall;
    ParserRecord* record = _ExpatRecordFromArg(argv[0]);
    if (!record) return kInvalidCall;
    ArgText base(argv[1]);
    _ExpatResultInteger(result, XML_SetBase(record->parser, base.text));
    return kValidCall;
}

// The base comes back whole at any length, in an exact-size block the interpreter releases; a
// parser without a base answers the empty text. When that block cannot be had the call
// answers with no text (null, length 0) and the process goes on.
QM_EXPORT APIRET APIENTRY ExpatGetBase(PCSZ, ULONG argc, PRXSTRING argv, PCSZ, PRXSTRING result) {
    if (!_ExpatArgsValid(argc, argv, 1, {ArgTest::NonEmpty})) return kInvalidCall;
    ParserRecord* record = _ExpatRecordFromArg(argv[0]);
    if (!record) return kInvalidCall;
    const XML_Char* base = XML_GetBase(record->parser);
    if (!base) base = "";
    std::size_t n = std::strlen(base);
    auto* block = static_cast<char*>(RexxAllocateMemory(static_cast<ULONG>(n + 1)));
    if (!block) {
        *result = RXSTRING{0, nullptr};
        return kValidCall;
    }
    std::memcpy(block, base, n + 1);
    *result = _ExpatRx(n, block);
    return kValidCall;
}

// An empty encoding removes the override: Expat would take "" as an unknown encoding name.
QM_EXPORT APIRET APIENTRY ExpatSetEncoding(PCSZ, ULONG argc, PRXSTRING argv, PCSZ,
                                           PRXSTRING result) {
    if (!_ExpatArgsValid(argc, argv, 2, {ArgTest::NonEmpty, ArgTest::Given})) return kInvalidCall;
    ParserRecord* record = _ExpatRecordFromArg(argv[0]);
    if (!record) return kInvalidCall;
    ArgText encoding(argv[1]);
    _ExpatResultInteger(
        result, XML_SetEncoding(record->parser, argv[1].strlength ? encoding.text : nullptr));
    return kValidCall;
}

// The mode is one of Expat's three keywords (case-sensitive) or a number.
QM_EXPORT APIRET APIENTRY ExpatSetParamEntityParsing(PCSZ, ULONG argc, PRXSTRING argv, PCSZ,
                                                     PRXSTRING result) {
    if (!_ExpatArgsValid(argc, argv, 2, {ArgTest::NonEmpty, ArgTest::NonEmpty}))
        return kInvalidCall;
    ParserRecord* record = _ExpatRecordFromArg(argv[0]);
    if (!record) return kInvalidCall;
    static constexpr const char* kModes[] = {"XML_PARAM_ENTITY_PARSING_NEVER",
                                             "XML_PARAM_ENTITY_PARSING_UNLESS_STANDALONE",
                                             "XML_PARAM_ENTITY_PARSING_ALWAYS"};
    int mode = -1;
    for (int i = 0; i < 3 && mode < 0; ++i)
        if (_ExpatArgIs(argv[1], kModes[i])) mode = i;
    if (mode < 0) mode = _ExpatArgNumber(argv[1]);
    _ExpatResultInteger(
        result,
        XML_SetParamEntityParsing(record->parser, static_cast<enum XML_ParamEntityParsing>(mode)));
    return kValidCall;
}
