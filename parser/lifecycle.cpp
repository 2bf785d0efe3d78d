// Making, freeing and feeding parsers.
#include "record.h"

#include "../handlers/handler.h"
#include "../package/functions.h"
#include "../varpool/chain.h"

#include <atomic>
#include <cstring>

namespace quillmark {

ParserRecord* parserArgument(ULONG argc, const RXSTRING* argv, ULONG count,
                             std::initializer_list<ArgTest> after) {
    // Handlers run inside these calls: the package must outlive a handler that drops it.
    keepLoaded();
    if (count == kAnyCount ? argc < 1 : argc != count) return nullptr;
    ULONG n = 2;
    for (ArgTest test : after) {
        RXSTRING a = argument(argc, argv, n++);
        if ((test == ArgTest::Given && !given(a)) || (test == ArgTest::NonEmpty && !nonEmpty(a)))
            return nullptr;
    }
    auto* record = static_cast<ParserRecord*>(objectOf(readHandle(argv[0])));
    return record && !record->freeing ? record : nullptr;
}

namespace {

// Hands out a record for the parser Expat made, or "0" when it made none.
APIRET publish(XML_Parser parser, ParserRecord* parent, PRXSTRING result) {
    if (!parser) {
        writeResult(result, "0");
        return kValidCall;
    }
    auto* record = static_cast<ParserRecord*>(allocate(sizeof(ParserRecord)));
    *record = ParserRecord{};
    record->parser = parser;
    record->handlers = newHandlerTable();
    record->parent = parent;
    record->handle = registerObject(record);
    handleText(record->handle, record->handleText);
    record->handleLength = std::strlen(record->handleText);
    XML_SetUserData(parser, record);
    if (parent) {
        copyHandlerTable(*parent->handlers, *record->handlers);
        copyChain(parent->poolChain, &record->poolChain);
        registerInheritedCallbacks(record);
        ++parent->liveChildren;
    }
    writeHandle(result, record->handle);
    return kValidCall;
}

} // namespace

EventPlace placeNow(ParserRecord* record, bool startTag) {
    XML_Parser parser = record->parser;
    EventPlace place{XML_GetCurrentByteIndex(parser),
                     XML_GetCurrentByteCount(parser),
                     0,
                     0,
                     startTag ? XML_GetSpecifiedAttributeCount(parser) : 0,
                     startTag ? XML_GetIdAttributeIndex(parser) : -1};
    const EventPlace& last = record->lastPlace;
    if (last.line && place.byteIndex == last.byteIndex) {
        place.line = last.line;
        place.column = last.column;
    } else {
        place.line = XML_GetCurrentLineNumber(parser);
        place.column = XML_GetCurrentColumnNumber(parser);
    }
    record->lastPlace = place;
    return place;
}

namespace {
std::atomic<std::uint64_t> frees{0};
} // namespace

std::uint64_t parsersFreed() {
    return frees.load(std::memory_order_acquire);
}

bool stillLive(const ParserRecord* record, Handle handle, std::uint64_t freesBefore) {
    return parsersFreed() == freesBefore || objectOf(handle) == record;
}

void releaseParser(ParserRecord* record) {
    frees.fetch_add(1, std::memory_order_release);
    // Expat may run the unknown-encoding release procedure while it frees the parser; the
    // record stays live for that, but answers no calls.
    record->freeing = true;
    XML_ParserFree(record->parser);
    unregisterObject(record->handle);
    freeHandlerTable(record->handlers);
    freePendingEvents(record->pending);
    freeChain(&record->poolChain);
    if (record->parent) --record->parent->liveChildren;
    release(record);
}
} // namespace quillmark

using namespace quillmark;

// Forms: () or (omitted): plain; (encoding): plain with an encoding; (encoding, omitted): the
// same; (encoding, separator): namespace-aware, the separator's first character, where an
// empty or omitted encoding means none. A separator whose first character is NUL is refused:
// Expat would fuse the URI and the local name.
QUILLMARK_ENTRY(ExpatParserCreate) {
    RXSTRING encoding = argument(argc, argv, 1);
    RXSTRING separator = argument(argc, argv, 2);
    bool namespaces = false;
    if (argc == 0 || (argc == 1 && !given(encoding))) {
    } else if (argc == 1 && nonEmpty(encoding)) {
    } else if (argc == 2 && nonEmpty(encoding) && !given(separator)) {
    } else if (argc == 2 && nonEmpty(separator) && separator.strptr[0] != '\0') {
        namespaces = true;
    } else {
        return kInvalidCall;
    }
    ArgText name(encoding);
    return publish(namespaces ? XML_ParserCreateNS(name.nonEmptyText(), separator.strptr[0])
                              : XML_ParserCreate(name.text),
                   nullptr, result);
}

// The same function under its second name: the argument form, not the name, decides.
QUILLMARK_ENTRY(ExpatParserCreateNS) {
    return ExpatParserCreate(called, argc, argv, queue, result);
}

// The child gets deep copies of the parent's handler records and of its variable-pool chain,
// and registers its own unknown-encoding data. An empty encoding means no override.
QUILLMARK_ENTRY(ExpatExternalEntityParserCreate) {
    ParserRecord* parent = parserArgument(argc, argv, 3, {ArgTest::Given, ArgTest::Given});
    if (!parent) return kInvalidCall;
    ArgText context(argv[1]);
    ArgText encoding(argv[2]);
    return publish(
        XML_ExternalEntityParserCreate(parent->parser, context.text, encoding.nonEmptyText()),
        parent, result);
}

// Refused while external-entity parsers made from it are alive (Expat would use freed memory),
// and from inside one of its procedures that are programs of their own. From inside one of its
// labels the parser is freed at once (Expat is suspended then), except while Expat waits for
// the label's answer: it is freed when Expat returns, and its handle names nothing from now.
QUILLMARK_ENTRY(ExpatParserFree) {
    ParserRecord* record = parserArgument(argc, argv, 1);
    if (!record || record->liveChildren || record->procedures) return kInvalidCall;
    if (record->phase == Phase::Parsing && !record->answering) return kInvalidCall;
    if (record->phase == Phase::Parsing) {
        record->freeRequested = true;
        frees.fetch_add(1, std::memory_order_release);
        unregisterObject(record->handle);
    } else {
        CallerQueue callers(queue);
        releaseParser(record);
    }
    writeResult(result, "");
    return kValidCall;
}

// The piece is copied once, into Expat's own buffer. Argument 3 omitted, empty or 0 makes it
// the last piece.
QUILLMARK_ENTRY(ExpatParse) {
    ParserRecord* record = parserArgument(argc, argv, 3, {ArgTest::Given, ArgTest::Any});
    if (!record) return kInvalidCall;
    const bool last = !nonEmpty(argv[2]) || argumentNumber(argv[2]) == 0;
    CallerQueue callers(queue);
    int status = feedParser(record, argv[1].strptr, argv[1].strlength, last);
    if (status == kRefused) return kInvalidCall;
    writeInteger(result, status);
    return kValidCall;
}
