#include "varpool.h"

#include "../package/package.h"
#include "../parser/record.h"

#include <cstring>

namespace {

// A request of the chain. The SHVBLOCK comes first, so the chain links SHVBLOCKs as the
// interpreter expects and each block is also its request.
struct PoolRequest {
    SHVBLOCK block;
    // The variable had no value when it was fetched (the interpreter then gives its name as
    // the value): it arrives dropped, not set to its own name.
    bool unset;
    // The interpreter refused the name when it was fetched, so no value was captured: the
    // assignment is left to fail the same way rather than drop or blank a variable.
    bool rejected;
};

PoolRequest* requestOf(SHVBLOCK* block) {
    return reinterpret_cast<PoolRequest*>(block);
}

PoolRequest* newRequest(unsigned char code) {
    auto* request = static_cast<PoolRequest*>(_ExpatAlloc(sizeof(PoolRequest)));
    std::memset(request, 0, sizeof *request);
    request->block.shvcode = code;
    return request;
}

SHVBLOCK** tailOf(SHVBLOCK** head) {
    while (*head) head = &(*head)->shvnext;
    return head;
}

// A stem is a name whose only dot is its last character; A.B. is a compound variable (tail
// "B.") and must not be assigned ahead of the stem A. that would reset it.
bool isStem(const SHVBLOCK& b) {
    const char* name = b.shvname.strptr;
    const std::size_t length = b.shvname.strlength;
    if (!name || !length) return false;
    return std::memchr(name, '.', length) == name + length - 1;
}

ULONG poolCall(SHVBLOCK& b) {
    b.shvnext = nullptr;
    return RexxVariablePool(&b);
}

// The interpreter refuses a direct name whose tail has characters a symbol may not hold
// (xml:lang, a b, a NUL). Such a variable is assigned symbolically, STEM.T with T holding the
// tail; T is a program variable that is saved first and restored (or dropped) afterwards.
void assignThroughTail(SHVBLOCK& b) {
    static constexpr char kTemp[] = "QUILLMARK_TAIL_";
    constexpr std::size_t kTempLength = sizeof kTemp - 1;
    const char* name = b.shvname.strptr;
    const std::size_t length = b.shvname.strlength;
    const void* dot = std::memchr(name, '.', length);
    if (!dot) return;
    const std::size_t stemLength =
        static_cast<std::size_t>(static_cast<const char*>(dot) - name) + 1;
    if (stemLength == length) return;

    SHVBLOCK saved{};
    saved.shvname = _ExpatRx(kTempLength, const_cast<char*>(kTemp));
    saved.shvnamelen = kTempLength;
    saved.shvcode = RXSHV_FETCH;
    poolCall(saved);
    const bool existed = !(saved.shvret & (RXSHV_NEWV | RXSHV_BADN)) && saved.shvvalue.strptr;

    SHVBLOCK tail{};
    tail.shvname = saved.shvname;
    tail.shvnamelen = kTempLength;
    tail.shvvalue = _ExpatRx(length - stemLength, const_cast<char*>(name + stemLength));
    tail.shvvaluelen = tail.shvvalue.strlength;
    tail.shvcode = RXSHV_SET;
    poolCall(tail);

    char* symbolic = static_cast<char*>(_ExpatAlloc(stemLength + kTempLength + 1));
    std::memcpy(symbolic, name, stemLength);
    std::memcpy(symbolic + stemLength, kTemp, kTempLength + 1);
    SHVBLOCK assign = b;
    assign.shvname = _ExpatRx(stemLength + kTempLength, symbolic);
    assign.shvnamelen = assign.shvname.strlength;
    assign.shvcode = b.shvcode == RXSHV_DROPV ? RXSHV_SYDRO : RXSHV_SYSET;
    poolCall(assign);
    _ExpatFree(symbolic);

    SHVBLOCK restore{};
    restore.shvname = saved.shvname;
    restore.shvnamelen = kTempLength;
    if (existed) {
        restore.shvvalue = saved.shvvalue;
        restore.shvvaluelen = saved.shvvalue.strlength;
        restore.shvcode = RXSHV_SET;
    } else {
        restore.shvcode = RXSHV_DROPV;
    }
    poolCall(restore);
    _ExpatFree(saved.shvvalue.strptr);
    b.shvret = assign.shvret;
}

ParserRecord* recordFor(ULONG argc, const RXSTRING* argv, ULONG minimum, ULONG maximum) {
    if (argc < minimum || argc > maximum || !_ExpatNonEmpty(argv[0])) return nullptr;
    return _ExpatRecordFromArg(argv[0]);
}

} // namespace

int _ExpatFreeRexxVariablePool(SHVBLOCK** head) {
    SHVBLOCK* block = *head;
    while (block) {
        SHVBLOCK* next = block->shvnext;
        _ExpatFree(block->shvname.strptr);
        _ExpatFree(block->shvvalue.strptr);
        _ExpatFree(requestOf(block));
        block = next;
    }
    *head = nullptr;
    return 0;
}

