// ExpatLoadFuncs against refusals of the interpreter, which a Rexx program cannot provoke.
#include "alloc_substitute.h"
#include "host.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace quillmark_test;

namespace {

#define QUILLMARK_NAME(name) #name,
const char* const kFunctions[] = {QUILLMARK_FUNCTIONS(QUILLMARK_NAME)};
#undef QUILLMARK_NAME
constexpr std::size_t kRegistered = sizeof kFunctions / sizeof kFunctions[0] - 1;

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
    // The names before it were registered; nothing after it was attempted.
    ASSERT_EQ(registered.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(registered[i], kFunctions[i + 1]);
}

TEST(Registration, AlreadyRegisteredCountsAsRegistered) {
    Refusal refusal("ExpatDropFuncs", RXFUNC_DEFINED);
    Result r;
    EXPECT_EQ(call(ExpatLoadFuncs, {}, r), 0u);
    ASSERT_EQ(registered.size(), kRegistered);
    for (std::size_t i = 0; i < kRegistered; ++i) EXPECT_EQ(registered[i], kFunctions[i + 1]);
    EXPECT_EQ(r.rx.strlength, 0u); // an empty result, not the interpreter's buffer
}
