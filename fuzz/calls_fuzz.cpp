// Random sequences of calls of every function: random argument counts; omitted, empty and
// garbage arguments; live, freed and made-up handles; and calls made from inside handler
// procedures, which run in the RexxStart stand-in (standin.h) and take their own calls from the
// same input. At the end every parser still live is freed, so that a block the package forgot
// shows as a leak.
#include "entries.h"
#include "standin.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

namespace {

FuzzedDataProvider* input;
std::vector<std::string> handles; // every handle text handed out, live or freed, and garbage
int calls;

const char* const kWords[] = {
    "1",
    "0",
    "-1",
    "2",
    "macro",
    "MACRO",
    "internal",
    "INTERNAL",
    "UTF-8",
    "UTF-16",
    "ISO-8859-1",
    "US-ASCII",
    "x-fuzz",
    "|",
    "XML_PARAM_ENTITY_PARSING_NEVER",
    "XML_PARAM_ENTITY_PARSING_UNLESS_STANDALONE",
    "XML_PARAM_ENTITY_PARSING_ALWAYS",
    "SYSTEM",
    "ATTRIBUTE.",
    "ATTRIBUTE.1",
    "a.b",
    "A.b c",
    "STEM.",
    "43",
    "99999999999",
    "0x0",
    "0x1",
    "procedure",
    "!bad source",
};

const char* const kDocs[] = {
    "<a>",
    "</a>",
    "<a/>",
    "<a x='1' y='2'>t</a>",
    "<?xml version='1.0' encoding='x-fuzz'?><a>\x81\x82</a>",
    ("<!DOCTYPE a SYSTEM 'a.dtd' [<!ENTITY e SYSTEM 'e.xml'><!ENTITY i 'v'><!NOTATION n SYSTEM 'n'>"
     "<!ENTITY u SYSTEM 'u' NDATA n>]><a>&e;&i;</a>"),
    "<a xmlns='urn:x' xmlns:p='urn:p'><p:b/><![CDATA[c]]><!--c--><?pi d?></a>",
    "text",
    "<",
    "<b>&e;</b>",
};

std::string pick(const char* const* list, std::size_t count) {
    return list[input->ConsumeIntegralInRange<std::size_t>(0, count - 1)];
}

std::optional<std::string> argument(const std::vector<std::string>& near) {
    switch (input->ConsumeIntegralInRange(0, 9)) {
    case 0:
        return std::nullopt;
    case 1:
        return std::string();
    case 2:
    case 3:
        if (!near.empty() && input->ConsumeBool())
            return near[input->ConsumeIntegralInRange<std::size_t>(0, near.size() - 1)];
        if (!handles.empty())
            return handles[input->ConsumeIntegralInRange<std::size_t>(0, handles.size() - 1)];
        return std::string("0");
    case 4:
        return std::to_string(input->ConsumeIntegralInRange(-3, 45));
    case 5:
        return pick(kWords, std::size(kWords));
    case 6:
        return pick(kDocs, std::size(kDocs));
    case 7:
        return input->ConsumeRandomLengthString(40);
    default:
        return std::string("1");
    }
}

bool creates(EntryPoint* fn) {
    return fn == ExpatParserCreate || fn == ExpatParserCreateNS ||
           fn == ExpatExternalEntityParserCreate;
}

// A few calls; near are the handles a handler procedure has at hand (its own first).
void runCalls(int count, const std::vector<std::string>& near) {
    for (int i = 0; i < count && input->remaining_bytes() > 0 && calls < 400; ++i, ++calls) {
        int which = input->ConsumeIntegralInRange(0, kEntryCount);
        if (which == kEntryCount) {
            // A variable of the running program, for the variable-pool requests to find.
            std::string name = input->ConsumeBool() ? pick(kWords, std::size(kWords))
                                                    : input->ConsumeRandomLengthString(12);
            std::string value = input->ConsumeRandomLengthString(20);
            SHVBLOCK b{};
            b.shvname = RXSTRING{name.size(), name.data()};
            b.shvnamelen = name.size();
            b.shvvalue = RXSTRING{value.size(), value.data()};
            b.shvvaluelen = value.size();
            b.shvcode = RXSHV_SET;
            RexxVariablePool(&b);
            continue;
        }
        EntryPoint* fn = kEntries[which].fn;
        std::vector<std::optional<std::string>> args;
        int argc = input->ConsumeIntegralInRange(0, 8);
        // Mostly a handle first, as nearly every function wants one.
        for (int a = 0; a < argc; ++a) {
            if (a == 0 && !handles.empty() && input->ConsumeIntegralInRange(0, 3) != 0)
                args.push_back(near.empty() ? handles.back() : near.front());
            else
                args.push_back(argument(near));
        }
        std::string result;
        APIRET rc = callEntry(fn, args, &result);
        if (rc != 0 && rc != 40) std::abort();
        if (rc == 0 && creates(fn) && result != "0") handles.push_back(result);
    }
}

// A handler procedure: its own calls (on its handle among others), then an answer.
void procedure(const standin::Call& call, standin::Answer& answer) {
    std::vector<std::string> near;
    if (call.argc > 0 && call.argv[0].strptr)
        near.emplace_back(call.argv[0].strptr, call.argv[0].strlength);
    for (ULONG i = 1; i < call.argc && near.size() < 4; ++i)
        if (call.argv[i].strptr) near.emplace_back(call.argv[i].strptr, call.argv[i].strlength);
    if (call.depth < 4) runCalls(input->ConsumeIntegralInRange(0, 4), near);
    switch (input->ConsumeIntegralInRange(0, 5)) {
    case 0:
        answer.code = -41;
        break;
    case 1:
        answer.rc = input->ConsumeIntegral<SHORT>();
        break;
    case 2:
    case 3:
        answer.value = true;
        answer.result = input->ConsumeBool() ? pick(kWords, std::size(kWords))
                                             : input->ConsumeRandomLengthString(300);
        break;
    default:
        answer.rc = 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    input = &fdp;
    handles = {"0", "0x1", "garbage"};
    calls = 0;
    standin::run = procedure;
    runCalls(400, {});
    // Children before parents: repeat until nothing more is freed.
    for (bool freed = true; freed;) {
        freed = false;
        for (const std::string& h : handles)
            if (callEntry(ExpatParserFree, {h}) == 0) freed = true;
    }
    standin::reset();
    return 0;
}
