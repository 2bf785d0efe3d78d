// The handler-setting functions, one for each setter of the event table: each fills or empties
// its slots from its handler groups and tells Expat.
#include "handler.h"

#include "../package/functions.h"
#include "../parser/record.h"

namespace quillmark {
namespace {

#define QUILLMARK_GROUP(kind, setter, group, install, shape, result) group,
constexpr int kGroups[kKinds] = {QUILLMARK_EVENTS(QUILLMARK_GROUP)};
#undef QUILLMARK_GROUP

constexpr bool hasSecondSlot(Kind first) {
    int next = static_cast<int>(first) + 1;
    return next < kKinds && kGroups[next] == 2;
}

// Fills the slot from the handler group that starts at argument `first`, or empties it when
// the group names no procedure. Answers whether the slot now holds a record.
bool applyGroup(HandlerRecord*& slot, ULONG argc, const RXSTRING* argv, ULONG first) {
    RXSTRING procedure = argument(argc, argv, first);
    if (!nonEmpty(procedure)) {
        clearHandler(slot);
        return false;
    }
    setHandler(slot, procedure, argument(argc, argv, first + 1), argument(argc, argv, first + 2));
    return true;
}

// "3" when the last slot the call touched was filled, "0" when it was emptied. An emptied first
// slot of a two-slot setter ends the call: the second slot and Expat's registration stay.
APIRET runSetter(Kind first, ULONG argc, const RXSTRING* argv, PRXSTRING result) {
    ParserRecord* record = parserArgument(argc, argv, kAnyCount);
    if (!record) return kInvalidCall;
    bool filled = applyGroup(slotOf(record, first), argc, argv, 2);
    if (hasSecondSlot(first)) {
        if (!filled) {
            writeResult(result, "0");
            return kValidCall;
        }
        filled = applyGroup(slotOf(record, static_cast<Kind>(static_cast<int>(first) + 1)), argc,
                            argv, 5);
    }
    installCallbacks(record, first);
    writeResult(result, filled ? "3" : "0");
    return kValidCall;
}

} // namespace
} // namespace quillmark

using namespace quillmark;

#define QUILLMARK_SETTER_1(kind, setter)                                                           \
    QUILLMARK_ENTRY(ExpatSet##setter) {                                                            \
        return runSetter(Kind::kind, argc, argv, result);                                          \
    }
#define QUILLMARK_SETTER_2(kind, setter)
#define QUILLMARK_SETTER(kind, setter, group, install, shape, result)                              \
    QUILLMARK_SETTER_##group(kind, setter)
QUILLMARK_EVENTS(QUILLMARK_SETTER)
