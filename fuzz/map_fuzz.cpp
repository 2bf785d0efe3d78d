// The map-text reader against a reference built on the C library's strtoll: the same 256
// entries for any bytes.
#include "../handlers/encoding.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void reference(const std::string& text, std::int32_t map[256]) {
    const char* p = text.c_str(); // NUL-terminated: strtoll stops there as at any non-digit
    const char* end = p + text.size();
    int entry = 0;
    for (; entry < 256 && p < end; ++entry) {
        bool digit = std::isdigit(static_cast<unsigned char>(*p));
        bool minus = *p == '-' && p + 1 < end && std::isdigit(static_cast<unsigned char>(p[1]));
        if (!digit && !minus) {
            map[entry] = entry;
            ++p;
            continue;
        }
        char* after = nullptr;
        long long v = std::strtoll(p, &after, 0);
        map[entry] = static_cast<std::int32_t>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
        p = after < end ? after + 1 : end;
    }
    for (; entry < 256; ++entry) map[entry] = entry;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy: the reader must not look past its length.
    auto* bytes = static_cast<char*>(std::malloc(size ? size : 1));
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(data[i]);
    std::int32_t got[256], want[256];
    for (auto& e : got) e = 0x5a5a5a5a;
    quillmark::readEncodingMap(bytes, size, got);
    reference(std::string(bytes, size), want);
    std::free(bytes);
    for (int i = 0; i < 256; ++i)
        if (got[i] != want[i]) std::abort();
    std::int32_t empty[256];
    quillmark::readEncodingMap(nullptr, 0, empty);
    for (int i = 0; i < 256; ++i)
        if (empty[i] != i) std::abort();
    return 0;
}
