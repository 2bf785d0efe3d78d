#include "standin.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace standin {
void (*run)(const Call&, Answer&) = nullptr;
}

namespace {

std::map<std::string, RexxExitHandler*> exitHandlers;

// One variable pool per running procedure, like the interpreter; level 0 is the main program.
struct Level {
    std::map<std::string, std::string> variables;
    std::map<std::string, std::string>::iterator next;
    bool enumerating = false;
};
// Each thread has an interpreter instance of its own, as with Regina.
thread_local std::vector<Level> levels(1);
thread_local std::deque<std::string> queue;

// Every byte of an argument is read, so that the sanitizer sees a list that points anywhere
// it should not. Regina copies arguments by their length: no NUL need follow them.
void checkArguments(LONG argc, const RXSTRING* argv) {
    if (argc < 0 || argc > 32) std::abort();
    if (argc > 0 && !argv) std::abort();
    unsigned sum = 0;
    for (LONG i = 0; i < argc; ++i) {
        const RXSTRING& a = argv[i];
        if (!a.strptr) {
            if (a.strlength) std::abort();
            continue;
        }
        for (ULONG j = 0; j < a.strlength; ++j) sum += static_cast<unsigned char>(a.strptr[j]);
    }
    asm volatile("" : : "r"(sum)); // keeps the reads
}

char* copyOut(const std::string& s) {
    char* p = static_cast<char*>(RexxAllocateMemory(static_cast<ULONG>(s.size() + 1)));
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

LONG callExit(PRXSYSEXIT exits, LONG function) {
    for (PRXSYSEXIT e = exits; e && e->sysexit_code != RXENDLST; ++e) {
        if (e->sysexit_code != function) continue;
        auto it = exitHandlers.find(e->sysexit_name);
        if (it == exitHandlers.end()) std::abort(); // the package names only exits it registered
        return it->second(function, function == RXINI ? RXINIEXT : 0, nullptr);
    }
    return RXEXIT_NOT_HANDLED;
}

std::string text(const RXSTRING& s) {
    return s.strptr ? std::string(s.strptr, s.strlength) : "";
}

} // namespace

extern "C" APIRET APIENTRY RexxRegisterExitExe(PCSZ name, RexxExitHandler* handler, PUCHAR) {
    exitHandlers[name] = handler;
    return 0;
}

extern "C" APIRET APIENTRY RexxStart(LONG argc, PRXSTRING argv, PCSZ name, PRXSTRING instore, PCSZ,
                                     LONG callType, PRXSYSEXIT exits, PSHORT rc, PRXSTRING result) {
    if (callType != RXSUBROUTINE || !name || !rc || !result) std::abort();
    checkArguments(argc, argv);
    standin::Call call{name, false, static_cast<ULONG>(argc), argv, 0};
    if (instore) {
        const RXSTRING& source = instore[0];
        RXSTRING& image = instore[1];
        if (!source.strptr && !image.strptr) return 0; // macro space: runs nothing, as Regina
        if (!image.strptr) {
            // Tokenising: a bad source fails before any exit runs.
            std::string s = text(source);
            if (!s.empty() && s[0] == standin::kBadSource) return -64;
            std::string made = "IMAGE" + std::string(1, '\0') + s;
            image = RXSTRING{made.size(), copyOut(made)};
        }
        const std::string img = text(image);
        if (img.compare(0, 6, std::string("IMAGE\0", 6)) != 0) std::abort(); // damaged image
        call.program = img.substr(6);
    }
    // The initialisation exit runs with the new program's variables; one that raises an error
    // stops the program before it starts.
    levels.emplace_back();
    if (callExit(exits, RXINI) == RXEXIT_RAISE_ERROR) {
        levels.pop_back();
        return -48;
    }
    call.depth = static_cast<int>(levels.size()) - 1;
    standin::Answer answer;
    if (standin::run) standin::run(call, answer);
    levels.pop_back();

    *rc = answer.rc;
    if (!answer.value) {
        *result = RXSTRING{0, nullptr};
    } else if (result->strptr && answer.result.size() < result->strlength) {
        std::memcpy(result->strptr, answer.result.data(), answer.result.size());
        result->strlength = answer.result.size();
    } else {
        *result = RXSTRING{answer.result.size(), copyOut(answer.result)};
    }
    return answer.code;
}

// A label runs in the program's own variables; a procedure that fails is a label not found.
extern "C" APIRET APIENTRY RexxCallBack(PCSZ name, LONG argc, PRXSTRING argv, PSHORT rc,
                                        PRXSTRING result) {
    if (!name || !rc || !result) std::abort();
    checkArguments(argc, argv);
    standin::Call call{name, true, static_cast<ULONG>(argc), argv, static_cast<int>(levels.size())};
    standin::Answer answer;
    if (standin::run) standin::run(call, answer);
    if (answer.code != 0) return RX_CB_BADN;
    *rc = answer.rc;
    *result = answer.value ? RXSTRING{answer.result.size(), copyOut(answer.result)}
                           : RXSTRING{0, nullptr};
    return 0;
}

extern "C" APIRET APIENTRY RexxRegisterFunctionExe(PCSZ, RexxFunctionHandler*) {
    return 0;
}

extern "C" APIRET APIENTRY ReginaCleanup() {
    levels.assign(1, Level{});
    queue.clear();
    return 0;
}

extern "C" ULONG APIENTRY RexxQueryQueue(PSZ, ULONG* count) {
    *count = queue.size();
    return 0;
}

extern "C" ULONG APIENTRY RexxAddQueue(PSZ, PRXSTRING line, ULONG order) {
    std::string text = line->strptr ? std::string(line->strptr, line->strlength) : "";
    if (order == RXQUEUE_LIFO)
        queue.push_front(text);
    else
        queue.push_back(text);
    return 0;
}

extern "C" ULONG APIENTRY RexxPullQueue(PSZ, PRXSTRING line, PDATETIME, ULONG) {
    if (queue.empty()) return RXQUEUE_EMPTY;
    *line = RXSTRING{queue.front().size(), copyOut(queue.front())};
    queue.pop_front();
    return 0;
}

// The subset of the variable pool the package uses: SET, FETCH, DROPV, their symbolic forms
// (taken as direct here) and NEXTV; names are taken as given.
extern "C" APIRET APIENTRY RexxVariablePool(PSHVBLOCK chain) {
    Level& level = levels.back();
    APIRET combined = 0;
    for (PSHVBLOCK b = chain; b; b = b->shvnext) {
        b->shvret = RXSHV_OK;
        std::string name = text(b->shvname);
        switch (b->shvcode) {
        case RXSHV_SET:
        case RXSHV_SYSET:
            if (name.empty()) {
                b->shvret = RXSHV_BADN;
                break;
            }
            if (!level.variables.count(name)) b->shvret = RXSHV_NEWV;
            level.variables[name] = text(b->shvvalue);
            level.enumerating = false;
            break;
        case RXSHV_FETCH:
        case RXSHV_SYFET: {
            auto it = level.variables.find(name);
            std::string value = it == level.variables.end() ? name : it->second;
            if (it == level.variables.end()) b->shvret = RXSHV_NEWV;
            if (!b->shvvalue.strptr) {
                b->shvvalue = RXSTRING{value.size(), copyOut(value)};
            } else {
                ULONG n = value.size() < b->shvvaluelen ? value.size() : b->shvvaluelen;
                std::memcpy(b->shvvalue.strptr, value.data(), n);
                b->shvvalue.strlength = n;
                if (n < value.size()) b->shvret |= RXSHV_TRUNC;
            }
            break;
        }
        case RXSHV_DROPV:
        case RXSHV_SYDRO:
            if (!level.variables.erase(name)) b->shvret = RXSHV_NEWV;
            level.enumerating = false;
            break;
        case RXSHV_NEXTV:
            if (!level.enumerating) {
                level.next = level.variables.begin();
                level.enumerating = true;
            }
            if (level.next == level.variables.end()) {
                b->shvret = RXSHV_LVAR;
                level.enumerating = false;
                break;
            }
            b->shvname = RXSTRING{level.next->first.size(), copyOut(level.next->first)};
            b->shvvalue = RXSTRING{level.next->second.size(), copyOut(level.next->second)};
            ++level.next;
            break;
        default:
            b->shvret = RXSHV_BADF;
        }
        combined |= b->shvret;
    }
    return combined;
}

void standin::reset() {
    levels.assign(1, Level{});
    queue.clear();
}
