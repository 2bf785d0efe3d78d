#include "handler.h"

#include "../package/package.h"
#include "../parser/record.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

int _ExpatMakeArgList(std::uint32_t count, ArgList& list, const char* const* values) {
    if (_ExpatFreeArgList(count, list) != 0) _ExpatReportFreeFailure();
    list = _ExpatAllocArray<RXSTRING>(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!values[i]) {
            list[i] = RXSTRING{0, nullptr};
            continue;
        }
        std::size_t n = std::strlen(values[i]);
        list[i] = _ExpatRx(n, _ExpatCopyBytes(values[i], n));
    }
    return 3;
}

int _ExpatInsert2ArgList(ArgList& list, int index, const char* text, int length) {
    if (!list) return 0;
    _ExpatFree(list[index].strptr);
    std::size_t n = length > 0 ? static_cast<std::size_t>(length) : 0;
    list[index] = _ExpatRx(n, _ExpatCopyBytes(text, n));
    return 3;
}

int _ExpatFreeArgList(std::uint32_t count, ArgList& list) {
    if (list) {
        for (std::uint32_t i = 0; i < count; ++i) _ExpatFree(list[i].strptr);
        _ExpatFree(list);
    }
    list = nullptr;
    return 0;
}

namespace {

// Regina's RexxStart takes at most this many arguments.
constexpr std::uint32_t kMaxRexxArgs = 32;
constexpr const char* kAttributeExit = "QuillmarkAttributes";

// The list the initialisation exit hands to the procedure that is about to start. Each
// RexxStart that names the exit sets it just before the call; nested calls save and restore.
struct StemList {
    const char* const* values;
    std::uint32_t count;
};
thread_local const StemList* tPendingStem = nullptr;

// Runs before the procedure's first instruction, with its variable pool available: sets
// ATTRIBUTE.0 to the number of entries and ATTRIBUTE.1 ... ATTRIBUTE.n to the entries.
LONG APIENTRY attributeInitExit(LONG function, LONG subfunction, PEXIT) {
    if (function != RXINI || subfunction != RXINIEXT || !tPendingStem) return RXEXIT_NOT_HANDLED;
    const StemList& stem = *tPendingStem;
    tPendingStem = nullptr;
    const std::uint32_t blocks = stem.count + 1;
    constexpr std::size_t kNameSize = sizeof "ATTRIBUTE.4294967295";
    auto* chain = _ExpatAllocArray<SHVBLOCK>(blocks);
    auto* names = _ExpatAllocArray<char>(blocks * kNameSize);
    char countText[16];
    int countLength = std::snprintf(countText, sizeof countText, "%u", stem.count);
    for (std::uint32_t i = 0; i < blocks; ++i) {
        char* name = names + i * kNameSize;
        int n = std::snprintf(name, kNameSize, "ATTRIBUTE.%u", i);
        SHVBLOCK& b = chain[i];
        std::memset(&b, 0, sizeof b);
        b.shvnext = i + 1 < blocks ? &chain[i + 1] : nullptr;
        b.shvname = _ExpatRx(static_cast<std::size_t>(n), name);
        b.shvnamelen = static_cast<ULONG>(n);
        const char* value = i == 0 ? countText : stem.values[i - 1];
        std::size_t length = i == 0 ? static_cast<std::size_t>(countLength) : std::strlen(value);
        b.shvvalue = _ExpatRx(length, const_cast<char*>(value));
        b.shvvaluelen = length;
        b.shvcode = RXSHV_SET;
    }
    RexxVariablePool(chain);
    _ExpatFree(names);
    _ExpatFree(chain);
    return RXEXIT_HANDLED;
}

// Exit registrations, like function registrations, belong to the thread's interpreter.
void registerAttributeExit() {
    thread_local bool registered = false;
    if (registered) return;
    RexxRegisterExitExe(kAttributeExit, attributeInitExit, nullptr);
    registered = true;
}

// RexxStart takes the pair as an array of two RXSTRINGs.
static_assert(sizeof(InstorePair) == 2 * sizeof(RXSTRING) &&
              offsetof(InstorePair, image) == sizeof(RXSTRING));
PRXSTRING instoreArgument(InstorePair* pair) {
    return reinterpret_cast<PRXSTRING>(pair);
}

void reportFailedRun(long code) {
    std::fprintf(stderr, "Quillmark (Error %d): %s\n", static_cast<int>(code),
                 code < 0 ? "rexx interpreter error" : "can't find/load Interpreter");
    std::fflush(stderr);
}

} // namespace

