// Making, freeing and feeding parsers.
#include "record.h"

#include "../handlers/handler.h"
#include "../package/functions.h"
#include "../varpool/chain.h"

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
    *record = ParserRecord{parser, 0, newHandlerTable(), nullptr, parent, 0, 0, false, false};
    record->handle = registerObject(record);
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

// Raised around every Expat call that may run handlers, so that a handler procedure cannot
// feed or free the parser it is handling.
struct Busy {
    ParserRecord* record;
    explicit Busy(ParserRecord* r) : record(r) { ++record->busy; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
    ~Busy() { --record->busy; }
};

} // namespace
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

// Refused while the parser is busy in Expat (from one of its own handler procedures) or while
// external-entity parsers made from it are alive: Expat would use freed memory.
QUILLMARK_ENTRY(ExpatParserFree) {
    ParserRecord* record = parserArgument(argc, argv, 1);
    if (!record || record->busy || record->liveChildren) return kInvalidCall;
    // Expat may run the unknown-encoding release procedure while it frees the parser; the
    // record stays live for that, but answers no calls.
    record->freeing = true;
    {
        Busy busy(record);
        XML_ParserFree(record->parser);
    }
    unregisterObject(record->handle);
    freeHandlerTable(record->handlers);
    freeChain(&record->poolChain);
    if (record->parent) --record->parent->liveChildren;
    release(record);
    writeResult(result, "");
    return kValidCall;
}

// The piece is copied once, into Expat's own buffer. Argument 3 omitted, empty or 0 makes it
// the last piece.
QUILLMARK_ENTRY(ExpatParse) {
    ParserRecord* record = parserArgument(argc, argv, 3, {ArgTest::Given, ArgTest::Any});
    if (!record || record->busy) return kInvalidCall;
    const bool last = !nonEmpty(argv[2]) || argumentNumber(argv[2]) == 0;
    Busy busy(record);
    const char* text = argv[1].strptr;
    std::size_t left = argv[1].strlength;
    enum XML_Status status = XML_STATUS_OK;
    if (left == 0) status = XML_Parse(record->parser, "", 0, last);
    // Expat takes int lengths: a larger piece goes in parts, the last of them final.
    constexpr std::size_t kLargest = std::size_t{1} << 30;
    while (left > 0 && status == XML_STATUS_OK) {
        int n = static_cast<int>(left < kLargest ? left : kLargest);
        void* buffer = XML_GetBuffer(record->parser, n);
        if (!buffer) {
            // Out of memory only when Expat says so; otherwise (a piece after the last one) the
            // error stays with the parser for ExpatGetErrorCode.
            if (XML_GetErrorCode(record->parser) == XML_ERROR_NO_MEMORY) outOfMemory();
            status = XML_STATUS_ERROR;
            break;
        }
        std::memcpy(buffer, text, static_cast<std::size_t>(n));
        text += n;
        left -= static_cast<std::size_t>(n);
        status = XML_ParseBuffer(record->parser, n, last && left == 0);
    }
    writeInteger(result, status);
    return kValidCall;
}
