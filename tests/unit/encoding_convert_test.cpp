// The convert bridge called as Expat calls it, with a real interpreter running the procedure.
// Expat refuses scalars above U+FFFF from a converter, so only here can the bridge's answer for
// them be seen.
#include "../../handlers/encoding.h"
#include "../../parser/record.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

using namespace quillmark;

namespace {

// A live record whose byte 0xA0 starts a 4-byte sequence, converted by `source` (in-store).
struct ConvertRecord {
    ParserRecord record{};
    explicit ConvertRecord(const std::string& source) {
        record.handlers = newHandlerTable();
        for (int i = 0; i < 256; ++i) record.handlers->encodingMap[i] = i;
        record.handlers->encodingMap[0xA0] = -4;
        setHandler(record.handlers->slots[static_cast<int>(Kind::UnknownEncodingConvert)],
                   RXSTRING{source.size(), const_cast<char*>(source.data())}, RXSTRING{0, nullptr},
                   RXSTRING{1, const_cast<char*>("1")});
        record.handle = registerObject(&record);
    }
    ConvertRecord(const ConvertRecord&) = delete;
    ConvertRecord& operator=(const ConvertRecord&) = delete;
    ~ConvertRecord() {
        unregisterObject(record.handle);
        freeHandlerTable(record.handlers);
    }
    int convert(const char* sequence) { return convertSequence(&record, sequence); }
};

TEST(ConvertBridge, AnswersEveryScalarFromTheReturnedString) {
    // The scalar travels in the three bytes after the lead byte.
    ConvertRecord r("return c2d(substr(arg(2), 2))");
    const int scalars[] = {0,      0x41,   0x7FFF,  0x8000,  0x4E2D,
                           0xFFFD, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
    for (int scalar : scalars) {
        const char sequence[] = {'\xA0', static_cast<char>(scalar >> 16),
                                 static_cast<char>(scalar >> 8), static_cast<char>(scalar), '<'};
        EXPECT_EQ(r.convert(sequence), scalar) << std::hex << scalar;
    }
}

// What the procedure returns, and what the bridge answers: a whole number as written by Rexx
// in any form, else the 16-bit return code the interpreter reports.
TEST(ConvertBridge, ReadsWholeNumbersInEveryRexxForm) {
    struct Case {
        const char* returned;
        int answer;
    } cases[] = {
        {"40000", 40000},
        {"' 40000 '", 40000},
        {"'+40000'", 40000},
        {"'+ 40000'", 40000},
        {"0.5 * 80000", 40000}, // Rexx arithmetic leaves "40000.0"
        {"'40000.'", 40000},
        {"'4E4'", 40000},
        {"'1.28512E+5'", 128512},
        {"'1285120e-1'", 128512},
        {"-1", -1},
        {"'-0'", 0},
        {"'2147483647'", 2147483647},
        {"'2147483648'", -1}, // beyond int: malformed
        {"'-2147483649'", -1},
        {"'1E99'", -1},
        {"'65.5'", 65}, // not whole: the interpreter's leading integer
        {"'65 66'", 65},
        {"'abc'", 0},
        {"''", 0},
    };
    for (const Case& c : cases) {
        ConvertRecord r(std::string("return ") + c.returned);
        const char sequence[] = {'\xA0', 0, 0, 0};
        EXPECT_EQ(r.convert(sequence), c.answer) << c.returned;
    }
}

TEST(ConvertBridge, AnswersMalformedWithoutRunningWhatCannotRun) {
    // A lead byte the map does not give as a sequence.
    ConvertRecord r("return 65");
    const char single[] = {'A', 0, 0, 0};
    EXPECT_EQ(r.convert(single), -1);
    // A procedure that fails to run.
    ConvertRecord failing("x = 1 +");
    const char sequence[] = {'\xA0', 0, 0, 0};
    EXPECT_EQ(failing.convert(sequence), -1);
    // A record that is not live.
    ParserRecord dead{};
    EXPECT_EQ(convertSequence(&dead, sequence), -1);
}

} // namespace
