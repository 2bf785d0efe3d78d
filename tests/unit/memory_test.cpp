// Failure paths of the interpreter's allocator, through the substitute in alloc_substitute.cpp.
#include "alloc_substitute.h"
#include "host.h"

#include <gtest/gtest.h>

using namespace quillmark_test;

namespace {

struct FailReleases {
    FailReleases() { failReleases = true; }
    ~FailReleases() { failReleases = false; }
};

} // namespace

TEST(MemoryDeathTest, FailedAllocationEndsTheProcessWithStatus1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            failAllocationAfter = 0;
            Result r;
            call(ExpatParserCreate, {}, r);
        },
        testing::ExitedWithCode(1), "^Quillmark: insufficient memory\n$");
}

TEST(MemoryDeathTest, FailedAllocationInsideAHandlerSetterAlsoEnds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Result p;
    call(ExpatParserCreate, {}, p);
    std::string handle = p.text();
    EXPECT_EXIT(
        {
            failAllocationAfter = 1; // the record succeeds, its procedure name does not
            Result r;
            call(ExpatSetCommentHandler, {handle.c_str(), "handler"}, r);
        },
        testing::ExitedWithCode(1), "Quillmark: insufficient memory\n");
    Result f;
    call(ExpatParserFree, {handle.c_str()}, f);
}

TEST(Memory, FailedReleaseIsReportedAndTheWorkGoesOn) {
    Result p;
    call(ExpatParserCreate, {}, p);
    std::string handle = p.text();
    Result set;
    call(ExpatSetCommentHandler, {handle.c_str(), "say 1", nullptr, "1"}, set);
    testing::internal::CaptureStderr();
    Result f;
    {
        FailReleases failing;
        EXPECT_EQ(call(ExpatParserFree, {handle.c_str()}, f), 0u);
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(f.text(), "");
    // The handler's procedure name, source text, pair and record, the handler table, the
    // handle's entry and the parser record: one line each.
    std::size_t lines = 0;
    for (std::size_t at = err.find("Quillmark: de-allocating memory failed\n");
         at != std::string::npos; at = err.find("Quillmark: de-allocating memory failed\n", at + 1))
        ++lines;
    EXPECT_EQ(lines, 7u) << err;
    // The parser is gone all the same.
    Result again;
    EXPECT_EQ(call(ExpatParserFree, {handle.c_str()}, again), 40u);
}

TEST(MemoryDeathTest, ALongResultWithoutMemoryEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Result p;
    call(ExpatParserCreate, {}, p);
    std::string handle = p.text();
    std::string base(300, 'b');
    Result set;
    call(ExpatSetBase, {handle.c_str(), base.c_str()}, set);
    EXPECT_EXIT(
        {
            failAllocationAfter = 0;
            Result r;
            call(ExpatGetBase, {handle.c_str()}, r);
        },
        testing::ExitedWithCode(1), "^Quillmark: insufficient memory\n$");
    Result f;
    call(ExpatParserFree, {handle.c_str()}, f);
}
