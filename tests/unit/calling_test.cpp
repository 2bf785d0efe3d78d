// The calling convention as the interpreter sees it: result buffers and invalid calls.
#include "host.h"

#include <gtest/gtest.h>

namespace {

std::string newParser() {
    Result r;
    EXPECT_EQ(call(ExpatParserCreate, {}, r), 0u);
    return r.text();
}

} // namespace

TEST(Results, TextUpTo255CharactersUsesTheSuppliedBuffer) {
    for (std::size_t n : {0, 1, 254, 255}) {
        Result r;
        std::string text(n, 'x');
        quillmark::writeResult(&r.rx, text.data(), n);
        EXPECT_EQ(r.rx.strptr, r.buffer) << n;
        EXPECT_EQ(r.rx.strlength, n);
        EXPECT_EQ(r.buffer[n], '\0');
    }
}

TEST(Results, TextOf256OrMoreGetsAnExactBlockAndLeavesTheBufferAlone) {
    for (std::size_t n : {256, 257, 5000}) {
        Result r;
        std::string text(n, 'y');
        quillmark::writeResult(&r.rx, text.data(), n);
        EXPECT_NE(r.rx.strptr, r.buffer);
        EXPECT_EQ(r.rx.strlength, n);
        EXPECT_EQ(r.text(), text);
        EXPECT_EQ(r.rx.strptr[n], '\0');
        EXPECT_EQ(r.buffer[0], '#'); // the interpreter's buffer is neither written nor freed
    }
}

TEST(Results, InvalidCallsLeaveTheResultUntouched) {
    std::string p = newParser();
    struct Case {
        EntryPoint* fn;
        Args args;
    } cases[] = {
        {ExpatParserFree, {}},
        {ExpatParserFree, {p.c_str(), "1"}},
        {ExpatParserFree, {nullptr}},
        {ExpatParserFree, {""}},
        {ExpatParse, {p.c_str(), "<a/>"}},
        {ExpatParse, {p.c_str(), nullptr, "0"}},
        {ExpatGetBase, {"0"}},
        {ExpatErrorString, {nullptr}},
        {ExpatSetCommentHandler, {}},
        {ExpatSetCommentHandler, {nullptr, "x"}},
        {ExpatParserCreate, {"UTF-8", "|", "x"}},
    };
    for (auto& c : cases) {
        Result r;
        EXPECT_EQ(c.fn("F", c.args.count(), c.args.data(), "SESSION", &r.rx), 40u);
        EXPECT_TRUE(r.untouched());
    }
    Result r;
    EXPECT_EQ(call(ExpatParserFree, {p.c_str()}, r), 0u);
}

TEST(Results, OmittedThirdArgumentOfParseMakesTheLastPiece) {
    std::string p = newParser();
    Result r;
    ASSERT_EQ(call(ExpatParse, {p.c_str(), "<a>", nullptr}, r), 0u);
    EXPECT_EQ(r.text(), "0"); // the unclosed element is an error in a last piece
    Result code;
    call(ExpatGetErrorCode, {p.c_str()}, code);
    EXPECT_EQ(code.text(), "3");
    Result f;
    call(ExpatParserFree, {p.c_str()}, f);
}

TEST(Arguments, NumbersFollowAtoiWithinTheArgument) {
    struct Case {
        const char* text;
        std::size_t length;
        int value;
    } cases[] = {
        {"12", 2, 12},
        {"  -7x", 5, -7},
        {"+3", 2, 3},
        {"abc", 3, 0},
        {"", 0, 0},
        {"123", 2, 12},
        {"4\0"
         "5",
         3, 4},
        {"99999999999", 11, 2147483647},
        {"-99999999999", 12, -2147483647 - 1},
    };
    for (const Case& c : cases) {
        RXSTRING a{c.length, const_cast<char*>(c.text)};
        EXPECT_EQ(quillmark::argumentNumber(a), c.value) << c.text;
    }
}
