// The map text an UnknownEncoding procedure returns, read into Expat's 256 map entries.
#include "../../handlers/encoding.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;

struct MapCase {
    const char* name;
    std::string text;
    std::size_t length;                            // the length handed to the reader
    std::vector<std::pair<int, std::int32_t>> set; // entries that are not the identity
};

// Every entry not listed must be its own index.
void expectMap(const std::int32_t (&map)[256], const MapCase& c) {
    for (int i = 0; i < 256; ++i) {
        std::int32_t want = i;
        for (const auto& [entry, value] : c.set)
            if (entry == i) want = value;
        EXPECT_EQ(map[i], want) << c.name << ": entry " << i;
    }
}

MapCase whole(const char* name, std::string text, std::vector<std::pair<int, std::int32_t>> set) {
    std::size_t n = text.size();
    return MapCase{name, std::move(text), n, std::move(set)};
}

std::string numbers(int count, int base) {
    std::string text;
    for (int i = 0; i < count; ++i) text += std::to_string(base + i) + " ";
    return text;
}

std::vector<std::pair<int, std::int32_t>> shifted(int count, int base) {
    std::vector<std::pair<int, std::int32_t>> set;
    for (int i = 0; i < count; ++i) set.emplace_back(i, base + i);
    return set;
}

std::vector<MapCase> mapCases() {
    return {
        whole("three numbers", "65 66 67 ", {{0, 65}, {1, 66}, {2, 67}}),
        whole("second blank is an item", "5  7", {{0, 5}, {2, 7}}),
        whole("hex and octal", "0x41 010", {{0, 65}, {1, 8}}),
        whole("upper-case hex prefix", "0X1f", {{0, 31}}),
        whole("9 ends the octal 0 as its separator", "09", {{0, 0}}),
        whole("0x with no hex digit is the number 0", "0xg5", {{0, 0}, {1, 1}, {2, 5}}),
        whole("0x at the end is the number 0", "0x", {{0, 0}}),
        whole("minus two", "-2", {{0, -2}}),
        whole("negative hex", "-0x10,-3", {{0, -16}, {1, -3}}),
        whole("minus without digit is an item", "-x", {}),
        whole("minus at the end is an item", "7 -", {{0, 7}}),
        whole("plus is an item", "+5", {{1, 5}}),
        whole("any separator character, NUL too", "1a2\n3\0004"s, {{0, 1}, {1, 2}, {2, 3}, {3, 4}}),
        whole("empty", "", {}),
        whole("above 32 bits clamps high", "99999999999999999999 2147483648 2147483647",
              {{0, INT32_MAX}, {1, INT32_MAX}, {2, INT32_MAX}}),
        whole("below 32 bits clamps low", "-99999999999999999999 -2147483649 -0x80000000",
              {{0, INT32_MIN}, {1, INT32_MIN}, {2, INT32_MIN}}),
        whole("huge hex clamps", "0xFFFFFFFFFFFFFFFFFFFF", {{0, INT32_MAX}}),
        whole("exactly 256 items", numbers(256, 1000), shifted(256, 1000)),
        whole("items after the 256th ignored", numbers(300, 1000), shifted(256, 1000)),
        whole("identity items count as entries", std::string(255, '.') + "9 8", {{255, 9}}),
        // The text runs on past its length: nothing beyond it may be read.
        MapCase{"length cuts a number", "12345", 2, {{0, 12}}},
        MapCase{"length cuts a hex prefix", "0x41", 3, {{0, 4}}},
        MapCase{"length cuts before a minus's digit", "1 -5", 3, {{0, 1}}},
        MapCase{"length zero", "65 66", 0, {}},
    };
}

TEST(EncodingMap, ReadsItemsInByteOrder) {
    for (const MapCase& c : mapCases()) {
        std::int32_t map[256];
        std::memset(map, 0x5a, sizeof map); // every entry must be written
        quillmark::readEncodingMap(c.text.data(), c.length, map);
        expectMap(map, c);
    }
}

TEST(EncodingMap, NullTextIsTheIdentity) {
    std::int32_t map[256];
    std::memset(map, 0x5a, sizeof map);
    quillmark::readEncodingMap(nullptr, 40, map);
    expectMap(map, MapCase{"null", "", 0, {}});
}

// A text that is not NUL-terminated, in a block of exactly its own size, so that a read past
// the end is seen by AddressSanitizer or valgrind.
TEST(EncodingMap, ReadsOnlyWithinItsBlock) {
    const char* samples[] = {"123", "0x4", "-", "-7", "0"};
    for (const char* s : samples) {
        std::size_t n = std::strlen(s);
        std::vector<char> block(s, s + n);
        std::int32_t map[256];
        quillmark::readEncodingMap(block.data(), block.size(), map);
        std::string text(s);
        EXPECT_EQ(map[0], text == "-" ? 0 : std::stoi(text, nullptr, 0)) << s;
        EXPECT_EQ(map[1], 1) << s;
    }
}

} // namespace
