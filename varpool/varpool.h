// A parser's chain of variable-pool requests: variables fetched from one Rexx program and
// assigned in another (a main program and its handler procedures, each with its own pool).
//
// ExpatSetVariablePool(handle) releases the chain and captures every variable of the calling
// program; ExpatSetVariablePool(handle, name, ...) appends one fetch per given, non-empty name
// (names go to the interpreter as given: stem part in any case, tails literally).
// ExpatGetVariablePool(handle) assigns the whole chain in the calling program and keeps it, so
// it can be assigned again. ExpatFreeVariablePool(handle) releases it and answers 0. Set and
// Get answer the OR of the interpreter's flags: 1 a variable new to the pool, 2 the end of an
// enumeration (a clean capture of all variables answers 2), 8 a name it rejects; Get on an
// empty chain answers what Regina answers for an empty request list, 70.
//
// Assigning keeps what was captured:
// - Stems (names whose only dot ends them) go first: Regina lists a stem's tails before the
//   stem, and assigning the stem afterwards would reset them.
// - A variable that was unset when fetched arrives dropped, not set to its own name.
// - A tail a symbol cannot hold (xml:lang, a blank, a NUL) is refused as a direct name, so it
//   is assigned symbolically through QUILLMARK_TAIL_, whose own value (or absence) in the
//   program is saved and restored around it.
// - A name refused when fetched (a b, a+b, s.a b) captured nothing: it stays in the chain,
//   shows only in the numbers and assigns nothing. Capture odd tails with the handle alone.
// - The enumeration ends on the interpreter's "last variable" flag, or on an answer with no
//   variable at all (144 when no program runs on the thread).
//
// Ownership, by design a deep copy at child creation rather than one chain shared with a
// count: every record owns its chain alone. An external-entity parser gets a deep copy of its
// parent's chain when it is made, so the requests the parent held then are the child's too,
// and releasing or rebuilding either chain can never leave the other naming released blocks.
// ExpatParserFree releases the record's own chain.
#pragma once

#include "../package/platform.h"

// Gives *destination its own copy of the chain at source (releasing what it held).
void _ExpatCopyVariablePool(const SHVBLOCK* source, SHVBLOCK** destination);
// Releases the chain and every name and value buffer in it; leaves the head empty. Answers 0.
int _ExpatFreeRexxVariablePool(SHVBLOCK** head);
