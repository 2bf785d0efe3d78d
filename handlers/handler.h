// Handler records: which Rexx procedure runs for one kind of event of one parser, and how
// RexxStart finds it.
#pragma once

#include "../package/platform.h"

#include <cstdint>

struct ParserRecord;

enum HandlerKind : int {
    StartElement = 0,
    EndElement = 1,
    CharacterData = 2,
    ProcessingInstruction = 3,
    Comment = 4,
    StartDoctypeDecl = 5,
    EndDoctypeDecl = 6,
    StartCdataSection = 7,
    EndCdataSection = 8,
    Default = 9,
    DefaultExpand = 10,
    ExternalEntityRef = 11,
    UnknownEncoding = 12,
    UnknownEncodingConvert = 13,
    UnknownEncodingRelease = 14,
    StartNamespaceDecl = 15,
    EndNamespaceDecl = 16,
    UnparsedEntityDecl = 17,
    InternalParsedEntityDecl = 18,
    ExternalParsedEntityDecl = 19,
    NotationDecl = 20,
    NotStandalone = 21,
};
inline constexpr int kHandlerKinds = 22;

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
    // RexxStart calls running this record. A record let go while it runs is detached from its
    // slot and released when the last call returns, since the interpreter still writes into
    // its instore pair.
    unsigned running;
    bool detached;
};
using HandlerSlot = HandlerRecord*;

// Fills the slot from one handler group (procedure, environment, invocation type). Answers 3.
int _ExpatSetHandler(HandlerSlot& slot, ULONG procedureLength, const char* procedure,
                     ULONG environmentLength, const char* environment, ULONG typeLength,
                     const char* type);
// Empties the slot. Answers 0.
int _ExpatFreeHandler(HandlerSlot& slot);
// Gives the destination its own deep copy of source (or empties it when source is null).
int _ExpatCopyHandler(const HandlerRecord* source, HandlerSlot& destination);
// Releases a record no slot holds any longer, unless a RexxStart call still uses it.
void _ExpatReleaseHandler(HandlerRecord* record);
// Makes sure an in-store record carries a tokenised image (or its tokenising error), so that
// the interpreter never has to tokenise source inside a nested call.
void _ExpatPrepareInstore(HandlerRecord* record);

// ---- callback invocation -----------------------------------------------------------------
// ArgList: a counted array of RXSTRING arguments, null when empty; null text is an omitted
// argument.
using ArgList = RXSTRING*;
int _ExpatMakeArgList(std::uint32_t count, ArgList& list, const char* const* values);
int _ExpatInsert2ArgList(ArgList& list, int index, const char* text, int length);
int _ExpatFreeArgList(std::uint32_t count, ArgList& list);

// One event's call of its slot's procedure.
struct CountedText {
    int index; // position in the whole argument list (0 is the handle)
    const char* text;
    int length;
};
struct EventCall {
    HandlerKind kind;
    const char* const* values; // after the handle; null entries are omitted arguments
    std::uint32_t count;       // number of values
    const CountedText* counted = nullptr;
    std::uint32_t countedCount = 0;
    bool passMarkup = false; // a non-empty result hands the event's markup to the default handler
};
struct EventOutcome {
    bool ran;      // a procedure was called (the slot held a record)
    long rexxCode; // what RexxStart answered: 0 when the procedure ran
    SHORT returnCode;
};
// Reads the procedure's returned string before it is released (may be null).
using ResultReader = void (*)(const RXSTRING& result, bool ranCleanly, void* context);

EventOutcome _ExpatRunEvent(ParserRecord* record, const EventCall& call,
                            ResultReader reader = nullptr, void* readerContext = nullptr);
// What a value-returning callback gives Expat: the procedure's return code, or 0 (stop) when
// no procedure ran cleanly.
int _ExpatEventAnswer(const EventOutcome& outcome);
