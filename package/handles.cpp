#include "package.h"

#include "../parser/record.h"

#include <cstdio>
#include <mutex>
#include <new>
#include <unordered_set>

namespace {

// Keeps the set's storage with the interpreter's allocator, like every other block.
template <class T> struct RexxAllocator {
    using value_type = T;
    RexxAllocator() = default;
    template <class U> RexxAllocator(const RexxAllocator<U>&) {}
    T* allocate(std::size_t n) { return _ExpatAllocArray<T>(n); }
    void deallocate(T* p, std::size_t) { _ExpatFree(p); }
    template <class U> bool operator==(const RexxAllocator<U>&) const { return true; }
};

using LiveSet = std::unordered_set<const void*, std::hash<const void*>, std::equal_to<const void*>,
                                   RexxAllocator<const void*>>;

struct Registry {
    std::mutex lock;
    LiveSet live;
};

// Never destroyed: a handler may still run while the process exits.
Registry& registry() {
    alignas(Registry) static unsigned char storage[sizeof(Registry)];
    static Registry* instance = new (storage) Registry();
    return *instance;
}

} // namespace

void _ExpatAddLiveRecord(ParserRecord* record) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.live.insert(record);
}

void _ExpatRemoveLiveRecord(ParserRecord* record) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.live.erase(record);
}

bool _ExpatIsLiveRecord(const void* record) {
    if (!record) return false;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.live.count(record) != 0;
}

ParserRecord* _ExpatRecordFromArg(const RXSTRING& arg) {
    if (!_ExpatNonEmpty(arg)) return nullptr;
    // The handle is short; whatever follows the number is ignored, as sscanf would.
    char text[64];
    std::size_t n = _ExpatArgTextLength(arg);
    if (n >= sizeof text) n = sizeof text - 1;
    for (std::size_t i = 0; i < n; ++i) text[i] = arg.strptr[i];
    text[n] = '\0';
    void* address = nullptr;
    if (std::sscanf(text, QM_HANDLE_FORMAT, &address) != 1) return nullptr;
    if (!_ExpatIsLiveRecord(address)) return nullptr;
    auto* record = static_cast<ParserRecord*>(address);
    return record->freeing ? nullptr : record;
}
