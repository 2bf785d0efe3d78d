// Expat's error, position and attribute queries, and the base, encoding and parameter-entity
// settings: each a thin bridge to one Expat call.
#include "record.h"

#include "../package/functions.h"

namespace quillmark {
namespace {

// A setting from a text argument: Expat's status is the result.
template <class Set> APIRET setting(ULONG argc, const RXSTRING* argv, PRXSTRING result, Set set) {
    ParserRecord* record = parserArgument(argc, argv, 2, {ArgTest::Given});
    if (!record) return kInvalidCall;
    ArgText text(argv[1]);
    writeInteger(result, set(record->parser, text));
    return kValidCall;
}

template <class Answer>
APIRET query(ULONG argc, const RXSTRING* argv, PRXSTRING result, Answer ask) {
    ParserRecord* record = parserArgument(argc, argv, 1);
    if (!record) return kInvalidCall;
    writeInteger(result, static_cast<long long>(ask(record)));
    return kValidCall;
}

} // namespace
} // namespace quillmark

using namespace quillmark;

// A stopped parse answers for the place it stopped at; a procedure that runs after Expat moved
// past its event, for that event; else Expat answers.
#define QUILLMARK_POSITION(name, field)                                                            \
    QUILLMARK_ENTRY(name) {                                                                        \
        return query(argc, argv, result, [](ParserRecord* r) {                                     \
            if (r->place) return static_cast<long long>(r->place->field);                          \
            if (r->failure) return static_cast<long long>(r->failurePlace.field);                  \
            return static_cast<long long>(placeNow(r, false).field);                               \
        });                                                                                        \
    }

QUILLMARK_POSITION(ExpatGetCurrentByteIndex, byteIndex)
QUILLMARK_POSITION(ExpatGetCurrentLineNumber, line)
QUILLMARK_POSITION(ExpatGetCurrentColumnNumber, column)
QUILLMARK_POSITION(ExpatGetCurrentByteCount, byteCount)

// When the package stopped the parse, its own reason.
QUILLMARK_ENTRY(ExpatGetErrorCode) {
    return query(argc, argv, result, [](ParserRecord* r) {
        return r->failure ? r->failure : static_cast<int>(XML_GetErrorCode(r->parser));
    });
}

// Expat's counts belong to the start tag being reported; anywhere else they are undefined, and
// the answers are 0 attributes and no ID attribute.
QUILLMARK_ENTRY(ExpatGetSpecifiedAttributeCount) {
    return query(argc, argv, result, [](ParserRecord* r) {
        if (!r->inStartTag) return 0;
        return r->place ? r->place->specifiedAttributes : XML_GetSpecifiedAttributeCount(r->parser);
    });
}

QUILLMARK_ENTRY(ExpatGetIdAttributeIndex) {
    return query(argc, argv, result, [](ParserRecord* r) {
        if (!r->inStartTag) return -1;
        return r->place ? r->place->idAttribute : XML_GetIdAttributeIndex(r->parser);
    });
}

// Takes an error code, not a handle. A code without a message answers the empty text.
QUILLMARK_ENTRY(ExpatErrorString) {
    if (!argumentsValid(argc, argv, 1, {ArgTest::Given})) return kInvalidCall;
    // Expat's codes are small; anything beyond them has no message.
    int code = argumentNumber(argv[0]);
    const XML_LChar* message =
        code >= 0 && code < 64 ? XML_ErrorString(static_cast<enum XML_Error>(code)) : nullptr;
    writeResult(result, message ? message : "");
    return kValidCall;
}

QUILLMARK_ENTRY(ExpatSetBase) {
    return setting(argc, argv, result,
                   [](XML_Parser p, const ArgText& base) { return XML_SetBase(p, base.text); });
}

// A parser without a base answers the empty text.
QUILLMARK_ENTRY(ExpatGetBase) {
    ParserRecord* record = parserArgument(argc, argv, 1);
    if (!record) return kInvalidCall;
    const XML_Char* base = XML_GetBase(record->parser);
    writeResult(result, base ? base : "");
    return kValidCall;
}

QUILLMARK_ENTRY(ExpatSetEncoding) {
    return setting(argc, argv, result, [](XML_Parser p, const ArgText& encoding) {
        return XML_SetEncoding(p, encoding.nonEmptyText());
    });
}

// The mode is one of Expat's three keywords (case-sensitive) or a number.
QUILLMARK_ENTRY(ExpatSetParamEntityParsing) {
    ParserRecord* record = parserArgument(argc, argv, 2, {ArgTest::NonEmpty});
    if (!record) return kInvalidCall;
    static constexpr const char* kModes[] = {"XML_PARAM_ENTITY_PARSING_NEVER",
                                             "XML_PARAM_ENTITY_PARSING_UNLESS_STANDALONE",
                                             "XML_PARAM_ENTITY_PARSING_ALWAYS"};
    int mode = -1;
    for (int i = 0; i < 3 && mode < 0; ++i)
        if (argumentIs(argv[1], kModes[i])) mode = i;
    if (mode < 0) mode = argumentNumber(argv[1]);
    writeInteger(result, XML_SetParamEntityParsing(record->parser,
                                                   static_cast<enum XML_ParamEntityParsing>(mode)));
    return kValidCall;
}
