// ExpatLoadFuncs against refusals of the interpreter, which a Rexx program cannot provoke.
#include "alloc_substitute.h"
#include "host.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace quillmark_test;

namespace {

// Regina loads the library when a function is registered: let it find the built one.
struct Refusal {
    Refusal(const char* name, APIRET code) {
        setenv("REGINA_ADDON_DIR", QUILLMARK_LIBRARY_DIR, 1);
        refuseRegistrationOf = name;
        refusalCode = code;
        registered.clear();
    }
    ~Refusal() { refuseRegistrationOf = nullptr; }
};

} // namespace

TEST(Registration, ARefusalStopsAtOnceWithItsCode) {
    Refusal refusal("ExpatGetVariablePool", RXFUNC_NOMEM);
    Result r;
    EXPECT_EQ(call(ExpatLoadFuncs, {}, r), static_cast<APIRET>(RXFUNC_NOMEM));
    // Entries 0 and 1 were registered before it; nothing after it was attempted.
    ASSERT_EQ(registered.size(), 3u);
    EXPECT_EQ(registered[0], "ExpatDropFuncs");
    EXPECT_EQ(registered[1], "ExpatSetVariablePool");
    EXPECT_EQ(registered[2], "ExpatGetVariablePool");
}

TEST(Registration, AlreadyRegisteredCountsAsRegistered) {
    Refusal refusal("ExpatDropFuncs", RXFUNC_DEFINED);
    Result r;
    EXPECT_EQ(call(ExpatLoadFuncs, {}, r), 0u);
    EXPECT_EQ(registered.size(), 38u);
    EXPECT_EQ(registered.back(), "ExpatSetParamEntityParsing");
    EXPECT_EQ(r.rx.strlength, 0u); // an empty result, not the interpreter's buffer
}
