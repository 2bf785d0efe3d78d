// Two threads, each with its own interpreter instance, making, using and freeing parsers at once.
#include "alloc_substitute.h"
#include "host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
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

// Procedures of their own run on a helper thread. When none can be started the run fails:
// reported, and the parse stops, rather than running the procedure where it would harm the
// calling program.
TEST(Threads, NoHelperThreadIsAFailedRun) {
    std::thread fresh([] { // a thread that has no helper yet
        Result p;
        call(ExpatParserCreate, {}, p);
        std::string handle = p.text();
        Result set;
        call(ExpatSetCommentHandler, {handle.c_str(), "say 'ran'", nullptr, "1"}, set);
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        quillmark_test::failThreadStarts = true;
        Result parsed;
        EXPECT_EQ(call(ExpatParse, {handle.c_str(), "<a><!--x--></a>", "0"}, parsed), 0u);
        quillmark_test::failThreadStarts = false;
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(parsed.text(), "0");
        EXPECT_EQ(out, "");
        EXPECT_EQ(err, "Quillmark (Error 4): can't find/load Interpreter (Comment handler, "
                       "in-store)\n");
        Result code;
        call(ExpatGetErrorCode, {handle.c_str()}, code);
        EXPECT_EQ(code.text(), "35");
        Result freed;
        EXPECT_EQ(call(ExpatParserFree, {handle.c_str()}, freed), 0u);
    });
    fresh.join();
}

// Several program threads whose procedures keep state in environment variables, as the manual
// advises, while their helpers' instances are renewed (the environment SYSTEM asks for a fresh
// one after every run). A variable Regina set with putenv pointed into the instance that the
// renewal released: the package sets them itself, in the C library's storage.
TEST(Threads, RenewalsWhileOtherThreadsSetEnvironmentVariables) {
    auto program = [](int thread) {
        return "ok = 0\n"
               "do i = 1 to 1000\n"
               "  p = ExpatParserCreate()\n"
               "  call ExpatSetCommentHandler p, \"call value 'QM_T" +
               std::to_string(thread) +
               "_'random(1, 30), copies('v', random(1, 200)), 'ENVIRONMENT'\", 'SYSTEM', 1\n"
               "  if ExpatParse(p, '<a><!--c--><!--d--><!--e--></a>', 0) then ok = ok + 1\n"
               "  call ExpatParserFree p\n"
               "end\n"
               "return ok\n";
    };
    // glibc's setenv of a name the environment lacks reallocates the array that a getenv on
    // another thread may be reading (the manual's Threads section says so); with every name
    // present beforehand the procedures only replace values, which is what this test is about.
    for (int t = 0; t < 3; ++t)
        for (int n = 1; n <= 30; ++n)
            setenv(("QM_T" + std::to_string(t) + "_" + std::to_string(n)).c_str(), "", 1);
    std::string results[3];
    long codes[3] = {-1, -1, -1};
    std::thread threads[3];
    for (int i = 0; i < 3; ++i)
        threads[i] = std::thread([&, i] { codes[i] = runRexx(program(i), &results[i]); });
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(codes[i], 0);
        EXPECT_EQ(results[i], "1000");
    }
}
