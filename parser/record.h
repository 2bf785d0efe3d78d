// The record behind every parser handle.
#pragma once

#include "../package/frame.h"

#include <expat.h>

namespace quillmark {

struct HandlerTable;

struct ParserRecord {
    XML_Parser parser; // owned; never null in a live record
    Handle handle;
    HandlerTable* handlers; // owned
    SHVBLOCK* poolChain;    // owned by this record alone

    // Expat cannot free a parser from inside its own handlers, nor a parent while an
    // external-entity parser made from it is alive.
    ParserRecord* parent;  // the parser this one was made from, or null
    unsigned liveChildren; // external-entity parsers made from this one and not yet freed
    unsigned busy;         // depth of Expat calls in progress on this parser
    bool freeing;          // ExpatParserFree is releasing the Expat parser
    // A start-element procedure is running: Expat's attribute counts are defined.
    bool inStartTag;
};

// Any count of arguments from one on.
inline constexpr ULONG kAnyCount = 0;

// The parser an entry point is called for: argc is count (or at least 1 for kAnyCount),
// argument 1 names a live parser that is not being freed, and the arguments after it pass
// their tests. Null for an invalid call.
ParserRecord* parserArgument(ULONG argc, const RXSTRING* argv, ULONG count,
                             std::initializer_list<ArgTest> after = {});

} // namespace quillmark
