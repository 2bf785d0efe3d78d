#include "chain.h"

#include <cstring>

namespace quillmark {

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
    // A compound variable whose tail is empty: the interpreter lists it under its stem's name.
    bool emptyTail;
};

PoolRequest* requestOf(SHVBLOCK* block) {
    return reinterpret_cast<PoolRequest*>(block);
}

PoolRequest* newRequest(unsigned char code) {
    auto* request = static_cast<PoolRequest*>(allocate(sizeof(PoolRequest)));
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
// (xml:lang, a b, a NUL), and takes STEM. for the stem, not for the compound variable with an
// empty tail. Such a variable is assigned symbolically, STEM.T with T holding the tail; T is a
// program variable that is saved first and restored (or dropped) afterwards.
void assignThroughTail(SHVBLOCK& b) {
    static constexpr char kTemp[] = "QUILLMARK_TAIL_";
    constexpr std::size_t kTempLength = sizeof kTemp - 1;
    const char* name = b.shvname.strptr;
    const std::size_t length = b.shvname.strlength;
    const void* dot = std::memchr(name, '.', length);
    if (!dot) return;
    const std::size_t stemLength =
        static_cast<std::size_t>(static_cast<const char*>(dot) - name) + 1;

    SHVBLOCK saved{};
    saved.shvname = rxstring(kTempLength, const_cast<char*>(kTemp));
    saved.shvnamelen = kTempLength;
    saved.shvcode = RXSHV_FETCH;
    poolCall(saved);
    const bool existed = !(saved.shvret & (RXSHV_NEWV | RXSHV_BADN)) && saved.shvvalue.strptr;

    SHVBLOCK tail{};
    tail.shvname = saved.shvname;
    tail.shvnamelen = kTempLength;
    tail.shvvalue = rxstring(length - stemLength, const_cast<char*>(name + stemLength));
    tail.shvvaluelen = tail.shvvalue.strlength;
    tail.shvcode = RXSHV_SET;
    poolCall(tail);

    char* symbolic = static_cast<char*>(allocate(stemLength + kTempLength + 1));
    std::memcpy(symbolic, name, stemLength);
    std::memcpy(symbolic + stemLength, kTemp, kTempLength + 1);
    SHVBLOCK assign = b;
    assign.shvname = rxstring(stemLength + kTempLength, symbolic);
    assign.shvnamelen = assign.shvname.strlength;
    assign.shvcode = b.shvcode == RXSHV_DROPV ? RXSHV_SYDRO : RXSHV_SYSET;
    poolCall(assign);
    release(symbolic);

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
    release(saved.shvvalue.strptr);
    b.shvret = assign.shvret;
}

bool sameName(const SHVBLOCK& a, const SHVBLOCK& b) {
    return a.shvname.strlength == b.shvname.strlength &&
           std::memcmp(a.shvname.strptr, b.shvname.strptr, a.shvname.strlength) == 0;
}

// Regina lists a stem's compound variables before the stem, and the stem itself only when it
// has a value. So an entry named STEM. is a compound variable with an empty tail when another
// entry of that name follows it, or when the stem has no value.
void markEmptyTails(SHVBLOCK* head) {
    for (SHVBLOCK* b = head; b; b = b->shvnext) {
        if (!isStem(*b)) continue;
        bool later = false;
        for (SHVBLOCK* c = b->shvnext; c && !later; c = c->shvnext) later = sameName(*b, *c);
        if (!later) {
            SHVBLOCK stem{};
            stem.shvname = b->shvname;
            stem.shvnamelen = b->shvnamelen;
            stem.shvcode = RXSHV_FETCH;
            poolCall(stem);
            release(stem.shvvalue.strptr);
            later = (stem.shvret & RXSHV_NEWV) != 0;
        }
        requestOf(b)->emptyTail = later;
    }
}

void freeRequest(SHVBLOCK* block) {
    release(block->shvname.strptr);
    release(block->shvvalue.strptr);
    release(requestOf(block));
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether the request names this variable as the interpreter reads names: the stem (or the
// simple name) in any case, the tail exactly. A compound variable with an empty tail is listed
// under its stem's name but is another variable.
bool namesVariable(SHVBLOCK* block, const RXSTRING& name) {
    const RXSTRING& own = block->shvname;
    if (requestOf(block)->emptyTail || own.strlength != name.strlength) return false;
    const void* dot = std::memchr(name.strptr, '.', name.strlength);
    const std::size_t stem =
        dot ? static_cast<std::size_t>(static_cast<const char*>(dot) - name.strptr)
            : name.strlength;
    for (std::size_t i = 0; i < stem; ++i)
        if (upper(own.strptr[i]) != upper(name.strptr[i])) return false;
    return std::memcmp(own.strptr + stem, name.strptr + stem, name.strlength - stem) == 0;
}

// A new capture of a variable replaces what the chain held for it, so a handler that captures
// its variables at every event keeps the chain as long as their names.
void dropCaptures(SHVBLOCK** head, const RXSTRING& name) {
    for (SHVBLOCK** link = head; *link;) {
        SHVBLOCK* block = *link;
        if (namesVariable(block, name)) {
            *link = block->shvnext;
            freeRequest(block);
        } else {
            link = &block->shvnext;
        }
    }
}

} // namespace

void freeChain(SHVBLOCK** head) {
    SHVBLOCK* block = *head;
    while (block) {
        SHVBLOCK* next = block->shvnext;
        freeRequest(block);
        block = next;
    }
    *head = nullptr;
}

void copyChain(const SHVBLOCK* from, SHVBLOCK** to) {
    freeChain(to);
    SHVBLOCK** link = to;
    for (; from; from = from->shvnext) {
        PoolRequest* copy = newRequest(from->shvcode);
        *copy = *reinterpret_cast<const PoolRequest*>(from);
        copy->block.shvnext = nullptr;
        if (from->shvname.strptr)
            copy->block.shvname.strptr = copyBytes(from->shvname.strptr, from->shvname.strlength);
        if (from->shvvalue.strptr)
            copy->block.shvvalue.strptr =
                copyBytes(from->shvvalue.strptr, from->shvvalue.strlength);
        *link = &copy->block;
        link = &copy->block.shvnext;
    }
}

ULONG captureAll(SHVBLOCK** head) {
    freeChain(head);
    ULONG combined = 0;
    SHVBLOCK** insertion = head;
    for (;;) {
        PoolRequest* request = newRequest(RXSHV_NEXTV);
        combined |= poolCall(request->block);
        // The end is the interpreter's "last variable", or an answer with no variable at all (no
        // program running, a failure): either way nothing more will come.
        if ((request->block.shvret & RXSHV_LVAR) || !request->block.shvname.strptr) {
            release(request->block.shvname.strptr);
            release(request->block.shvvalue.strptr);
            release(request);
            markEmptyTails(*head);
            return combined;
        }
        *insertion = &request->block;
        insertion = &request->block.shvnext;
    }
}

ULONG captureNames(SHVBLOCK** head, const RXSTRING* names, ULONG count) {
    ULONG combined = 0;
    for (ULONG i = 0; i < count; ++i) {
        const RXSTRING& name = names[i];
        if (!nonEmpty(name)) continue;
        dropCaptures(head, name);
        SHVBLOCK** insertion = tailOf(head);
        PoolRequest* request = newRequest(RXSHV_FETCH);
        request->block.shvname = rxstring(name.strlength, copyBytes(name.strptr, name.strlength));
        request->block.shvnamelen = name.strlength;
        combined |= poolCall(request->block);
        request->unset = (request->block.shvret & RXSHV_NEWV) != 0;
        request->rejected = (request->block.shvret & RXSHV_BADN) != 0;
        *insertion = &request->block;
    }
    return combined;
}

// Stems go first, since assigning a stem resets its tails; the blocks are relinked in that order
// for the one call and get their chain links back afterwards. Variables that were unset when
// fetched are dropped. Compound variables with an empty tail, and odd tails the interpreter
// refuses as direct names, follow through QUILLMARK_TAIL_.
ULONG assignChain(SHVBLOCK* head) {
    std::size_t count = 0;
    for (SHVBLOCK* b = head; b; b = b->shvnext) ++count;
    auto* runOrder = count ? allocateArray<SHVBLOCK*>(2 * count) : nullptr;
    SHVBLOCK** chainNext = runOrder + count;
    std::size_t direct = 0;
    for (bool stems : {true, false})
        for (SHVBLOCK* b = head; b; b = b->shvnext)
            if (!requestOf(b)->emptyTail && isStem(*b) == stems) runOrder[direct++] = b;
    std::size_t n = direct;
    for (SHVBLOCK* b = head; b; b = b->shvnext)
        if (requestOf(b)->emptyTail) runOrder[n++] = b;
    for (std::size_t i = 0; i < count; ++i) {
        SHVBLOCK* b = runOrder[i];
        chainNext[i] = b->shvnext;
        b->shvcode = requestOf(b)->unset ? RXSHV_DROPV : RXSHV_SET;
        b->shvnext = i + 1 < direct ? runOrder[i + 1] : nullptr;
    }
    ULONG rc = RexxVariablePool(direct ? runOrder[0] : nullptr);
    for (std::size_t i = 0; i < count; ++i) runOrder[i]->shvnext = chainNext[i];
    if (count && rc != RXSHV_NOAVL) {
        ULONG combined = 0;
        for (std::size_t i = 0; i < count; ++i) {
            SHVBLOCK& b = *runOrder[i];
            const PoolRequest& request = *requestOf(&b);
            if (request.emptyTail || ((b.shvret & RXSHV_BADN) && !request.rejected))
                assignThroughTail(b);
            combined |= b.shvret;
        }
        rc = combined;
    }
    release(runOrder);
    return rc;
}

} // namespace quillmark
