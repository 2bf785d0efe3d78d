#include "frame.h"

#include <cstdio>
#include <mutex>
#include <new>
#include <unordered_map>

namespace quillmark {

namespace {

using Objects = std::unordered_map<Handle, void*, std::hash<Handle>, std::equal_to<Handle>,
                                   RexxAllocator<std::pair<const Handle, void*>>>;

struct Registry {
    std::mutex lock;
    Objects objects;
    Handle issued = 0;
};

// Never destroyed: a handler may still run while the process exits.
Registry& registry() {
    alignas(Registry) static unsigned char storage[sizeof(Registry)];
    static Registry* instance = new (storage) Registry();
    return *instance;
}

// Handles are the issue numbers spread over the whole width by an odd multiplier (a
// one-to-one map), so that a small number typed by mistake names nothing.
constexpr Handle kSpread = static_cast<Handle>(0x9E3779B97F4A7C15ull);

} // namespace

Handle registerObject(void* object) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Handle handle;
    do handle = ++r.issued * kSpread;
    while (handle == 0);
    r.objects.emplace(handle, object);
    return handle;
}

void unregisterObject(Handle handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.objects.erase(handle);
}

void* objectOf(Handle handle) {
    if (!handle) return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.objects.find(handle);
    return it == r.objects.end() ? nullptr : it->second;
}

void handleText(Handle handle, char (&text)[kHandleTextSize]) {
    std::snprintf(text, sizeof text, kHandleFormat, reinterpret_cast<void*>(handle));
}

void writeHandle(PRXSTRING result, Handle handle) {
    char text[kHandleTextSize];
    handleText(handle, text);
    writeResult(result, text);
}

Handle readHandle(const RXSTRING& a) {
    if (!nonEmpty(a)) return 0;
    char text[64];
    std::size_t n = textLength(a);
    if (n >= sizeof text) n = sizeof text - 1;
    for (std::size_t i = 0; i < n; ++i) text[i] = a.strptr[i];
    text[n] = '\0';
    void* value = nullptr;
    if (std::sscanf(text, kHandleFormat, &value) != 1) return 0;
    return reinterpret_cast<Handle>(value);
}

} // namespace quillmark
