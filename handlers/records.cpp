#include "handler.h"

#include "../package/package.h"

#include <cstring>

namespace {

// The text of an argument within its length and up to a NUL, as the mode rules read it.
RXSTRING textOf(ULONG length, const char* text) {
    RXSTRING a{length, const_cast<char*>(text)};
    a.strlength = _ExpatArgTextLength(a);
    return a;
}

// Macro-space mode with Regina (a note for the manual): Regina 3.6 has no macro space. Its
// macro-space functions (RexxAddMacro and the others) do nothing and answer 0, and RexxStart
// given an instore pair of two empty strings answers 0 and runs nothing. A handler set with the
// invocation type "macro" or "MACRO" is accepted (the setter answers "3"), and each of its
// events then runs nothing, prints nothing and writes no error line; the two events whose
// procedure answers Expat (ExternalEntityRef, NotStandalone) get no return code and so stop the
// parse. The mode is kept for interpreters that have a macro space.
enum class Mode { External, MacroSpace, Instore };

Mode modeOf(ULONG typeLength, const char* type) {
    RXSTRING t = textOf(typeLength, type);
    if (!t.strptr || t.strlength == 0) return Mode::External;
    if (_ExpatArgIs(t, "macro") || _ExpatArgIs(t, "MACRO")) return Mode::MacroSpace;
    if (_ExpatArgNumber(t) != 0) return Mode::Instore;
    return Mode::External;
}

void releaseBlocks(HandlerRecord* record) {
    if (InstorePair* pair = record->instore) {
        _ExpatFree(pair->source.strptr);
        _ExpatFree(pair->image.strptr);
        _ExpatFree(pair);
    }
    _ExpatFree(record->environment);
    _ExpatFree(record->procedure);
    _ExpatFree(record);
}

HandlerRecord* newRecord() {
    auto* record = static_cast<HandlerRecord*>(_ExpatAlloc(sizeof(HandlerRecord)));
    *record = HandlerRecord{nullptr, nullptr, nullptr, 0, 0, false};
    return record;
}

InstorePair* newPair() {
    auto* pair = static_cast<InstorePair*>(_ExpatAlloc(sizeof(InstorePair)));
    *pair = InstorePair{{0, nullptr}, {0, nullptr}};
    return pair;
}

} // namespace

void _ExpatReleaseHandler(HandlerRecord* record) {
    if (!record) return;
    if (record->running) {
        record->detached = true;
        return;
    }
    releaseBlocks(record);
}

int _ExpatFreeHandler(HandlerSlot& slot) {
    HandlerRecord* record = slot;
    slot = nullptr;
    _ExpatReleaseHandler(record);
    return 0;
}

int _ExpatSetHandler(HandlerSlot& slot, ULONG procedureLength, const char* procedure,
                     ULONG environmentLength, const char* environment, ULONG typeLength,
                     const char* type) {
    _ExpatFreeHandler(slot);
    HandlerRecord* record = newRecord();
    slot = record;
    switch (modeOf(typeLength, type)) {
    case Mode::External:
        record->procedure = _ExpatCopyText(procedure, procedureLength);
        break;
    case Mode::MacroSpace:
        record->procedure = _ExpatCopyText(procedure, procedureLength);
        record->instore = newPair();
        break;
    case Mode::Instore: {
        record->procedure = _ExpatCopyText("", 0);
        record->instore = newPair();
        std::size_t n = 0;
        record->instore->source.strptr = _ExpatCopyText(procedure, procedureLength, &n);
        record->instore->source.strlength = n;
        break;
    }
    }
    if (environment && environmentLength)
        record->environment = _ExpatCopyText(environment, environmentLength);
    return 3;
}

int _ExpatCopyHandler(const HandlerRecord* source, HandlerSlot& destination) {
    _ExpatFreeHandler(destination);
    if (!source) return 0;
    HandlerRecord* record = newRecord();
    destination = record;
    if (source->procedure)
        record->procedure = _ExpatCopyText(source->procedure, std::strlen(source->procedure));
    if (source->environment)
        record->environment = _ExpatCopyText(source->environment, std::strlen(source->environment));
    record->tokeniseError = source->tokeniseError;
    if (!source->instore) return 0;
    record->instore = newPair();
    const RXSTRING& src = source->instore->source;
    if (src.strptr) {
        std::size_t n = 0;
        record->instore->source.strptr = _ExpatCopyText(src.strptr, src.strlength, &n);
        record->instore->source.strlength = n;
    }
    // The tokenised image is binary: it is copied byte for byte by its length.
    const RXSTRING& image = source->instore->image;
    if (image.strptr) {
        record->instore->image.strptr = _ExpatCopyBytes(image.strptr, image.strlength);
        record->instore->image.strlength = image.strlength;
    }
    return 0;
}

namespace {

struct TokeniseJob {
    RXSTRING source;   // what is tokenised
    InstorePair* pair; // receives the image
    long code;
};

// Regina 3.6 ends the process (SIGSEGV, measured on every thread and at top level) when it
// tokenises in-store source without a single clause: nothing but blanks, line ends, semicolons,
// continuation commas and comments. Such a handler runs nothing, so the image of a lone NOP
// stands in for it. Anything this scan cannot place is left for the interpreter to judge.
bool holdsNoClause(const RXSTRING& source) {
    const char* s = source.strptr;
    const std::size_t n = source.strlength;
    auto at = [&](std::size_t i, char a, char b) {
        return i + 1 < n && s[i] == a && s[i + 1] == b;
    };
    std::size_t i = 0;
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

// Runs on a fresh thread: a parse-time error met by a nested RexxStart would end the whole
// process, while a thread of its own (with its own interpreter instance) gets an error code.
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
    _ExpatFree(result.strptr);
    if (tTokenised && instore[1].strptr) {
        job->pair->image = instore[1];
        job->code = 0;
    } else {
        _ExpatFree(instore[1].strptr);
        if (job->code == 0) job->code = -64; // nothing usable came back
    }
}

} // namespace

void _ExpatPrepareInstore(HandlerRecord* record) {
    InstorePair* pair = record->instore;
    if (!pair || !pair->source.strptr || pair->image.strptr || record->tokeniseError) return;
    static char standIn[] = "nop";
    TokeniseJob job{pair->source, pair, 0};
    if (holdsNoClause(pair->source)) job.source = RXSTRING{sizeof standIn - 1, standIn};
    // Without a thread the interpreter tokenises the source itself when it runs it (which a
    // source without clauses does not survive).
    if (_ExpatRunOnFreshThread(tokenise, &job) && job.code != 0) record->tokeniseError = job.code;
}
