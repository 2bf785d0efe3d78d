// Making, freeing and feeding parsers.
#include "record.h"

#include "../handlers/encoding.h"
#include "../package/package.h"
#include "../varpool/varpool.h"

#include <cstring>

namespace {

ParserRecord* newRecord(XML_Parser parser, ParserRecord* parent) {
    auto* record = static_cast<ParserRecord*>(_ExpatAlloc(sizeof(ParserRecord)));
    record->parser = parser;
    for (auto& entry : record->encodingMap) entry = 0;
    for (auto& slot : record->slots) slot = nullptr;
    record->poolChain = nullptr;
    record->parent = parent;
    record->liveChildren = 0;
    record->busy = 0;
    record->freeing = false;
    return record;
}

// Hands out a record for a parser Expat made, or "0" when it made none.
void publish(ParserRecord* record, PRXSTRING result) {
    XML_SetUserData(record->parser, record);
    _ExpatAddLiveRecord(record);
    _ExpatResultHandle(result, record);
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

// Forms: () or (omitted): plain; (encoding): plain with an encoding; (encoding, omitted): the
// same; (encoding, separator): namespace-aware, the separator's first character. A separator
// whose first character is NUL is refused: Expat would fuse the URI and the local name.
QM_EXPORT APIRET APIENTRY ExpatParserCreate(PCSZ, ULONG argc, PRXSTRING argv, PCSZ,
                                            PRXSTRING result) {
    RXSTRING encoding = _ExpatArg(argc, argv, 1);
    RXSTRING separator = _ExpatArg(argc, argv, 2);
    bool namespaces = false;
    if (argc == 0 || (argc == 1 && !_ExpatGiven(encoding))) {
    } else if (argc == 1 && _ExpatNonEmpty(encoding)) {
    } else if (argc == 2 && _ExpatNonEmpty(encoding) && !_ExpatGiven(separator)) {
    } else if (argc == 2 && _ExpatNonEmpty(encoding) && _ExpatNonEmpty(separator) &&
               separator.strptr[0] != '\0') {
        namespaces = true;
    } else {
        return kInvalidCall;
    }
    ArgText name(encoding);
    XML_Parser parser = namespaces ? XML_ParserCreateNS(name.text, separator.strptr[0])
                                   : XML_ParserCreate(name.text);
    if (!parser) {
        _ExpatResultCString(result, "0");
        return kValidCall;
    }
    publish(newRecord(parser, nullptr), result);
    return kValidCall;
}

// The same function under its second name: the argument form, not the name, decides.
QM_EXPORT APIRET APIENTRY ExpatParserCreateNS(PCSZ name, ULONG argc, PRXSTRING argv, PCSZ queue,
                                              PRXSTRING result) {
    return ExpatParserCreate(name, argc, argv, queue, result);
}

// The child gets deep copies of the parent's handler records and of its variable-pool chain,
// and registers its own unknown-encoding data. An empty encoding means no override.
QM_EXPORT APIRET APIENTRY ExpatExternalEntityParserCreate(PCSZ, ULONG argc, PRXSTRING argv, PCSZ,
                                                          PRXSTRING result) {
    if (!_ExpatArgsValid(argc, argv, 3, {ArgTest::NonEmpty, ArgTest::Given, ArgTest::Given}))
        return kInvalidCall;
    ParserRecord* parent = _ExpatRecordFromArg(argv[0]);
    if (!parent) return kInvalidCall;
    ArgText context(argv[1]);
    ArgText encoding(argv[2]);
    XML_Parser parser = XML_ExternalEntityParserCreate(parent->parser, context.text,
                                                       argv[2].strlength ? encoding.text : nullptr);
    if (!parser) {
        _ExpatResultCString(result, "0");
        return kValidCall;
    }
    ParserRecord* child = newRecord(parser, parent);
    for (int kind = 0; kind < kHandlerKinds; ++kind)
        _ExpatCopyHandler(parent->slots[kind], child->slots[kind]);
    _ExpatCopyVariablePool(parent->poolChain, &child->poolChain);
    _ExpatRegisterUnknownEncoding(child);
    ++parent->liveChildren;
    publish(child, result);
    return kValidCall;
}

// Refused (40) while the parser is busy in Expat (from one of its own handler procedures) or
// while external-entity parsers made from it are alive: Expat would use freed memory.
QM_EXPORT APIRET APIENTRY ExpatParserFree(PCSZ, ULONG argc, PRXSTRING argv, PCSZ,
                                          PRXSTRING result) {
    if (!_ExpatArgsValid(argc, argv, 1, {ArgTest::NonEmpty})) return kInvalidCall;
    ParserRecord* record = _ExpatRecordFromArg(argv[0]);
    if (!record || record->busy || record->liveChildren) return kInvalidCall;
    // Expat may run the unknown-encoding release procedure while it frees the parser; the
    // record stays live for that, but answers no calls.
    record->freeing = true;
    {
        Busy busy(record);
        XML_ParserFree(record->parser);
    }
    _ExpatRemoveLiveRecord(record);
    for (auto& slot : record->slots) _ExpatFreeHandler(slot);
    _ExpatFreeRexxVariablePool(&record->poolChain);
    if (record->parent) --record->parent->liveChildren;
    _ExpatFree(record);
    _ExpatResultEmpty(result);
    return kValidCall;
}

// The piece is copied once, into Expat's own buffer. Argument 3 omitted, empty or 0 makes it
// the last piece.
QM_EXPORT APIRET APIENTRY ExpatParse(PCSZ, ULONG argc, PRXSTRING argv, PCSZ, PRXSTRING result) {
    if (!_ExpatArgsValid(argc, argv, 3, {ArgTest::NonEmpty, ArgTest::Given, ArgTest::Any}))
        return kInvalidCall;
    ParserRecord* record = _ExpatRecordFromArg(argv[0]);
    if (!record || record->busy) return kInvalidCall;
    const bool last = !_ExpatNonEmpty(argv[2]) || _ExpatArgNumber(argv[2]) == 0;
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
            if (XML_GetErrorCode(record->parser) == XML_ERROR_NO_MEMORY) _ExpatOutOfMemory();
            status = XML_STATUS_ERROR;
            break;
        }
        std::memcpy(buffer, text, static_cast<std::size_t>(n));
        text += n;
        left -= static_cast<std::size_t>(n);
        status = XML_ParseBuffer(record->parser, n, last && left == 0);
    }
    _ExpatResultInteger(result, status);
    return kValidCall;
}
