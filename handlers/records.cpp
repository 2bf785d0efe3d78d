#include "handler.h"

#include "../parser/record.h"

#include <cstring>

namespace quillmark {

namespace {

// Macro-space mode with Regina: Regina 3.6 has no macro space. Its macro-space functions do
// nothing and answer 0, and RexxStart given an instore pair of two empty strings answers 0 and
// runs nothing. The mode is kept for interpreters that have a macro space.
Mode modeOf(const RXSTRING& type) {
    if (textLength(type) == 0) return Mode::External;
    if (argumentIs(type, "macro") || argumentIs(type, "MACRO")) return Mode::MacroSpace;
    if (argumentIs(type, "internal") || argumentIs(type, "INTERNAL")) return Mode::Label;
    if (argumentNumber(type) != 0) return Mode::Instore;
    return Mode::External;
}

// Regina 3.6 ends the process (SIGSEGV, on every thread and at top level) when it tokenises
// in-store source without a single clause: nothing but blanks, line ends, semicolons,
// continuation commas and comments, after a first line that starts with #! (which Regina
// skips up to its line end). Such a procedure runs nothing. Anything this scan cannot place is
// left for the interpreter to judge.
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

HandlerRecord* newRecord(Mode mode) {
    auto* record = static_cast<HandlerRecord*>(allocate(sizeof(HandlerRecord)));
    *record = HandlerRecord{nullptr, nullptr, nullptr, mode, false, 0, 0, 0, false};
    return record;
}

InstorePair* newPair() {
    auto* pair = static_cast<InstorePair*>(allocate(sizeof(InstorePair)));
    *pair = InstorePair{{0, nullptr}, {0, nullptr}};
    return pair;
}

void releaseBlocks(HandlerRecord* record) {
    if (InstorePair* pair = record->instore) {
        release(pair->source.strptr);
        release(pair->image.strptr);
        release(pair);
    }
    release(record->environment);
    release(record->procedure);
    release(record);
}

HandlerRecord* copyRecord(const HandlerRecord& source) {
    HandlerRecord* record = newRecord(source.mode);
    record->empty = source.empty;
    if (source.procedure)
        record->procedure = copyText(source.procedure, std::strlen(source.procedure));
    if (source.environment)
        record->environment = copyText(source.environment, std::strlen(source.environment));
    if (!source.instore) return record;
    record->instore = newPair();
    const RXSTRING& text = source.instore->source;
    if (text.strptr) {
        std::size_t n = 0;
        record->instore->source.strptr = copyText(text.strptr, text.strlength, &n);
        record->instore->source.strlength = static_cast<ULONG>(n);
    }
    // The tokenised image is binary: it is copied byte for byte by its length.
    const RXSTRING& image = source.instore->image;
    if (image.strptr) {
        record->instore->image.strptr = copyBytes(image.strptr, image.strlength);
        record->instore->image.strlength = image.strlength;
    }
    return record;
}

} // namespace

HandlerRecord*& slotOf(ParserRecord* record, Kind kind) {
    return record->handlers->slots[static_cast<int>(kind)];
}

void letGo(HandlerRecord* record) {
    if (!record) return;
    if (record->running)
        record->detached = true;
    else
        releaseBlocks(record);
}

void clearHandler(HandlerRecord*& slot) {
    HandlerRecord* record = slot;
    slot = nullptr;
    letGo(record);
}

void setHandler(HandlerRecord*& slot, const RXSTRING& procedure, const RXSTRING& environment,
                const RXSTRING& type) {
    clearHandler(slot);
    const Mode mode = modeOf(type);
    HandlerRecord* record = newRecord(mode);
    slot = record;
    if (mode == Mode::Instore) {
        record->procedure = copyText("", 0);
        record->instore = newPair();
        std::size_t n = 0;
        record->instore->source.strptr = copyText(procedure.strptr, procedure.strlength, &n);
        record->instore->source.strlength = static_cast<ULONG>(n);
        record->empty = holdsNoClause(record->instore->source);
    } else {
        record->procedure = copyText(procedure.strptr, procedure.strlength);
        if (mode == Mode::MacroSpace) record->instore = newPair();
    }
    if (nonEmpty(environment))
        record->environment = copyText(environment.strptr, environment.strlength);
}

HandlerTable* newHandlerTable() {
    auto* table = static_cast<HandlerTable*>(allocate(sizeof(HandlerTable)));
    for (auto& slot : table->slots) slot = nullptr;
    for (auto& entry : table->encodingMap) entry = 0;
    return table;
}

void freeHandlerTable(HandlerTable* table) {
    for (auto& slot : table->slots) clearHandler(slot);
    release(table);
}

void copyHandlerTable(const HandlerTable& from, HandlerTable& to) {
    for (int kind = 0; kind < kKinds; ++kind) {
        clearHandler(to.slots[kind]);
        if (from.slots[kind]) to.slots[kind] = copyRecord(*from.slots[kind]);
    }
}

} // namespace quillmark
