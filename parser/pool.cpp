// The variable-pool functions: a parser's chain of requests, captured from one program and
// assigned in another.
#include "record.h"

#include "../package/functions.h"
#include "../varpool/chain.h"

using namespace quillmark;

// With the handle alone: the chain is released and rebuilt with every variable of the calling
// program. With names: one fetch request is appended per given, non-empty name. Answers the OR
// of what the interpreter answered ("0" when nothing was asked).
QUILLMARK_ENTRY(ExpatSetVariablePool) {
    ParserRecord* record = parserArgument(argc, argv, kAnyCount);
    if (!record) return kInvalidCall;
    ULONG code = argc == 1 ? captureAll(&record->poolChain)
                           : captureNames(&record->poolChain, argv + 1, argc - 1);
    writeInteger(result, code);
    return kValidCall;
}

QUILLMARK_ENTRY(ExpatGetVariablePool) {
    ParserRecord* record = parserArgument(argc, argv, 1);
    if (!record) return kInvalidCall;
    writeInteger(result, assignChain(record->poolChain));
    return kValidCall;
}

QUILLMARK_ENTRY(ExpatFreeVariablePool) {
    ParserRecord* record = parserArgument(argc, argv, 1);
    if (!record) return kInvalidCall;
    freeChain(&record->poolChain);
    writeResult(result, "0");
    return kValidCall;
}
