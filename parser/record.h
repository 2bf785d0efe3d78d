// The record behind every parser handle.
#pragma once

#include "../package/frame.h"

#include <cstdint>
#include <expat.h>

namespace quillmark {

struct HandlerTable;
struct PendingEvents;

// Where an event was met: what the position queries answer while its procedure runs after
// Expat has moved past it, or after the package stopped the parse there.
struct EventPlace {
    long long byteIndex;
    int byteCount;
    unsigned long long line, column;
    int specifiedAttributes, idAttribute; // of a start tag
};

enum class Phase : unsigned char {
    Idle,
    Parsing,  // Expat runs: its frames are on a stack
    Handling, // Expat is suspended while the procedures of the events it reported run
};

struct ParserRecord {
    XML_Parser parser; // owned; never null in a live record
    Handle handle;
    char handleText[kHandleTextSize]; // what the procedures get as argument 1
    std::size_t handleLength;
    HandlerTable* handlers; // owned
    SHVBLOCK* poolChain;    // owned by this record alone
    PendingEvents* pending; // owned: events whose procedures wait for Expat to suspend

    // Expat cannot free a parser from inside its own handlers, nor a parent while an
    // external-entity parser made from it is alive.
    ParserRecord* parent;  // the parser this one was made from, or null
    unsigned liveChildren; // external-entity parsers made from this one and not yet freed
    Phase phase;
    unsigned answering;        // labels running while Expat waits for their answer
    unsigned procedures;       // programs of their own running for its events
    std::uint64_t drivingCall; // the ExpatParse call feeding it (see handlers' nesting), or 0
    bool freeing;              // ExpatParserFree is releasing the Expat parser
    bool freeRequested;        // freed while a label answered Expat: released once Expat returns

    // The event whose procedure is running.
    bool inStartTag;
    const EventPlace* place; // null while Expat is still at the event
    // The package stopped the parse: Expat's code for why, and where.
    int failure;
    EventPlace failurePlace;
    // The last place read from Expat (see placeNow).
    EventPlace lastPlace;
};

// Any count of arguments from one on.
inline constexpr ULONG kAnyCount = 0;

// The parser an entry point is called for: argc is count (or at least 1 for kAnyCount),
// argument 1 names a live parser that is not being freed, and the arguments after it pass
// their tests. Null for an invalid call.
ParserRecord* parserArgument(ULONG argc, const RXSTRING* argv, ULONG count,
                             std::initializer_list<ArgTest> after = {});

// Where Expat is now, for an event being reported (the attribute counts for a start tag). The
// events of an entity's expansion all stand at the reference, whose line and column Expat has
// moved past once it resumed inside the expansion: an event at the same byte as the last place
// read has that place's line and column.
EventPlace placeNow(ParserRecord* record, bool startTag);

// Frees the parser and its record (Expat's parser first: it may run the release procedure).
void releaseParser(ParserRecord* record);
// Whether the record is still the live parser of this handle. Cheap while no parser at all has
// been freed since `freesBefore` (what parsersFreed answered then).
std::uint64_t parsersFreed();
bool stillLive(const ParserRecord* record, Handle handle, std::uint64_t freesBefore);

} // namespace quillmark
