// expat_loop MODE FILE: parses FILE with plain Expat in 64 KiB pieces read with fread, then an
// empty final piece, and prints "MODE WALL CPU EVENTS": the seconds by the clock and in processor
// time of the process, and the events counted (0 unless MODE counts them).
//   parse   XML_Parse on the pieces, no handlers
//   buffer  XML_GetBuffer, fread into it, XML_ParseBuffer, no handlers
//   copy    fread, XML_GetBuffer, memcpy, XML_ParseBuffer (what the package does with a
//           piece), no handlers
//   noop    XML_Parse with handlers for start, end and character data that do nothing
//   count   XML_Parse with handlers that count those events
#include <expat.h>

#include "cpu_time.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kPiece = 65536;

void XMLCALL noopStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL noopEnd(void*, const XML_Char*) {}
void XMLCALL noopText(void*, const XML_Char*, int) {}

void XMLCALL countStart(void* events, const XML_Char*, const XML_Char**) {
    ++*static_cast<long*>(events);
}
void XMLCALL countEnd(void* events, const XML_Char*) {
    ++*static_cast<long*>(events);
}
void XMLCALL countText(void* events, const XML_Char*, int) {
    ++*static_cast<long*>(events);
}

bool parse(XML_Parser parser, std::FILE* file, const char* mode) {
    static char piece[kPiece];
    const bool direct = std::strcmp(mode, "buffer") == 0;
    const bool copy = std::strcmp(mode, "copy") == 0;
    for (;;) {
        std::size_t n;
        if (direct) {
            void* buffer = XML_GetBuffer(parser, kPiece);
            if (!buffer) return false;
            n = std::fread(buffer, 1, kPiece, file);
            if (XML_ParseBuffer(parser, static_cast<int>(n), n == 0) != XML_STATUS_OK) return false;
        } else if (copy) {
            n = std::fread(piece, 1, kPiece, file);
            void* buffer = XML_GetBuffer(parser, static_cast<int>(n));
            if (!buffer) return false;
            std::memcpy(buffer, piece, n);
            if (XML_ParseBuffer(parser, static_cast<int>(n), n == 0) != XML_STATUS_OK) return false;
        } else {
            n = std::fread(piece, 1, kPiece, file);
            if (XML_Parse(parser, piece, static_cast<int>(n), n == 0) != XML_STATUS_OK)
                return false;
        }
        if (n == 0) return true;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: expat_loop parse|buffer|copy|noop|count FILE\n");
        return 2;
    }
    const char* mode = argv[1];
    std::FILE* file = std::fopen(argv[2], "rb");
    if (!file) {
        std::perror(argv[2]);
        return 2;
    }
    long events = 0;
    const double cpu = cpuSeconds();
    auto start = std::chrono::steady_clock::now();
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (std::strcmp(mode, "noop") == 0) {
        XML_SetElementHandler(parser, noopStart, noopEnd);
        XML_SetCharacterDataHandler(parser, noopText);
    } else if (std::strcmp(mode, "count") == 0) {
        XML_SetUserData(parser, &events);
        XML_SetElementHandler(parser, countStart, countEnd);
        XML_SetCharacterDataHandler(parser, countText);
    }
    bool ok = parse(parser, file, mode);
    XML_ParserFree(parser);
    auto end = std::chrono::steady_clock::now();
    const double used = cpuSeconds() - cpu;
    std::fclose(file);
    if (!ok) {
        std::fprintf(stderr, "expat_loop: %s does not parse\n", argv[2]);
        return 1;
    }
    std::printf("%s %.6f %.6f %ld\n", mode, std::chrono::duration<double>(end - start).count(),
                used, events);
    return 0;
}
