// A chain of variable-pool requests: variables fetched from one Rexx program and assigned in
// another. Every operation works on the program running on the calling thread.
#pragma once

#include "../package/frame.h"

namespace quillmark {

// Releases the chain and every name and value buffer in it; leaves the head empty.
void freeChain(SHVBLOCK** head);
// Gives *to its own copy of the chain at from, releasing what it held.
void copyChain(const SHVBLOCK* from, SHVBLOCK** to);
// Replaces the chain by one request per variable of the program. Answers the OR of what the
// interpreter answered.
ULONG captureAll(SHVBLOCK** head);
// Appends one fetch request per given, non-empty name, as the caller wrote it, in place of what
// the chain held for that variable.
ULONG captureNames(SHVBLOCK** head, const RXSTRING* names, ULONG count);
// Assigns every variable of the chain in the program and keeps the chain.
ULONG assignChain(SHVBLOCK* head);

} // namespace quillmark
