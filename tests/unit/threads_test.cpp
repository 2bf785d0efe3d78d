// Two threads, each with its own interpreter instance, making, using and freeing parsers at once.
#include "host.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct Entry {
    const char* name;
    EntryPoint* fn;
};

// Runs a Rexx program in-process with the package's entry points registered on this thread.
long runRexx(const std::string& source, std::string* returned) {
    static const Entry entries[] = {{"ExpatParserCreate", ExpatParserCreate},
                                    {"ExpatParserFree", ExpatParserFree},
                                    {"ExpatParse", ExpatParse},
                                    {"ExpatGetErrorCode", ExpatGetErrorCode},
                                    {"ExpatSetCommentHandler", ExpatSetCommentHandler}};
    for (const Entry& e : entries)
        RexxRegisterFunctionExe(e.name, reinterpret_cast<RexxFunctionHandler*>(e.fn));
    RXSTRING instore[2] = {{source.size(), const_cast<char*>(source.data())}, {0, nullptr}};
    RXSTRING result{0, nullptr};
    SHORT rc = 0;
    long code = static_cast<LONG>(
        RexxStart(0, nullptr, "threads", instore, nullptr, RXCOMMAND, nullptr, &rc, &result));
    if (result.strptr) {
        *returned = std::string(result.strptr, result.strlength);
        RexxFreeMemory(result.strptr);
    }
    RexxFreeMemory(instore[1].strptr);
    return code;
}

} // namespace

TEST(Threads, EachThreadsParsersStayItsOwn) {
    const std::string program = R"(
ok = 0
do i = 1 to 300
  p = ExpatParserCreate()
  call ExpatSetCommentHandler p, "nop", , 1
  if ExpatParse(p, '<a><!--c--></a>', 0) & ExpatGetErrorCode(p) = 0 then ok = ok + 1
  call ExpatParserFree p
end
return ok
)";
    std::string results[2];
    long codes[2] = {-1, -1};
    std::thread a([&] { codes[0] = runRexx(program, &results[0]); });
    std::thread b([&] { codes[1] = runRexx(program, &results[1]); });
    a.join();
    b.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(codes[i], 0);
        EXPECT_EQ(results[i], "300");
    }
}