EventOutcome _ExpatRunEvent(ParserRecord* record, const EventCall& call, ResultReader reader,
                            void* readerContext) {
    HandlerRecord* handler = record->slots[call.kind];
    if (!handler) return EventOutcome{false, 0, 0};
    _ExpatPrepareInstore(handler);

    char handle[kHandleTextSize];
    _ExpatHandleText(record, handle);
    const std::uint32_t total = call.count + 1;
    const std::uint32_t passed = total < kMaxRexxArgs ? total : kMaxRexxArgs;
    const char* values[kMaxRexxArgs];
    values[0] = handle;
    for (std::uint32_t i = 1; i < passed; ++i) values[i] = call.values[i - 1];
    ArgList list = nullptr;
    _ExpatMakeArgList(passed, list, values);
    for (std::uint32_t i = 0; i < call.countedCount; ++i) {
        const CountedText& c = call.counted[i];
        if (_ExpatInsert2ArgList(list, c.index, c.text, c.length) == 0) _ExpatOutOfMemory();
    }

    EventOutcome outcome{true, 0, 0};
    if (handler->tokeniseError) {
        outcome.rexxCode = handler->tokeniseError;
        reportFailedRun(outcome.rexxCode);
        if (reader) reader(RXSTRING{0, nullptr}, false, readerContext);
    } else {
        // Only a start tag with more attributes than RexxStart takes arguments for gets the
        // whole list through the exit: every other call is made without exits.
        RXSYSEXIT exits[2] = {{const_cast<char*>(kAttributeExit), RXINI}, {nullptr, RXENDLST}};
        const bool overflow = total > kMaxRexxArgs;
        StemList stem{nullptr, 0};
        const StemList* savedStem = tPendingStem;
        if (overflow) {
            registerAttributeExit();
            stem = StemList{call.values + 1, call.count - 1};
            tPendingStem = &stem;
        }

        char* preset = static_cast<char*>(_ExpatAlloc(RXAUTOBUFLEN));
        RXSTRING result{RXAUTOBUFLEN, preset};
        ++handler->running;
        outcome.rexxCode = static_cast<LONG>(
            RexxStart(static_cast<LONG>(passed), list, handler->procedure,
                      instoreArgument(handler->instore), handler->environment, RXSUBROUTINE,
                      overflow ? exits : nullptr, &outcome.returnCode, &result));
        --handler->running;
        tPendingStem = savedStem;

        const bool clean = outcome.rexxCode == 0;
        if (!clean) reportFailedRun(outcome.rexxCode);
        // After a failed run the result is whatever the interpreter left: it is not read.
        if (call.passMarkup && clean && result.strptr && result.strlength)
            XML_DefaultCurrent(record->parser);
        if (reader) reader(clean ? result : RXSTRING{0, nullptr}, clean, readerContext);
        if (result.strptr && result.strptr != preset) _ExpatFree(result.strptr);
        _ExpatFree(preset);
    }
    _ExpatFreeArgList(passed, list);
    if (handler->detached && !handler->running) _ExpatReleaseHandler(handler);
    return outcome;
}

int _ExpatEventAnswer(const EventOutcome& outcome) {
    return outcome.ran && outcome.rexxCode == 0 ? outcome.returnCode : 0;
}
