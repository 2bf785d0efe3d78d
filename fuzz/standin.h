// A stand-in for the interpreter's RexxStart, RexxCallBack, RexxRegisterExitExe,
// RexxVariablePool, the queue functions and ReginaCleanup, linked into the fuzz binaries ahead
// of Regina's. The real interpreter costs about a millisecond to
// tokenise each in-store handler on its own thread; the stand-in runs thousands of inputs a
// second and checks every argument list the package hands over. Memory still comes from
// Regina's RexxAllocateMemory and RexxFreeMemory.
#pragma once

#include "../package/platform.h"

#include <string>

namespace standin {

// One handler procedure call as the package made it.
struct Call {
    std::string program; // the external name or label, or the in-store image the stand-in made
    bool label;          // run by RexxCallBack
    ULONG argc;
    const RXSTRING* argv;
    int depth; // 1 for a call made from the fuzz driver's own calls
};

// What the procedure answers.
struct Answer {
    LONG code = 0; // RexxStart's answer: 0, or a negative Rexx error
    SHORT rc = 0;  // the return code
    bool value = false;
    std::string result; // the returned string, when value
};

// Set by each target: what a procedure does.
extern void (*run)(const Call& call, Answer& answer);

// In-store sources starting with this character fail to tokenise (a syntax error).
inline constexpr char kBadSource = '!';

// Drops every variable of every level (between inputs).
void reset();

} // namespace standin
