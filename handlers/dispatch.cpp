// The events of a parse and the procedures that handle them. Programs of their own run while
// Expat waits, on a helper thread where Expat itself runs for such parsers. Labels never run
// while Expat's frames are on the stack (a label may never return: an EXIT, or an error the
// program traps, jumps over them): their events are kept, Expat is suspended, and the labels
// run once it has returned; then it resumes. Only the unknown-encoding procedures, whose
// answers Expat needs at once, run labels while it waits.
#include "handler.h"

#include "../package/helper.h"
#include "../parser/record.h"

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace quillmark {

template <class T> using RexxVector = std::vector<T, RexxAllocator<T>>;

// Events whose procedures wait for Expat to suspend, with copies of their values, and the
// markup Expat hands over for them in case their procedures pass it on.
struct PendingEvents {
    struct Stored {
        std::size_t offset, length;
        bool given;
    };
    struct Piece {
        Kind kind; // Default or DefaultExpand: whichever Expat calls
        std::size_t offset, length;
    };
    struct Event {
        Kind kind;
        std::size_t firstValue, valueCount;
        std::size_t firstPiece, pieceCount;
        bool startTag;
        EventPlace place;
    };
    RexxVector<char> bytes;
    RexxVector<Stored> values;
    RexxVector<Piece> pieces;
    RexxVector<Event> events;
    RexxVector<Value> arguments; // an event's values as its procedure gets them
    bool capturing = false;      // Expat is handing over the markup of the newest event

    void clear() {
        bytes.clear();
        values.clear();
        pieces.clear();
        events.clear();
    }
    std::size_t keep(const char* text, std::size_t length) {
        std::size_t offset = bytes.size();
        bytes.insert(bytes.end(), text, text + length);
        bytes.push_back('\0');
        return offset;
    }
};

namespace {

bool hasPending(const ParserRecord* record) {
    return record->pending && !record->pending->events.empty();
}

PendingEvents& pendingOf(ParserRecord* record) {
    if (!record->pending) record->pending = new (allocate(sizeof(PendingEvents))) PendingEvents();
    return *record->pending;
}

void suspend(ParserRecord* record) {
    XML_ParsingStatus status;
    XML_GetParsingStatus(record->parser, &status);
    if (status.parsing == XML_PARSING) XML_StopParser(record->parser, XML_TRUE);
}

void defer(ParserRecord* record, Kind kind, const Value* values, std::uint32_t count) {
    PendingEvents& q = pendingOf(record);
    const bool startTag = kind == Kind::StartElement;
    q.events.push_back(PendingEvents::Event{kind, q.values.size(), count, q.pieces.size(), 0,
                                            startTag, placeNow(record, startTag)});
    for (std::uint32_t i = 0; i < count; ++i) {
        const Value& v = values[i];
        q.values.push_back(v.text ? PendingEvents::Stored{q.keep(v.text, v.length), v.length, true}
                                  : PendingEvents::Stored{0, 0, false});
    }
    // The markup is only to be had while Expat is at the event.
    if (eventInfo(kind).result == ResultUse::Markup) {
        q.capturing = true;
        XML_DefaultCurrent(record->parser);
        q.capturing = false;
    }
    suspend(record);
}

void capture(PendingEvents& q, Kind kind, const Value& markup) {
    q.pieces.push_back(
        PendingEvents::Piece{kind, q.keep(markup.text, markup.length), markup.length});
    ++q.events.back().pieceCount;
}

// Answers whether the parser is still there afterwards: its procedure may have freed it.
bool runDeferred(ParserRecord* record, Handle handle, Kind kind, const Value* values,
                 std::uint32_t count, const EventPlace& place, bool startTag, Outcome* outcome) {
    const std::uint64_t frees = parsersFreed();
    record->place = &place;
    record->inStartTag = startTag;
    *outcome = runNow(record, kind, values, count);
    if (!stillLive(record, handle, frees)) return false;
    record->place = nullptr;
    record->inStartTag = false;
    return true;
}

int refusal(Kind kind) {
    return kind == Kind::ExternalEntityRef ? XML_ERROR_EXTERNAL_ENTITY_HANDLING
                                           : XML_ERROR_NOT_STANDALONE;
}

// Runs the kept events in order, on the thread of the program that called ExpatParse. False
// when a procedure freed the parser.
bool drain(ParserRecord* record, Handle handle) {
    PendingEvents& q = *record->pending;
    for (std::size_t i = 0; i < q.events.size() && !record->failure; ++i) {
        const PendingEvents::Event event = q.events[i];
        const EventPlace& place = q.events[i].place;
        q.arguments.clear();
        for (std::size_t v = 0; v < event.valueCount; ++v) {
            const PendingEvents::Stored& s = q.values[event.firstValue + v];
            q.arguments.push_back(Value{s.given ? q.bytes.data() + s.offset : nullptr, s.length});
        }
        Outcome outcome;
        if (!runDeferred(record, handle, event.kind, q.arguments.data(),
                         static_cast<std::uint32_t>(event.valueCount), place, event.startTag,
                         &outcome))
            return false;
        if (record->failure || !outcome.ran) continue;
        const ResultUse use = eventInfo(event.kind).result;
        if (!outcome.clean)
            stopParse(record, XML_ERROR_ABORTED, &place);
        else if (use == ResultUse::Answer && !outcome.answer)
            stopParse(record, refusal(event.kind), &place);
        else if (use == ResultUse::Markup && outcome.hasResult) {
            // What XML_DefaultCurrent would have handed to the default handler then.
            for (std::size_t p = 0; p < event.pieceCount && !record->failure; ++p) {
                const PendingEvents::Piece piece = q.pieces[event.firstPiece + p];
                Value markup{q.bytes.data() + piece.offset, piece.length};
                Outcome passed;
                if (!runDeferred(record, handle, piece.kind, &markup, 1, place, false, &passed))
                    return false;
                if (passed.ran && !passed.clean) stopParse(record, XML_ERROR_ABORTED, &place);
            }
        }
    }
    q.clear();
    return true;
}

// Where a parse runs: on a helper when the parser has a procedure that is a program of its own
// (Expat's events then reach it with no hand-off), else on the program's thread.
struct Feed {
    ParserRecord* record;
    const char* text;
    std::size_t left;
    bool last;
    bool started;
    bool resume;
    bool onHelper;
    enum XML_Status status;
};

void engine(Feed& feed) {
    XML_Parser parser = feed.record->parser;
    if (feed.resume) {
        feed.resume = false;
        feed.status = XML_ResumeParser(parser);
        if (feed.status != XML_STATUS_OK) return;
    }
    if (!feed.started && feed.left == 0) {
        feed.started = true;
        feed.status = XML_Parse(parser, "", 0, feed.last);
        return;
    }
    feed.started = true;
    // Expat takes int lengths: a larger piece goes in parts, the last of them final.
    constexpr std::size_t kLargest = std::size_t{1} << 30;
    while (feed.left > 0) {
        int n = static_cast<int>(feed.left < kLargest ? feed.left : kLargest);
        void* buffer = XML_GetBuffer(parser, n);
        if (!buffer) {
            // Out of memory only when Expat says so; otherwise (a piece after the last one) the
            // error stays with the parser for ExpatGetErrorCode.
            if (XML_GetErrorCode(parser) == XML_ERROR_NO_MEMORY) outOfMemory();
            feed.status = XML_STATUS_ERROR;
            return;
        }
        std::memcpy(buffer, feed.text, static_cast<std::size_t>(n));
        feed.text += n;
        feed.left -= static_cast<std::size_t>(n);
        feed.status = XML_ParseBuffer(parser, n, feed.last && feed.left == 0);
        if (feed.status != XML_STATUS_OK) return;
    }
}

void runEngine(Feed& feed, PCSZ queue) {
    auto onHelper = [](void* context) {
        TopLevelWork top;
        engine(*static_cast<Feed*>(context));
    };
    if (feed.onHelper && runOnHelper(onHelper, &feed, queue, nesting())) return;
    feed.onHelper = false;
    engine(feed);
}

bool hasProgramOfItsOwn(ParserRecord* record) {
    for (HandlerRecord* h : record->handlers->slots)
        if (h && h->mode != Mode::Label) return true;
    return false;
}

// Parses nested in procedures of other parses, counted per thread chain: those whose call is
// above this one on the stack and still drives its parser. A parse whose frames a label's EXIT
// jumped over stays counted only while its parser lives and nothing fed it since.
struct Nest {
    const void* position;
    const ParserRecord* record;
    Handle handle;
    std::uint64_t call;
};
thread_local Nest tNests[kMaxNesting + 1];
thread_local int tNestCount = 0;
std::atomic<std::uint64_t> calls{0};

bool stillNested(const Nest& nest, const void* here) {
    // The stack grows down: a parse still running is above this call.
    return nest.position > here && objectOf(nest.handle) == nest.record &&
           nest.record->drivingCall == nest.call;
}

struct Nesting {
    ParserRecord* record = nullptr;
    std::uint64_t call = 0;
    bool enter(ParserRecord* parsing) {
        const char here = 0;
        int kept = 0;
        for (int k = 0; k < tNestCount; ++k)
            if (stillNested(tNests[k], &here)) tNests[kept++] = tNests[k];
        tNestCount = kept;
        if (handedDepth() + tNestCount + 1 > kMaxNesting) return false;
        record = parsing;
        call = ++calls;
        record->drivingCall = call;
        tNests[tNestCount++] = Nest{&here, record, record->handle, call};
        return true;
    }
    // Only when the parser is still there: a procedure may have freed it.
    void done() {
        if (record->drivingCall == call) record->drivingCall = 0;
    }
    ~Nesting() {
        if (!record) return;
        for (int k = tNestCount - 1; k >= 0; --k)
            if (tNests[k].call == call) {
                for (int j = k + 1; j < tNestCount; ++j) tNests[j - 1] = tNests[j];
                --tNestCount;
                break;
            }
    }
};

} // namespace

Outcome dispatchEvent(ParserRecord* record, Kind kind, const Value* values, std::uint32_t count) {
    PendingEvents* q = record->pending;
    if (q && q->capturing && (kind == Kind::Default || kind == Kind::DefaultExpand)) {
        capture(*q, kind, values[0]);
        return Outcome{false, false, false, 0};
    }
    // After the package stopped the parse, Expat may still report what the same token holds.
    if (record->failure || record->freeRequested) return Outcome{false, false, false, 0};
    HandlerRecord* handler = slotOf(record, kind);
    if (!handler) return Outcome{false, false, false, 0};
    if (handler->mode == Mode::Label || hasPending(record)) {
        defer(record, kind, values, count);
        return Outcome{true, true, false, 1};
    }
    const bool wasInStartTag = record->inStartTag;
    record->inStartTag = kind == Kind::StartElement;
    Outcome outcome = runNow(record, kind, values, count);
    record->inStartTag = wasInStartTag;
    if (outcome.ran && !outcome.clean)
        stopParse(record, XML_ERROR_ABORTED, nullptr);
    else if (outcome.hasResult && eventInfo(kind).result == ResultUse::Markup)
        XML_DefaultCurrent(record->parser);
    return outcome;
}

void stopParse(ParserRecord* record, int code, const EventPlace* place) {
    if (record->failure) return; // the first stop stands
    record->failure = code;
    record->failurePlace = place           ? *place
                           : record->place ? *record->place
                                           : placeNow(record, false);
    // Inside Expat's callbacks: no later event. A suspended parse is simply not resumed.
    if (record->phase == Phase::Parsing) XML_StopParser(record->parser, XML_FALSE);
}

int feedParser(ParserRecord* record, const char* text, std::size_t length, bool last) {
    // From inside one of its own procedures that are programs of their own.
    if (record->procedures) return kRefused;
    if (record->failure) return XML_STATUS_ERROR;
    // From inside a label of this parser, or after a label jumped out of its parse: either way
    // that parse ends, and no longer counts as nested.
    if (record->phase == Phase::Handling || record->answering) {
        stopParse(record, XML_ERROR_ABORTED, nullptr);
        record->drivingCall = 0;
        return XML_STATUS_ERROR;
    }
    // Expat is running this parser already.
    if (record->phase == Phase::Parsing) return kRefused;
    Nesting nesting;
    if (!nesting.enter(record)) return kRefused;
    const Handle handle = record->handle;
    Feed feed{record, text, length, last, false, false, hasProgramOfItsOwn(record), XML_STATUS_OK};
    for (;;) {
        record->phase = Phase::Parsing;
        runEngine(feed, callerQueue());
        if (record->freeRequested) {
            releaseParser(record);
            return XML_STATUS_ERROR;
        }
        if (hasPending(record)) {
            record->phase = Phase::Handling;
            if (!drain(record, handle)) return XML_STATUS_ERROR;
        }
        if (record->failure || feed.status != XML_STATUS_SUSPENDED) break;
        feed.resume = true;
    }
    record->phase = Phase::Idle;
    nesting.done();
    return record->failure ? XML_STATUS_ERROR : feed.status;
}

int nesting() {
    return handedDepth() + tNestCount;
}

void freePendingEvents(PendingEvents* pending) {
    if (!pending) return;
    pending->~PendingEvents();
    release(pending);
}

} // namespace quillmark