void _ExpatCopyVariablePool(const SHVBLOCK* source, SHVBLOCK** destination) {
    _ExpatFreeRexxVariablePool(destination);
    SHVBLOCK** link = destination;
    for (; source; source = source->shvnext) {
        const auto* from = reinterpret_cast<const PoolRequest*>(source);
        PoolRequest* copy = newRequest(source->shvcode);
        *copy = *from;
        copy->block.shvnext = nullptr;
        if (source->shvname.strptr)
            copy->block.shvname.strptr =
                _ExpatCopyBytes(source->shvname.strptr, source->shvname.strlength);
        if (source->shvvalue.strptr)
            copy->block.shvvalue.strptr =
                _ExpatCopyBytes(source->shvvalue.strptr, source->shvvalue.strlength);
        *link = &copy->block;
        link = &copy->block.shvnext;
    }
}

// With the handle alone: the chain is released and rebuilt with every variable of the calling
// program. With names: one fetch request is appended per given, non-empty name. Answers the OR
// of what the interpreter answered ("0" when nothing was asked).
QM_EXPORT APIRET APIENTRY ExpatSetVariablePool(PCSZ, ULONG argc, PRXSTRING argv, PCSZ,
                                               PRXSTRING result) {
    ParserRecord* record = recordFor(argc, argv, 1, ~ULONG{0});
    if (!record) return kInvalidCall;
    ULONG combined = 0;
    SHVBLOCK** insertion;
    if (argc == 1) {
        _ExpatFreeRexxVariablePool(&record->poolChain);
        insertion = &record->poolChain;
        for (;;) {
            PoolRequest* request = newRequest(RXSHV_NEXTV);
            combined |= poolCall(request->block);
            // The end is the interpreter's "last variable", or an answer with no variable at all
            // (no program running, a failure): either way nothing more will come.
            if ((request->block.shvret & RXSHV_LVAR) || !request->block.shvname.strptr) {
                _ExpatFree(request->block.shvname.strptr);
                _ExpatFree(request->block.shvvalue.strptr);
                _ExpatFree(request);
                break;
            }
            *insertion = &request->block;
            insertion = &request->block.shvnext;
        }
    } else {
        insertion = tailOf(&record->poolChain);
        for (ULONG i = 1; i < argc; ++i) {
            const RXSTRING& name = argv[i];
            if (!_ExpatNonEmpty(name)) continue;
            PoolRequest* request = newRequest(RXSHV_FETCH);
            request->block.shvname =
                RXSTRING{name.strlength, _ExpatCopyBytes(name.strptr, name.strlength)};
            request->block.shvnamelen = name.strlength;
            combined |= poolCall(request->block);
            request->unset = (request->block.shvret & RXSHV_NEWV) != 0;
            request->rejected = (request->block.shvret & RXSHV_BADN) != 0;
            *insertion = &request->block;
            insertion = &request->block.shvnext;
        }
    }
    _ExpatResultUnsigned(result, combined);
    return kValidCall;
}

// Assigns every variable of the chain in the calling program, in one call: stems first, since
// assigning a stem resets its tails; variables that were unset when fetched are dropped; odd
// tails the interpreter refuses as direct names follow through QUILLMARK_TAIL_. Answers the OR
// of what the interpreter answered.
QM_EXPORT APIRET APIENTRY ExpatGetVariablePool(PCSZ, ULONG argc, PRXSTRING argv, PCSZ,
                                               PRXSTRING result) {
    ParserRecord* record = recordFor(argc, argv, 1, 1);
    if (!record) return kInvalidCall;
    // Run order: stems first, each group in chain order. The blocks are relinked in that order
    // for the one call and get their chain links back afterwards.
    std::size_t count = 0;
    for (SHVBLOCK* b = record->poolChain; b; b = b->shvnext) ++count;
    auto* runOrder = count ? _ExpatAllocArray<SHVBLOCK*>(2 * count) : nullptr;
    SHVBLOCK** chainNext = runOrder + count;
    std::size_t n = 0;
    for (bool stems : {true, false})
        for (SHVBLOCK* b = record->poolChain; b; b = b->shvnext)
            if (isStem(*b) == stems) runOrder[n++] = b;
    for (std::size_t i = 0; i < count; ++i) {
        SHVBLOCK* b = runOrder[i];
        chainNext[i] = b->shvnext;
        b->shvcode = requestOf(b)->unset ? RXSHV_DROPV : RXSHV_SET;
        b->shvnext = i + 1 < count ? runOrder[i + 1] : nullptr;
    }
    ULONG rc = RexxVariablePool(count ? runOrder[0] : nullptr);
    for (std::size_t i = 0; i < count; ++i) runOrder[i]->shvnext = chainNext[i];
    if (count && rc != RXSHV_NOAVL) {
        ULONG combined = 0;
        for (std::size_t i = 0; i < count; ++i) {
            SHVBLOCK& b = *runOrder[i];
            if ((b.shvret & RXSHV_BADN) && !requestOf(&b)->rejected) assignThroughTail(b);
            combined |= b.shvret;
        }
        rc = combined;
    }
    _ExpatFree(runOrder);
    _ExpatResultUnsigned(result, rc);
    return kValidCall;
}

QM_EXPORT APIRET APIENTRY ExpatFreeVariablePool(PCSZ, ULONG argc, PRXSTRING argv, PCSZ,
                                                PRXSTRING result) {
    ParserRecord* record = recordFor(argc, argv, 1, 1);
    if (!record) return kInvalidCall;
    _ExpatResultInteger(result, _ExpatFreeRexxVariablePool(&record->poolChain));
    return kValidCall;
}
