// A parser's chain of variable-pool requests: variables fetched from one Rexx program and
// assigned in another (a main program and its handler procedures).
//
// Ownership: every record owns its chain alone. An external-entity parser gets a deep copy of
// its parent's chain when it is made, so the requests the parent held then are the child's too,
// and releasing or rebuilding either chain can never leave the other naming released blocks.
// ExpatParserFree releases the record's chain.
#pragma once

#include "../package/platform.h"

// Gives *destination its own copy of the chain at source (releasing what it held).
void _ExpatCopyVariablePool(const SHVBLOCK* source, SHVBLOCK** destination);
// Releases the chain and every name and value buffer in it; leaves the head empty. Answers 0.
int _ExpatFreeRexxVariablePool(SHVBLOCK** head);
