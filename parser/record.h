// The per-parser record behind every ParserHandle.
#pragma once

#include "../handlers/handler.h"
#include "../package/platform.h"

#include <cstdint>
#include <expat.h>

struct ParserRecord {
    XML_Parser parser;             // owned; never null in a live record
    std::int32_t encodingMap[256]; // the latest unknown-encoding map given to Expat
    HandlerSlot slots[kHandlerKinds];
    SHVBLOCK* poolChain; // owned by this record alone (see varpool/varpool.h)

    // Lifetime guards: Expat cannot free a parser from inside its own handlers, nor a parent
    // while an external-entity parser made from it is alive.
    ParserRecord* parent;  // the parser this one was made from, or null
    unsigned liveChildren; // external-entity parsers made from this one and not yet freed
    unsigned busy;         // depth of Expat calls in progress on this parser
    bool freeing;          // ExpatParserFree is releasing the Expat parser
};
