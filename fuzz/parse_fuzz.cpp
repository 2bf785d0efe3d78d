// Document bytes through ExpatParse, with all 19 event handlers and the three unknown-encoding
// procedures set, once in one piece and once cut where the input says. Handlers are labels,
// in-store or external procedures, mixed as the input says, and run in the stand-ins of
// RexxCallBack and RexxStart (standin.h): every argument list is checked there, and the two
// parses of a well-formed document must give the same events in the same order.
//
// Input: 4 flag bytes, a map text for an unknown encoding, up to 8 piece lengths, then the
// document.
#include "entries.h"
#include "standin.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

namespace {

struct Setter {
    EntryPoint* fn;
    std::vector<const char*> kinds; // one handler group each
};

const Setter kSetters[] = {
    {ExpatSetElementHandler, {"start", "end"}},
    {ExpatSetCharacterDataHandler, {"text"}},
    {ExpatSetProcessingInstructionHandler, {"pi"}},
    {ExpatSetCommentHandler, {"comment"}},
    {ExpatSetDoctypeDeclHandler, {"doctype", "enddoctype"}},
    {ExpatSetCdataSectionHandler, {"cdata", "endcdata"}},
    {ExpatSetInternalParsedEntityDeclHandler, {"internal"}},
    {ExpatSetExternalParsedEntityDeclHandler, {"external"}},
    {ExpatSetUnparsedEntityDeclHandler, {"unparsed"}},
    {ExpatSetNotationDeclHandler, {"notation"}},
    {ExpatSetNamespaceDeclHandler, {"ns", "endns"}},
    {ExpatSetExternalEntityRefHandler, {"extref"}},
    {ExpatSetNotStandaloneHandler, {"notstandalone"}},
    {ExpatSetUnknownEncodingHandler, {"encoding"}},
    {ExpatSetUnknownEncodingConverter, {"convert", "release"}},
};

struct Input {
    std::uint8_t flags[4];
    std::string map;
    std::vector<std::size_t> pieces;
    std::string doc;
};

const Input* current;
std::vector<std::string>* events;

bool isText(const std::string& kind) {
    return kind == "text" || kind == "default";
}

// Expat lists the context's namespace prefixes in the order of a hash table seeded anew for
// every parser: sorted, they compare.
std::string sortedContext(const std::string& context) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        std::size_t f = context.find('\f', start);
        items.push_back(context.substr(start, f - start));
        if (f == std::string::npos) break;
        start = f + 1;
    }
    std::sort(items.begin(), items.end());
    std::string out;
    for (const auto& i : items) out += i + '\f';
    return out;
}

void procedure(const standin::Call& call, standin::Answer& answer) {
    const std::string& kind = call.program;
    const std::uint8_t f = current->flags[1];
    std::string args;
    for (ULONG i = 1; i < call.argc; ++i) {
        const RXSTRING& a = call.argv[i];
        std::string v = a.strptr ? std::string(a.strptr, a.strlength) : std::string("\x01-");
        if (kind == "extref" && i == 1) v = sortedContext(v);
        args += '\x02' + v;
    }
    // Adjacent text merges: Expat splits runs of text where the pieces end.
    if (isText(kind) && !events->empty() && events->back().rfind(kind + '\x02', 0) == 0)
        events->back() += args.substr(1);
    else
        events->push_back(kind + args);

    // Answers depend on the kind alone, so both parses get the same ones.
    if (kind == "start" || kind == "end" || kind == "pi") {
        answer.value = (f >> (kind == "start" ? 0 : kind == "end" ? 1 : 2)) & 1;
        answer.result = "pass";
    } else if (kind == "extref") {
        answer.rc = (f >> 3) & 1;
    } else if (kind == "notstandalone") {
        answer.rc = (f >> 4) & 1;
    } else if (kind == "encoding") {
        answer.value = (f >> 5) & 1;
        answer.result = current->map;
    } else if (kind == "convert" && call.argc > 1 && call.argv[1].strptr) {
        const RXSTRING& b = call.argv[1];
        unsigned v = 0;
        for (ULONG i = 0; i < b.strlength; ++i)
            v = v * 64 + (static_cast<unsigned char>(b.strptr[i]) & 63);
        answer.value = true;
        answer.result = std::to_string((f >> 6) & 1 ? -1 : static_cast<int>(v % 0x3000));
    }
    if ((current->flags[2] & 7) == 7 && kind == "comment") answer.code = -41; // a failing run
}

// One parse: a fresh parser with every handler set, fed whole or in the input's pieces.
std::string parse(bool whole) {
    const std::uint8_t f = current->flags[0];
    std::string handle;
    if (f & 1)
        callEntry(ExpatParserCreate, {std::string("UTF-8"), std::string("|")}, &handle);
    else
        callEntry(ExpatParserCreate, {}, &handle);
    // Each kind's mode: a label where the input's bit for it says so, else in-store or external.
    unsigned kind = 0;
    auto type = [&] {
        if ((current->flags[3] >> (kind++ % 8)) & 1) return std::string("internal");
        return std::string(f & 2 ? "1" : "");
    };
    for (const Setter& s : kSetters) {
        std::vector<std::optional<std::string>> args{handle};
        for (const char* name : s.kinds) {
            args.push_back(std::string(name));
            args.push_back(std::nullopt);
            args.push_back(type());
        }
        callEntry(s.fn, args);
    }
    callEntry(f & 4 ? ExpatSetDefaultHandlerExpand : ExpatSetDefaultHandler,
              {handle, std::string("default"), std::nullopt, type()});
    if (f & 8) callEntry(ExpatSetEncoding, {handle, std::string("x-fuzz")});
    callEntry(ExpatSetParamEntityParsing, {handle, std::to_string((f >> 4) % 3)});

    std::string status = "1";
    const std::string& doc = current->doc;
    std::size_t at = 0;
    for (std::size_t i = 0; !whole && i < current->pieces.size() && status == "1"; ++i) {
        std::size_t n = std::min(current->pieces[i], doc.size() - at);
        callEntry(ExpatParse, {handle, doc.substr(at, n), std::string("1")}, &status);
        at += n;
    }
    if (status == "1") callEntry(ExpatParse, {handle, doc.substr(at), std::string("0")}, &status);
    std::string code;
    callEntry(ExpatGetErrorCode, {handle}, &code);
    if (callEntry(ExpatParserFree, {handle}) != 0) std::abort(); // not busy, no children
    return status + " " + code;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    Input input;
    for (auto& b : input.flags) b = fdp.ConsumeIntegral<std::uint8_t>();
    input.map = fdp.ConsumeRandomLengthString(1200);
    for (int n = fdp.ConsumeIntegralInRange(0, 8); n > 0; --n)
        input.pieces.push_back(fdp.ConsumeIntegralInRange<std::size_t>(0, 300));
    input.doc = fdp.ConsumeRemainingBytesAsString();
    current = &input;
    standin::run = procedure;

    std::vector<std::string> one, cut;
    events = &one;
    std::string a = parse(true);
    events = &cut;
    std::string b = parse(false);
    // A parse that stopped may stop at another event when the pieces differ (a failing
    // procedure, a limit): only complete parses must agree.
    if (a == "1 0" && b == "1 0" && one != cut) std::abort();
    if ((a == "1 0") != (b == "1 0") && (input.flags[2] & 7) != 7) std::abort();
    standin::reset();
    return 0;
}
