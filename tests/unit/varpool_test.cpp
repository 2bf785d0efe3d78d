// The variable-pool functions called with no Rexx program running on the thread: Regina then
// answers every request with 144 (RXSHV_NOAVL) and fills in no variable. A Rexx program can
// never see this, since every call it makes comes with itself running.
#include "alloc_substitute.h"
#include "host.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace quillmark_test;

namespace {

struct Parser {
    std::string handle;
    Parser() {
        Result r;
        call(ExpatParserCreate, {}, r);
        handle = r.text();
    }
    ~Parser() {
        Result r;
        call(ExpatParserFree, {handle.c_str()}, r);
    }
};

// An endless enumeration loop would hang the test run: end it with SIGALRM instead.
struct Deadline {
    Deadline() { alarm(10); }
    ~Deadline() { alarm(0); }
};

} // namespace

TEST(VariablePoolWithoutProgram, EnumerationEndsOnTheFailureAndKeepsNothing) {
    Parser p;
    Deadline deadline;
    const long allocated = allocations, released = releases;
    Result set;
    ASSERT_EQ(call(ExpatSetVariablePool, {p.handle.c_str()}, set), 0u);
    EXPECT_EQ(set.text(), std::to_string(RXSHV_NOAVL));
    // The one request made was released at once: the chain is empty.
    EXPECT_EQ(allocations - allocated, releases - released);
    EXPECT_EQ(allocations - allocated, 1);
}

TEST(VariablePoolWithoutProgram, NamedRequestsStayAndAreReleased) {
    Parser p;
    const long allocated = allocations, released = releases;
    Result set;
    ASSERT_EQ(call(ExpatSetVariablePool, {p.handle.c_str(), "a", "s.x y"}, set), 0u);
    EXPECT_EQ(set.text(), std::to_string(RXSHV_NOAVL));
    // Both requests are kept, whatever the interpreter answered.
    EXPECT_GT(allocations - allocated, 0);
    EXPECT_EQ(releases - released, 0);
    Result get;
    ASSERT_EQ(call(ExpatGetVariablePool, {p.handle.c_str()}, get), 0u);
    EXPECT_EQ(get.text(), std::to_string(RXSHV_NOAVL));
    Result freed;
    ASSERT_EQ(call(ExpatFreeVariablePool, {p.handle.c_str()}, freed), 0u);
    EXPECT_EQ(freed.text(), "0");
    EXPECT_EQ(releases - released, allocations - allocated);
}
