// Helper threads: each thread that asks gets one thread of its own, with an interpreter
// instance of its own, on which procedures run at top level without touching the asking
// program's streams, environments or name. The external data queue goes over with each hand-off
// and comes back with the answer, so a procedure on the helper shares the program's queue.
#pragma once

#include "frame.h"

namespace quillmark {

using Job = void (*)(void* context);

// Runs job on the calling thread's helper and waits for it. While it runs, the helper may hand
// work back with runOnCaller. depth is how deeply the work is nested, for the helper to answer
// from handedDepth. False, with nothing run, when no helper thread could be started.
bool runOnHelper(Job job, void* context, PCSZ queue, int depth);

// From a job on a helper: runs job on the thread that handed the job over, and waits for it.
void runOnCaller(Job job, void* context);

// Before a procedure runs on a helper: the lines the program has queued come over, if any are
// still on its side. (What procedures queue goes back whenever the helper hands work back.)
void queueReady();

// On a helper, the depth its current job was handed over with; 0 on a program's own thread.
int handedDepth();

// A procedure ran at top level on this thread, handing over this many bytes: Regina keeps every
// argument of every RexxStart, and some more for each run, until the instance ends.
void noteRun(std::size_t bytes);
// The next run needs a fresh instance.
void needFreshInstance();
// The package's functions were dropped on this thread.
void functionsDropped();
// Between runs: ends this thread's interpreter instance when it keeps too much or must be
// fresh (the next call starts a new one), and registers the package's functions where they are
// missing. Answers the instance's number, which changes with every new instance (so that what
// is registered per instance can be registered again).
unsigned renewInstance();

} // namespace quillmark
