#include "helper.h"

#include "functions.h"

#include <condition_variable>
#include <mutex>
#include <new>

namespace quillmark {

namespace {

// A handler program runs on the helper's own stack, as deep as on a program's thread.
constexpr std::size_t kHelperStack = std::size_t{8} << 20;
// What a helper's instance may keep before it is renewed: about 2 000 calls with a 1 KiB
// argument, or 1 000 runs (Regina also keeps about 50 bytes for each DO control variable of each
// run). Renewing costs tens of microseconds.
constexpr std::size_t kKeptBound = std::size_t{4} << 20;
constexpr unsigned kRunBound = 1000;

// Lines of the external data queue on their way from one thread's instance to another's.
struct Baton {
    RXSTRING* lines = nullptr;
    std::size_t count = 0, capacity = 0;
};

PSZ queueName(PCSZ queue) {
    return const_cast<PSZ>(queue && *queue ? queue : "SESSION");
}

// Takes every line of this thread's queue, in order.
void takeQueue(PCSZ queue, Baton& baton) {
    ULONG waiting = 0;
    if (RexxQueryQueue(queueName(queue), &waiting) != 0) return;
    for (ULONG i = 0; i < waiting; ++i) {
        RXSTRING line{0, nullptr};
        REXXDATETIME stamp;
        if (RexxPullQueue(queueName(queue), &line, &stamp, RXQUEUE_NOWAIT) != 0) break;
        if (baton.count == baton.capacity) {
            std::size_t capacity = baton.capacity ? 2 * baton.capacity : 16;
            auto* grown = allocateArray<RXSTRING>(capacity);
            for (std::size_t j = 0; j < baton.count; ++j) grown[j] = baton.lines[j];
            release(baton.lines);
            baton.lines = grown;
            baton.capacity = capacity;
        }
        baton.lines[baton.count++] = line;
    }
}

// Queues the lines, first in first out, on this thread's queue.
void giveQueue(PCSZ queue, Baton& baton) {
    for (std::size_t i = 0; i < baton.count; ++i) {
        RexxAddQueue(queueName(queue), &baton.lines[i], RXQUEUE_FIFO);
        release(baton.lines[i].strptr);
    }
    baton.count = 0;
}

enum class Turn { Owner, Helper };

struct Helper {
    std::mutex lock;
    std::condition_variable changed;
    Turn turn = Turn::Owner;
    Job job = nullptr; // for the helper
    void* context = nullptr;
    Job back = nullptr; // from the helper, for the owner
    void* backContext = nullptr;
    bool done = false;
    bool quit = false;
    bool engaged = false; // a job was handed over and has not come back
    // The queue stays where the last Rexx code ran until the other side runs some: lines come
    // over to the helper before its first procedure that may use them, and go back whenever
    // it hands work back.
    Baton baton;
    PCSZ ownerQueue = nullptr;
    ULONG ownerWaiting = 0; // lines on the owner's queue, as of the last hand-over
    bool fetching = false;  // the work handed back brings the owner's lines over
    int depth = 0;          // of the job
    Thread thread{};
    Helper* next = nullptr; // the owner's next helper
};

// The helpers a thread owns, ended with the thread. Nearly always one: another is started only
// while the first is engaged, as when a procedure the first handed back starts a parse of its
// own, or when a label handed back never returned (its helper then stays engaged for good).
struct Owned {
    Helper* first = nullptr;
    ~Owned();
};
thread_local Owned tOwned;
// On a helper thread: the helper it is.
thread_local Helper* tServing = nullptr;

struct Instance {
    std::size_t kept = 0;
    unsigned runs = 0;
    bool fresh = false;
    bool dropped = false;
    unsigned number = 0;
};
thread_local Instance tInstance;

using Entry = APIRET APIENTRY(PCSZ, ULONG, PRXSTRING, PCSZ, PRXSTRING);
struct Function {
    const char* name;
    Entry* entry;
};
#define QUILLMARK_ROW(name) {#name, name},
constexpr Function kFunctions[] = {QUILLMARK_FUNCTIONS(QUILLMARK_ROW)};
#undef QUILLMARK_ROW

// A helper's instance has the package's functions as the program's has them after
// ExpatLoadFuncs, so that handler procedures can call them.
void registerFunctions() {
    for (const Function& f : kFunctions)
        RexxRegisterFunctionExe(f.name, reinterpret_cast<RexxFunctionHandler*>(f.entry));
}

void serve(void* argument) {
    auto* helper = static_cast<Helper*>(argument);
    tServing = helper;
    registerFunctions();
    std::unique_lock<std::mutex> guard(helper->lock);
    for (;;) {
        helper->changed.wait(guard, [&] { return helper->turn == Turn::Helper; });
        if (helper->quit) break;
        guard.unlock();
        helper->job(helper->context);
        takeQueue(nullptr, helper->baton);
        guard.lock();
        helper->done = true;
        helper->turn = Turn::Owner;
        helper->changed.notify_all();
    }
}

Helper* startHelper() {
    auto* helper = new (allocate(sizeof(Helper))) Helper();
    if (!startThread(serve, helper, kHelperStack, &helper->thread)) {
        helper->~Helper();
        release(helper);
        return nullptr;
    }
    return helper;
}

Owned::~Owned() {
    // Ending with the process: on Windows the helpers' threads are stopped already, and
    // destroying a condition variable a stopped thread waited on never returns.
    if (processEnding()) return;
    while (Helper* helper = first) {
        first = helper->next;
        // An engaged helper waits for an answer that will never come: it is left as it is.
        if (helper->engaged) continue;
        {
            std::lock_guard<std::mutex> guard(helper->lock);
            helper->quit = true;
            helper->turn = Turn::Helper;
            helper->changed.notify_all();
        }
        joinThread(helper->thread);
        for (std::size_t i = 0; i < helper->baton.count; ++i)
            release(helper->baton.lines[i].strptr);
        release(helper->baton.lines);
        helper->~Helper();
        release(helper);
    }
}

Helper* idleHelper() {
    Helper** link = &tOwned.first;
    while (*link && (*link)->engaged) link = &(*link)->next;
    if (!*link) *link = startHelper();
    return *link;
}

} // namespace

ULONG queueLength(PCSZ queue) {
    ULONG waiting = 0;
    return RexxQueryQueue(queueName(queue), &waiting) == 0 ? waiting : 0;
}

bool runOnHelper(Job job, void* context, PCSZ queue, int depth) {
    Helper* helper = idleHelper();
    if (!helper) return false;
    helper->engaged = true;
    std::unique_lock<std::mutex> guard(helper->lock);
    helper->job = job;
    helper->context = context;
    helper->depth = depth;
    helper->ownerQueue = queue;
    helper->ownerWaiting = queueLength(queue);
    helper->done = false;
    helper->turn = Turn::Helper;
    helper->changed.notify_all();
    for (;;) {
        helper->changed.wait(guard, [&] { return helper->turn == Turn::Owner; });
        if (helper->done) break;
        Job back = helper->back;
        void* backContext = helper->backContext;
        helper->back = nullptr;
        guard.unlock();
        giveQueue(queue, helper->baton);
        if (back) back(backContext);
        if (helper->fetching) takeQueue(queue, helper->baton);
        helper->fetching = false;
        helper->ownerWaiting = queueLength(queue);
        guard.lock();
        helper->turn = Turn::Helper;
        helper->changed.notify_all();
    }
    guard.unlock();
    giveQueue(queue, helper->baton);
    helper->engaged = false;
    return true;
}

namespace {

// Hands work (or, with none, the owner's queued lines) back to the owner and waits.
void handBack(Helper* helper, Job job, void* context, bool fetch) {
    takeQueue(nullptr, helper->baton);
    {
        std::unique_lock<std::mutex> guard(helper->lock);
        helper->back = job;
        helper->backContext = context;
        helper->fetching = fetch;
        helper->turn = Turn::Owner;
        helper->changed.notify_all();
        helper->changed.wait(guard, [&] { return helper->turn == Turn::Helper; });
    }
    giveQueue(nullptr, helper->baton);
}

} // namespace

void runOnCaller(Job job, void* context) {
    if (Helper* helper = tServing)
        handBack(helper, job, context, false);
    else
        job(context);
}

void queueReady() {
    Helper* helper = tServing;
    if (helper && helper->ownerWaiting) handBack(helper, nullptr, nullptr, true);
}

int handedDepth() {
    return tServing ? tServing->depth : 0;
}

void noteRun(std::size_t bytes) {
    tInstance.kept += bytes;
    ++tInstance.runs;
}

void functionsDropped() {
    tInstance.dropped = true;
}

void needFreshInstance() {
    tInstance.fresh = true;
}

unsigned renewInstance() {
    if (tInstance.kept > kKeptBound || tInstance.runs > kRunBound || tInstance.fresh) {
        // The queue belongs to the instance: it is kept across the renewal.
        Baton kept;
        takeQueue(nullptr, kept);
        ReginaCleanup();
        giveQueue(nullptr, kept);
        release(kept.lines);
        tInstance.kept = 0;
        tInstance.runs = 0;
        tInstance.fresh = false;
        ++tInstance.number;
        registerFunctions();
    } else if (tInstance.dropped) {
        // A procedure dropped them: the next one needs them as much.
        registerFunctions();
    }
    tInstance.dropped = false;
    return tInstance.number;
}

} // namespace quillmark
