// Running a handler procedure for one event: its arguments, the interpreter call, what its
// result does, and the release of everything the call needed.
#include "handler.h"

#include "../parser/record.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace quillmark {

namespace {

// Regina's RexxStart takes at most this many arguments.
constexpr std::uint32_t kMaxArguments = 32;

// ---- tokenising in-store source --------------------------------------------------------------

// Regina 3.6 ends the process (SIGSEGV, on every thread and at top level) when it tokenises
// in-store source without a single clause: nothing but blanks, line ends, semicolons,
// continuation commas and comments, after a first line that starts with #! (which Regina
// skips up to its line end). Such a handler runs nothing, so the image of a lone NOP stands in
// for it. Anything this scan cannot place is left for the interpreter to judge.
bool holdsNoClause(const RXSTRING& source) {
    const char* s = source.strptr;
    const std::size_t n = source.strlength;
    auto at = [&](std::size_t i, char a, char b) {
        return i + 1 < n && s[i] == a && s[i + 1] == b;
    };
    std::size_t i = 0;
    if (at(0, '#', '!'))
        while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
    while (i < n) {
        if (std::strchr(" \t\n\r\f\v;,\x1a", s[i]) && s[i] != '\0') {
            ++i;
        } else if (at(i, '-', '-')) {
            while (i < n && s[i] != '\n') ++i;
        } else if (at(i, '/', '*')) {
            int depth = 0; // comments nest
            do {
                if (at(i, '/', '*')) {
                    ++depth;
                    i += 2;
                } else if (at(i, '*', '/')) {
                    --depth;
                    i += 2;
                } else {
                    ++i;
                }
            } while (depth > 0 && i < n);
            if (depth > 0) return false; // unmatched: the interpreter reports it
        } else {
            return false;
        }
    }
    return true;
}

struct TokeniseJob {
    RXSTRING source;   // what is tokenised
    InstorePair* pair; // receives the image
    long code;
};

// Tokenising without running: the initialisation exit refuses to start the program once the
// interpreter has tokenised it, and the trace output of that refusal ("Error 48 ...") is
// swallowed. Errors found while tokenising are still reported by the interpreter as usual.
constexpr const char* kTokeniseExit = "QuillmarkTokenise";
thread_local bool tTokenised = false;

LONG APIENTRY tokeniseExit(LONG function, LONG, PEXIT) {
    if (function == RXINI) {
        tTokenised = true;
        return RXEXIT_RAISE_ERROR;
    }
    return function == RXSIO && tTokenised ? RXEXIT_HANDLED : RXEXIT_NOT_HANDLED;
}

// Runs on a thread of its own: a parse-time error met by a nested RexxStart would end the
// whole process, while a thread with its own interpreter instance gets an error code.
void tokenise(void* p) {
    auto* job = static_cast<TokeniseJob*>(p);
    RexxRegisterExitExe(kTokeniseExit, tokeniseExit, nullptr);
    RXSYSEXIT exits[3] = {{const_cast<char*>(kTokeniseExit), RXINI},
                          {const_cast<char*>(kTokeniseExit), RXSIO},
                          {nullptr, RXENDLST}};
    RXSTRING instore[2] = {job->source, {0, nullptr}};
    RXSTRING result{0, nullptr};
    SHORT rc = 0;
    tTokenised = false;
    job->code = static_cast<LONG>(
        RexxStart(0, nullptr, "", instore, nullptr, RXSUBROUTINE, exits, &rc, &result));
    release(result.strptr);
    if (tTokenised && instore[1].strptr) {
        job->pair->image = instore[1];
        job->code = 0;
    } else {
        release(instore[1].strptr);
        if (job->code == 0) job->code = -64; // nothing usable came back
    }
}

// Makes sure an in-store record carries a tokenised image (or its tokenising error), so that
// the interpreter never has to tokenise source inside a nested call.
void prepareInstore(HandlerRecord* record) {
    InstorePair* pair = record->instore;
    if (!pair || !pair->source.strptr || pair->image.strptr || record->tokeniseError) return;
    static char standIn[] = "nop";
    TokeniseJob job{pair->source, pair, 0};
    if (holdsNoClause(pair->source)) job.source = rxstring(sizeof standIn - 1, standIn);
    // Without a thread the interpreter tokenises the source itself when it runs it (which a
    // source without clauses does not survive).
    if (runOnNewThread(tokenise, &job) && job.code != 0) record->tokeniseError = job.code;
}

// ---- arguments -------------------------------------------------------------------------------

struct Arguments {
    RXSTRING list[kMaxArguments];
    std::uint32_t count;
    // Start tags with more attributes than the arguments hold: every value after the element
    // name, for the ATTRIBUTE. stem.
    const Value* overflow;
    std::uint32_t overflowCount;
};

// The handle, then the values, each copied with a NUL after it.
void buildArguments(ParserRecord* record, const Value* values, std::uint32_t count,
                    Arguments& args) {
    char handle[kHandleTextSize];
    handleText(record->handle, handle);
    const std::uint32_t total = count + 1;
    args.count = total < kMaxArguments ? total : kMaxArguments;
    args.list[0] = rxstring(std::strlen(handle), copyBytes(handle, std::strlen(handle)));
    for (std::uint32_t i = 1; i < args.count; ++i) {
        const Value& v = values[i - 1];
        args.list[i] =
            v.text ? rxstring(v.length, copyBytes(v.text, v.length)) : RXSTRING{0, nullptr};
    }
    args.overflow = total > kMaxArguments ? values + 1 : nullptr;
    args.overflowCount = total > kMaxArguments ? count - 1 : 0;
}

void releaseArguments(Arguments& args) {
    for (std::uint32_t i = 0; i < args.count; ++i) release(args.list[i].strptr);
}

// ---- the ATTRIBUTE. stem ----------------------------------------------------------------------

constexpr const char* kAttributeExit = "QuillmarkAttributes";

// What the initialisation exit hands to the procedure about to start. Each call that names the
// exit sets it just before; nested calls save and restore it.
thread_local const Arguments* tPendingStem = nullptr;

// Runs before the procedure's first instruction, with its variable pool available: sets
// ATTRIBUTE.0 to the number of entries and ATTRIBUTE.1 ... ATTRIBUTE.n to the entries.
LONG APIENTRY attributeInitExit(LONG function, LONG subfunction, PEXIT) {
    if (function != RXINI || subfunction != RXINIEXT || !tPendingStem) return RXEXIT_NOT_HANDLED;
    const Arguments& args = *tPendingStem;
    tPendingStem = nullptr;
    const std::uint32_t blocks = args.overflowCount + 1;
    constexpr std::size_t kNameSize = sizeof "ATTRIBUTE.4294967295";
    auto* chain = allocateArray<SHVBLOCK>(blocks);
    auto* names = allocateArray<char>(blocks * kNameSize);
    char countText[16];
    int countLength = std::snprintf(countText, sizeof countText, "%u", args.overflowCount);
    for (std::uint32_t i = 0; i < blocks; ++i) {
        char* name = names + i * kNameSize;
        int n = std::snprintf(name, kNameSize, "ATTRIBUTE.%u", i);
        SHVBLOCK& b = chain[i];
        std::memset(&b, 0, sizeof b);
        b.shvnext = i + 1 < blocks ? &chain[i + 1] : nullptr;
        b.shvname = rxstring(static_cast<std::size_t>(n), name);
        b.shvnamelen = static_cast<ULONG>(n);
        Value v =
            i == 0 ? Value{countText, static_cast<std::size_t>(countLength)} : args.overflow[i - 1];
        b.shvvalue = rxstring(v.length, const_cast<char*>(v.text));
        b.shvvaluelen = static_cast<ULONG>(v.length);
        b.shvcode = RXSHV_SET;
    }
    RexxVariablePool(chain);
    release(names);
    release(chain);
    return RXEXIT_HANDLED;
}

// Exit registrations, like function registrations, belong to the thread's interpreter.
void registerAttributeExit() {
    thread_local bool registered = false;
    if (registered) return;
    RexxRegisterExitExe(kAttributeExit, attributeInitExit, nullptr);
    registered = true;
}

// ---- the call ---------------------------------------------------------------------------------

struct Call {
    long code; // what the interpreter answered: 0 when the procedure ran
    SHORT returnCode;
    char* preset;
    RXSTRING result;
};

void reportFailedRun(long code) {
    diagnose(" (Error %d): %s", static_cast<int>(code),
             code < 0 ? "rexx interpreter error" : "can't find/load Interpreter");
}

// RexxStart takes the pair as an array of two RXSTRINGs.
static_assert(sizeof(InstorePair) == 2 * sizeof(RXSTRING) &&
              offsetof(InstorePair, image) == sizeof(RXSTRING));

void callProcedure(HandlerRecord* handler, Arguments& args, Call& call) {
    call = Call{0, 0, nullptr, {0, nullptr}};
    if (handler->tokeniseError) {
        call.code = handler->tokeniseError;
        reportFailedRun(call.code);
        return;
    }
    // Only a start tag with more attributes than RexxStart takes arguments for gets the whole
    // list through the exit: every other call is made without exits.
    RXSYSEXIT exits[2] = {{const_cast<char*>(kAttributeExit), RXINI}, {nullptr, RXENDLST}};
    const Arguments* savedStem = tPendingStem;
    if (args.overflow) {
        registerAttributeExit();
        tPendingStem = &args;
    }
    call.preset = static_cast<char*>(allocate(RXAUTOBUFLEN));
    call.result = RXSTRING{RXAUTOBUFLEN, call.preset};
    call.code = static_cast<LONG>(
        RexxStart(static_cast<LONG>(args.count), args.list, handler->procedure,
                  reinterpret_cast<PRXSTRING>(handler->instore), handler->environment, RXSUBROUTINE,
                  args.overflow ? exits : nullptr, &call.returnCode, &call.result));
    tPendingStem = savedStem;
    if (call.code != 0) reportFailedRun(call.code);
}

// Expat's answer: any non-zero whole number lets the parse go on. It is read from the returned
// string, since the return code the interpreter reports keeps only 16 bits; a string that is no
// whole number leaves the return code.
int answerOf(const Call& call) {
    long long value;
    if (call.result.strptr && readWholeNumber(call.result.strptr, call.result.strlength, &value))
        return value != 0;
    return call.returnCode;
}

void releaseCall(Call& call) {
    if (call.result.strptr && call.result.strptr != call.preset) release(call.result.strptr);
    release(call.preset);
}

} // namespace

