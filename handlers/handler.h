// Handler records: which Rexx procedure runs for one kind of event of one parser, and how the
// interpreter finds it; and running it for one event.
#pragma once

#include "../package/frame.h"
#include "events.h"

#include <cstdint>

namespace quillmark {

struct ParserRecord;

// The instore argument of RexxStart: the source text, and the tokenised image the interpreter
// leaves behind. Both null: macro space.
struct InstorePair {
    RXSTRING source;
    RXSTRING image; // binary (holds NULs): always handled by its length
};

struct HandlerRecord {
    char* procedure;      // program name for RexxStart; "" in in-store mode
    char* environment;    // environment name, or null
    InstorePair* instore; // null in external mode
    // In-store source that failed to tokenise: the Rexx error code (negative), reported on
    // every event instead of running anything.
    long tokeniseError;
    // Calls running this record. A record let go while it runs is detached from its slot and
    // released when the last call is done with it.
    unsigned running;
    bool detached;
};

// A parser's handlers: one slot per kind, and the latest unknown-encoding map given to Expat.
struct HandlerTable {
    HandlerRecord* slots[kKinds];
    std::int32_t encodingMap[256];
};

HandlerTable* newHandlerTable();
void freeHandlerTable(HandlerTable* table);
// Deep copies of every record of from into an empty table.
void copyHandlerTable(const HandlerTable& from, HandlerTable& to);
HandlerRecord*& slotOf(ParserRecord* record, Kind kind);

// Fills the slot from one handler group (procedure, environment, invocation type), releasing
// what it held.
void setHandler(HandlerRecord*& slot, const RXSTRING& procedure, const RXSTRING& environment,
                const RXSTRING& type);
void clearHandler(HandlerRecord*& slot);
// Releases a record that no slot holds any longer, unless a call still uses it.
void letGo(HandlerRecord* record);

// Tells Expat whether to call the callbacks of the setter whose first slot is first.
void installCallbacks(ParserRecord* record, Kind first);

// Registers with Expat what a new external-entity parser cannot inherit from its parent.
void registerInheritedCallbacks(ParserRecord* record);

// ---- running one event ----------------------------------------------------------------------
// A value of an event: text and length; null text is an omitted argument.
struct Value {
    const char* text;
    std::size_t length;
};
Value valueOf(const char* text);

struct Outcome {
    bool ran;   // the slot held a procedure
    bool clean; // and it ran without an interpreter error
    int answer; // for ResultUse::Answer kinds: what Expat is given
};
// Reads a clean run's result before it is released (for the unknown-encoding bridge).
using ResultReader = void (*)(const RXSTRING& result, SHORT returnCode, void* context);

// Runs the kind's procedure, if its slot holds one, with the parser's handle and the values.
Outcome runEvent(ParserRecord* record, Kind kind, const Value* values, std::uint32_t count,
                 ResultReader reader = nullptr, void* readerContext = nullptr);

} // namespace quillmark
