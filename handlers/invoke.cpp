// Running one procedure: its arguments, the interpreter call its mode asks for, and what its
// result says.
#include "handler.h"

#include "../package/helper.h"
#include "../parser/record.h"

#include <cstdio>
#include <cstring>

namespace quillmark {

namespace {

// Regina's RexxStart and RexxCallBack take at most this many arguments.
constexpr std::uint32_t kMaxArguments = 32;

// True on a helper thread while it runs the package's own work and no procedure: the only
// place where a program of its own may start at top level.
thread_local bool tAtTopLevel = false;

// While a procedure runs on this thread, it is no longer at top level.
struct InProcedure {
    bool saved;
    InProcedure() : saved(tAtTopLevel) { tAtTopLevel = false; }
    InProcedure(const InProcedure&) = delete;
    InProcedure& operator=(const InProcedure&) = delete;
    ~InProcedure() { tAtTopLevel = saved; }
};

thread_local PCSZ tQueue = nullptr;

// ---- arguments --------------------------------------------------------------------------------

// The handle and the values, pointing at the values' own memory: the interpreter copies them.
// A start tag with more attributes than the arguments hold also has every value after the
// element name for the ATTRIBUTE. stem.
struct Arguments {
    RXSTRING list[kMaxArguments];
    std::uint32_t count;
    const Value* overflow;
    std::uint32_t overflowCount;
    std::size_t bytes; // what the interpreter copies
};

void buildArguments(const ParserRecord* record, const Value* values, std::uint32_t count,
                    Arguments& args) {
    const std::uint32_t total = count + 1;
    args.count = total < kMaxArguments ? total : kMaxArguments;
    args.list[0] = rxstring(record->handleLength, const_cast<char*>(record->handleText));
    args.bytes = args.list[0].strlength;
    for (std::uint32_t i = 1; i < args.count; ++i) {
        const Value& v = values[i - 1];
        args.list[i] =
            v.text ? rxstring(v.length, const_cast<char*>(v.text)) : RXSTRING{0, nullptr};
        args.bytes += v.length;
    }
    args.overflow = total > kMaxArguments ? values + 1 : nullptr;
    args.overflowCount = total > kMaxArguments ? count - 1 : 0;
}

// ATTRIBUTE.0 the number of entries, ATTRIBUTE.1 ... ATTRIBUTE.n the entries, in the variables of
// the program running on this thread; what the stem held before is dropped.
void assignAttributeStem(const Value* values, std::uint32_t count) {
    const std::uint32_t blocks = count + 2;
    constexpr std::size_t kNameSize = sizeof "ATTRIBUTE.4294967295";
    auto* chain = allocateArray<SHVBLOCK>(blocks);
    auto* names = allocateArray<char>(blocks * kNameSize);
    char countText[16];
    int countLength = std::snprintf(countText, sizeof countText, "%u", count);
    for (std::uint32_t i = 0; i < blocks; ++i) {
        char* name = names + i * kNameSize;
        int n = i == 0 ? std::snprintf(name, kNameSize, "ATTRIBUTE.")
                       : std::snprintf(name, kNameSize, "ATTRIBUTE.%u", i - 1);
        SHVBLOCK& b = chain[i];
        std::memset(&b, 0, sizeof b);
        b.shvnext = i + 1 < blocks ? &chain[i + 1] : nullptr;
        b.shvname = rxstring(static_cast<std::size_t>(n), name);
        b.shvnamelen = static_cast<ULONG>(n);
        if (i == 0) {
            b.shvcode = RXSHV_DROPV;
            continue;
        }
        Value v = i == 1 ? Value{countText, static_cast<std::size_t>(countLength)} : values[i - 2];
        b.shvvalue = rxstring(v.length, const_cast<char*>(v.text));
        b.shvvaluelen = static_cast<ULONG>(v.length);
        b.shvcode = RXSHV_SET;
    }
    RexxVariablePool(chain);
    release(names);
    release(chain);
}

// ---- results ---------------------------------------------------------------------------------

// Expat's answer: any non-zero whole number lets the parse go on. It is read from the returned
// string, since the return code the interpreter reports keeps only 16 bits; a string that is
// no whole number leaves the return code.
int answerOf(const RXSTRING& result, SHORT returnCode) {
    long long value;
    if (result.strptr && readWholeNumber(result.strptr, result.strlength, &value))
        return value != 0;
    return returnCode;
}

void readResult(Outcome& outcome, Kind kind, const RXSTRING& result, SHORT returnCode,
                ResultReader reader, void* context) {
    outcome.hasResult = result.strptr && result.strlength;
    if (eventInfo(kind).result == ResultUse::Answer) outcome.answer = answerOf(result, returnCode);
    if (reader) reader(result, returnCode, context);
}

// One line per failed run, with the handler's kind and name (a label or program name; in-store
// source is too long to show).
void reportFailedRun(long code, Kind kind, Mode mode, const char* name, const char* why = "") {
    const char* what = code < 0 ? "rexx interpreter error" : "can't find/load Interpreter";
    if (mode == Mode::Instore)
        diagnose(" (Error %d): %s (%s handler, in-store)", static_cast<int>(code), what,
                 eventInfo(kind).name);
    else
        diagnose(" (Error %d): %s (%s handler \"%.200s\"%s)", static_cast<int>(code), what,
                 eventInfo(kind).name, name, why);
}

// Rexx's error for a label that cannot be found.
constexpr long kLabelNotFound = -16;
// No helper thread could be started: the interpreter cannot be started for the procedure.
constexpr long kNoHelper = RX_DIDNT_START;

struct Run {
    ParserRecord* record;
    HandlerRecord* handler;
    Kind kind;
    const Value* values;
    std::uint32_t count;
    ResultReader reader;
    void* readerContext;
    Outcome outcome;
};

// ---- labels ------------------------------------------------------------------------------------

// On the thread of the program the label belongs to. The record is not touched after the call:
// the label may free it, or never return (an EXIT, or an error the program traps).
void runLabel(void* context) {
    Run& run = *static_cast<Run*>(context);
    HandlerRecord* handler = run.handler;
    // Within one ExpatParse call the program is the same: its answer is kept for the call.
    const std::uint64_t call = run.record->drivingCall;
    if (!call || handler->checkedIn != call) {
        handler->labelPlace = static_cast<unsigned char>(placeOfLabel(handler->procedure));
        handler->checkedIn = call;
    }
    const auto place = static_cast<LabelPlace>(handler->labelPlace);
    // The report names the label after the call, when a setter the label calls may have
    // released the record: a copy is kept (long names shortened, as the report shows them).
    char label[201];
    std::size_t length = std::strlen(handler->procedure);
    if (length >= sizeof label) length = sizeof label - 1;
    std::memcpy(label, handler->procedure, length);
    label[length] = '\0';
    long code = 0;
    if (place != LabelPlace::Callable) {
        code = kLabelNotFound;
    } else {
        Arguments args;
        buildArguments(run.record, run.values, run.count, args);
        if (args.overflow) assignAttributeStem(args.overflow, args.overflowCount);
        RXSTRING result{0, nullptr};
        SHORT returnCode = 0;
        // The interpreter copies the name before the label runs.
        APIRET rc = RexxCallBack(handler->procedure, static_cast<LONG>(args.count), args.list,
                                 &returnCode, &result);
        if (rc == RX_CB_BADN)
            code = kLabelNotFound;
        else if (rc != 0)
            code = static_cast<long>(rc);
        else
            readResult(run.outcome, run.kind, result, returnCode, run.reader, run.readerContext);
        release(result.strptr);
    }
    run.outcome.clean = code == 0;
    if (code)
        reportFailedRun(code, run.kind, Mode::Label, label,
                        place == LabelPlace::Unreadable
                            ? ": the program's source cannot be read, or changed after it started"
                            : "");
}

// ---- programs of their own --------------------------------------------------------------------

constexpr const char* kAttributeExit = "QuillmarkAttributes";
thread_local const Arguments* tPendingStem = nullptr;

// Runs before the procedure's first instruction, with its variable pool available.
LONG APIENTRY attributeInitExit(LONG function, LONG subfunction, PEXIT) {
    if (function != RXINI || subfunction != RXINIEXT || !tPendingStem) return RXEXIT_NOT_HANDLED;
    const Arguments& args = *tPendingStem;
    tPendingStem = nullptr;
    assignAttributeStem(args.overflow, args.overflowCount);
    return RXEXIT_HANDLED;
}

// Variables a procedure sets in the process environment (VALUE(name, v, 'ENVIRONMENT'),
// PUTENV) go to the C library's own storage: Regina would putenv a string of the instance,
// which the next renewal of the instance releases under the process environment.
constexpr const char* kEnvironmentExit = "QuillmarkEnvironment";

LONG APIENTRY environmentExit(LONG function, LONG subfunction, PEXIT parameters) {
    if (function != RXENV || subfunction != RXENVSET) return RXEXIT_NOT_HANDLED;
    const auto* set = reinterpret_cast<const RXENVSET_PARM*>(parameters);
    const RXSTRING& name = set->rxenv_name;
    const RXSTRING& value = set->rxenv_value;
    if (!name.strptr) return RXEXIT_NOT_HANDLED;
    char* n = copyBytes(name.strptr, name.strlength);
    char* v = value.strptr ? copyBytes(value.strptr, value.strlength) : nullptr;
    setEnvironment(n, v);
    release(v);
    release(n);
    return RXEXIT_HANDLED;
}

// Exits, like functions, are registered with the thread's interpreter instance.
void registerExits(unsigned instance) {
    thread_local unsigned registered = ~0u;
    if (registered == instance) return;
    RexxRegisterExitExe(kAttributeExit, attributeInitExit, nullptr);
    RexxRegisterExitExe(kEnvironmentExit, environmentExit, nullptr);
    registered = instance;
}

// Regina deletes the environment a RexxStart names when the call returns; its own environments
// then stay gone for the next procedure of this instance.
bool reginasEnvironment(const char* name) {
    static constexpr const char* kNames[] = {"COMMAND", "SYSTEM", "OS2ENVIRONMENT", "ENVIRONMENT",
                                             "CMD",     "PATH",   "REGINA",         "REXX"};
    for (const char* n : kNames)
        if (name && std::strcmp(name, n) == 0) return true;
    return false;
}

// RexxStart takes the pair as an array of two RXSTRINGs.
static_assert(sizeof(InstorePair) == 2 * sizeof(RXSTRING) &&
              offsetof(InstorePair, image) == sizeof(RXSTRING));

// At top level on a helper: nothing of the program that called ExpatParse is touched.
void runProgram(void* context) {
    Run& run = *static_cast<Run*>(context);
    HandlerRecord* handler = run.handler;
    registerExits(renewInstance());
    ++handler->running;
    long code = 0;
    if (!handler->empty) {
        Arguments args;
        buildArguments(run.record, run.values, run.count, args);
        // Only a start tag with more attributes than the arguments hold gets the stem.
        RXSYSEXIT exits[3] = {{const_cast<char*>(kEnvironmentExit), RXENV},
                              {const_cast<char*>(kAttributeExit), RXINI},
                              {nullptr, RXENDLST}};
        if (!args.overflow) exits[1] = RXSYSEXIT{nullptr, RXENDLST};
        const Arguments* savedStem = tPendingStem;
        tPendingStem = args.overflow ? &args : nullptr;
        char preset[RXAUTOBUFLEN];
        RXSTRING result{sizeof preset, preset};
        SHORT returnCode = 0;
        queueReady();
        ++run.record->procedures;
        {
            InProcedure running;
            RunningSource source(handler->instore ? &handler->instore->source : nullptr);
            code = RexxStart(static_cast<LONG>(args.count), args.list, handler->procedure,
                             reinterpret_cast<PRXSTRING>(handler->instore), handler->environment,
                             RXSUBROUTINE, exits, &returnCode, &result);
        }
        --run.record->procedures;
        tPendingStem = savedStem;
        // Regina keeps a copy of every argument, and some more, until the instance ends.
        noteRun(args.bytes + 64 * args.count + 256);
        if (reginasEnvironment(handler->environment)) needFreshInstance();
        if (code == 0)
            readResult(run.outcome, run.kind, result, returnCode, run.reader, run.readerContext);
        if (result.strptr != preset) release(result.strptr);
    }
    run.outcome.clean = code == 0;
    if (code) reportFailedRun(code, run.kind, handler->mode, handler->procedure);
    --handler->running;
    if (handler->detached && !handler->running) letGo(handler);
}

} // namespace

CallerQueue::CallerQueue(PCSZ queue) : saved(tQueue) {
    tQueue = queue;
}

CallerQueue::~CallerQueue() {
    tQueue = saved;
}

PCSZ callerQueue() {
    return tQueue;
}

TopLevelWork::TopLevelWork() : saved(tAtTopLevel) {
    tAtTopLevel = true;
}

TopLevelWork::~TopLevelWork() {
    tAtTopLevel = saved;
}

Value valueOf(const char* text) {
    return Value{text, text ? std::strlen(text) : 0};
}

Outcome runNow(ParserRecord* record, Kind kind, const Value* values, std::uint32_t count,
               ResultReader reader, void* readerContext) {
    HandlerRecord* handler = slotOf(record, kind);
    Run run{record, handler, kind,          values,
            count,  reader,  readerContext, Outcome{false, false, false, 0}};
    if (!handler) return run.outcome;
    run.outcome.ran = true;
    if (handler->mode == Mode::Label) {
        // While Expat waits for the answer its frames stay below the label: the parser must not
        // be fed or freed from inside it.
        const bool expatWaits = record->phase == Phase::Parsing;
        if (expatWaits) ++record->answering;
        // A label runs on its program's thread, which a helper hands the work back to.
        if (tAtTopLevel)
            runOnCaller(runLabel, &run);
        else
            runLabel(&run);
        if (expatWaits) --record->answering;
    } else if (tAtTopLevel) {
        runProgram(&run);
    } else {
        auto onHelper = [](void* context) {
            TopLevelWork top;
            runProgram(context);
        };
        if (!runOnHelper(onHelper, &run, tQueue, nesting())) {
            reportFailedRun(kNoHelper, kind, handler->mode, handler->procedure);
            run.outcome.clean = false;
        }
    }
    return run.outcome;
}

} // namespace quillmark