Value valueOf(const char* text) {
    return Value{text, text ? std::strlen(text) : 0};
}

Outcome runEvent(ParserRecord* record, Kind kind, const Value* values, std::uint32_t count,
                 ResultReader reader, void* readerContext) {
    HandlerRecord* handler = slotOf(record, kind);
    if (!handler) return Outcome{false, false, 0};
    prepareInstore(handler);
    Arguments args;
    buildArguments(record, values, count, args);
    Call call;
    ++handler->running;
    const bool wasInStartTag = record->inStartTag;
    record->inStartTag = kind == Kind::StartElement;
    callProcedure(handler, args, call);
    record->inStartTag = wasInStartTag;
    Outcome outcome{true, call.code == 0, 0};
    // After a failed run the result is whatever the interpreter left: it is not read.
    if (outcome.clean) {
        const bool hasResult = call.result.strptr && call.result.strlength;
        switch (eventInfo(kind).result) {
        case ResultUse::Markup:
            if (hasResult) XML_DefaultCurrent(record->parser);
            break;
        case ResultUse::Answer:
            outcome.answer = answerOf(call);
            break;
        case ResultUse::Ignored:
            break;
        }
        if (reader) reader(call.result, call.returnCode, readerContext);
    }
    --handler->running;
    releaseCall(call);
    releaseArguments(args);
    if (handler->detached && !handler->running) letGo(handler);
    return outcome;
}

} // namespace quillmark
