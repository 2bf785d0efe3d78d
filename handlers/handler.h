// Handler records: which Rexx procedure runs for one kind of event of one parser, and how; and
// the running of procedures for the events of a parse.
#pragma once

#include "../package/frame.h"
#include "events.h"

#include <cstdint>

namespace quillmark {

struct ParserRecord;
struct EventPlace;

// How a procedure is found and run:
//   Label       a label of the program that called ExpatParse, run with RexxCallBack on that
//               program's thread, sharing its variables, streams, queue and environments
//   External    a program file found by the interpreter    } programs of their own, run at top
//   Instore     Rexx source held by the record             } level on a helper thread
//   MacroSpace  a procedure of the interpreter's macro space (Regina has none: runs nothing)
enum class Mode : unsigned char { Label, External, Instore, MacroSpace };

// The instore argument of RexxStart: the source text, and the tokenised image the interpreter
// leaves behind. Both null: macro space.
struct InstorePair {
    RXSTRING source;
    RXSTRING image; // binary (holds NULs): always handled by its length
};

struct HandlerRecord {
    char* procedure;      // label, program name or macro name; "" in in-store mode
    char* environment;    // environment name, or null
    InstorePair* instore; // null in external and label mode
    Mode mode;
    bool empty; // in-store source without a clause: runs nothing
    // A label is looked up in the program's source once per parse call: where it stands, and
    // the call that found it out.
    unsigned char labelPlace;
    std::uint64_t checkedIn;
    // Runs using this record on a helper. A record let go while it runs is detached from its
    // slot and released when the last run is done with it.
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
// Releases a record that no slot holds any longer, unless a run still uses it.
void letGo(HandlerRecord* record);

// Tells Expat whether to call the callbacks of the setter whose first slot is first.
void installCallbacks(ParserRecord* record, Kind first);
// Registers with Expat what a new external-entity parser cannot inherit from its parent.
void registerInheritedCallbacks(ParserRecord* record);

// ---- running procedures -------------------------------------------------------------------

// A value of an event: text and length; null text is an omitted argument.
struct Value {
    const char* text;
    std::size_t length;
};
Value valueOf(const char* text);

struct Outcome {
    bool ran;       // the slot held a procedure
    bool clean;     // and it ran without an interpreter error
    bool hasResult; // and returned a non-empty string
    int answer;     // for answering kinds: non-zero lets the parse go on
};
// Reads a clean run's result before it is released (for the unknown-encoding bridge).
using ResultReader = void (*)(const RXSTRING& result, SHORT returnCode, void* context);

// Runs the kind's procedure now, where its mode runs it, with the parser's handle and the
// values. A run that fails is reported; stopping the parse is the caller's business.
Outcome runNow(ParserRecord* record, Kind kind, const Value* values, std::uint32_t count,
               ResultReader reader = nullptr, void* readerContext = nullptr);

// An event Expat reports: its procedure runs now when Expat may wait for it, or once Expat
// has suspended (labels, which must never leave Expat's frames on the stack). A procedure that
// fails stops the parse. Answering kinds give Expat 1 when their answer comes later.
Outcome dispatchEvent(ParserRecord* record, Kind kind, const Value* values, std::uint32_t count);

// The package's own stop of a parse: Expat's code for why, and where when known.
void stopParse(ParserRecord* record, int code, const EventPlace* place);

// Feeds one piece of a document to the parser while its procedures run. Answers Expat's
// status, or kRefused when the call cannot be served (the parser is busy in one of its own
// procedures, or the parses are nested too deep).
inline constexpr int kRefused = -1;
int feedParser(ParserRecord* record, const char* text, std::size_t length, bool last);
// How deep parses may nest (a procedure's parse inside another's).
inline constexpr int kMaxNesting = 100;
// How many parses are running in one another, down to the innermost one on this thread.
int nesting();

// The queue of the program whose call runs procedures: a helper shares it with that program.
struct CallerQueue {
    explicit CallerQueue(PCSZ queue);
    ~CallerQueue();
    CallerQueue(const CallerQueue&) = delete;
    CallerQueue& operator=(const CallerQueue&) = delete;
    PCSZ saved;
};
PCSZ callerQueue();

// Held while a helper thread does the package's own work and no procedure runs on it: the one
// place where a program of its own may start at top level.
struct TopLevelWork {
    TopLevelWork();
    ~TopLevelWork();
    TopLevelWork(const TopLevelWork&) = delete;
    TopLevelWork& operator=(const TopLevelWork&) = delete;
    bool saved;
};

struct PendingEvents;
void freePendingEvents(PendingEvents* pending);

// ---- labels -------------------------------------------------------------------------------
// While an in-store procedure runs on this thread, its source is the running program's.
struct RunningSource {
    explicit RunningSource(const RXSTRING* source);
    ~RunningSource();
    RunningSource(const RunningSource&) = delete;
    RunningSource& operator=(const RunningSource&) = delete;
    const RXSTRING* saved;
};
// Where the first label of this name stands in the source of the program running on this
// thread. RexxCallBack may be asked only for a Callable one: not for one inside a DO, SELECT or
// IF group, nor for one of a program whose source cannot be read.
enum class LabelPlace : unsigned char { Callable, Grouped, Missing, Unreadable };
LabelPlace placeOfLabel(const char* name);

} // namespace quillmark
