// The callbacks Expat calls, made from the event table: each gathers its event's values and
// runs the slot's procedure.
#include "encoding.h"
#include "handler.h"

#include "../parser/record.h"

namespace quillmark {

namespace {

ParserRecord* recordOf(void* userData) {
    return static_cast<ParserRecord*>(userData);
}

template <std::size_t N> Outcome dispatch(void* userData, Kind kind, const Value (&values)[N]) {
    return dispatchEvent(recordOf(userData), kind, values, N);
}

// ---- the argument shapes --------------------------------------------------------------------

template <Kind K> void XMLCALL bare(void* userData) {
    dispatchEvent(recordOf(userData), K, nullptr, 0);
}

template <Kind K> int XMLCALL bareAnswer(void* userData) {
    return dispatchEvent(recordOf(userData), K, nullptr, 0).answer;
}

template <Kind K> void XMLCALL text1(void* userData, const XML_Char* a) {
    dispatch(userData, K, {valueOf(a)});
}

template <Kind K> void XMLCALL text2(void* userData, const XML_Char* a, const XML_Char* b) {
    dispatch(userData, K, {valueOf(a), valueOf(b)});
}

template <Kind K>
void XMLCALL text4(void* userData, const XML_Char* a, const XML_Char* b, const XML_Char* c,
                   const XML_Char* d) {
    dispatch(userData, K, {valueOf(a), valueOf(b), valueOf(c), valueOf(d)});
}

template <Kind K>
void XMLCALL text5(void* userData, const XML_Char* a, const XML_Char* b, const XML_Char* c,
                   const XML_Char* d, const XML_Char* e) {
    dispatch(userData, K, {valueOf(a), valueOf(b), valueOf(c), valueOf(d), valueOf(e)});
}

// A text Expat passes with its length, taken exactly.
template <Kind K> void XMLCALL counted(void* userData, const XML_Char* text, int length) {
    dispatch(userData, K, {Value{text, static_cast<std::size_t>(length)}});
}

// The element name, then each attribute's name and value in Expat's order.
template <Kind K>
void XMLCALL startTag(void* userData, const XML_Char* name, const XML_Char** attributes) {
    ParserRecord* record = recordOf(userData);
    if (!slotOf(record, K)) return;
    std::uint32_t n = 0;
    while (attributes[n]) ++n;
    // Nearly every tag fits in one call's arguments and needs no block for its values.
    Value local[32];
    Value* values = n + 1 <= 32 ? local : allocateArray<Value>(n + 1);
    values[0] = valueOf(name);
    for (std::uint32_t i = 0; i < n; ++i) values[i + 1] = valueOf(attributes[i]);
    dispatchEvent(record, K, values, n + 1);
    if (values != local) release(values);
}

// Expat 2 also passes the system id, public id and whether there is an internal subset; the
// procedure gets the name alone.
template <Kind K>
void XMLCALL doctype(void* userData, const XML_Char* name, const XML_Char*, const XML_Char*, int) {
    dispatch(userData, K, {valueOf(name)});
}

// Expat passes the parser itself, not the user data.
template <Kind K>
int XMLCALL entityRef(XML_Parser parser, const XML_Char* context, const XML_Char* base,
                      const XML_Char* systemId, const XML_Char* publicId) {
    return dispatch(XML_GetUserData(parser), K,
                    {valueOf(context), valueOf(base), valueOf(systemId), valueOf(publicId)})
        .answer;
}

// Special rows gather their values in callbacks of their own.
template <Kind> void none() {}

template <Kind K> struct CallbackOf;
#define QUILLMARK_CALLBACK(kind, setter, group, install, shape, result)                            \
    template <> struct CallbackOf<Kind::kind> {                                                    \
        [[maybe_unused]] static constexpr auto fn = &shape<Kind::kind>;                            \
    };
QUILLMARK_EVENTS(QUILLMARK_CALLBACK)
#undef QUILLMARK_CALLBACK

// ---- the special rows -----------------------------------------------------------------------

// Expat 2 reports every entity declaration to one handler. Internal entities (with a value) go
// to InternalParsedEntityDecl, external parsed ones to ExternalParsedEntityDecl, and unparsed
// ones (with a notation) to UnparsedEntityDecl, whose own handler Expat prefers when it is set.
// Parameter entities produce none of these events: the procedures get no way to tell them from
// general entities of the same name.
void XMLCALL entityDecl(void* userData, const XML_Char* name, int isParameterEntity,
                        const XML_Char* value, int valueLength, const XML_Char* base,
                        const XML_Char* systemId, const XML_Char* publicId,
                        const XML_Char* notationName) {
    if (isParameterEntity) return;
    if (notationName)
        dispatch(userData, Kind::UnparsedEntityDecl,
                 {valueOf(name), valueOf(base), valueOf(systemId), valueOf(publicId),
                  valueOf(notationName)});
    else if (value)
        dispatch(userData, Kind::InternalParsedEntityDecl,
                 {valueOf(name), Value{value, static_cast<std::size_t>(valueLength)}});
    else
        dispatch(userData, Kind::ExternalParsedEntityDecl,
                 {valueOf(name), valueOf(base), valueOf(systemId), valueOf(publicId)});
}

// Installed while either of the two declaration slots holds a record.
void installEntityDecl(ParserRecord* r) {
    bool any =
        slotOf(r, Kind::InternalParsedEntityDecl) || slotOf(r, Kind::ExternalParsedEntityDecl);
    XML_SetEntityDeclHandler(r->parser, any ? entityDecl : nullptr);
}

void noInstall(ParserRecord*) {}

// ---- registration ---------------------------------------------------------------------------

template <Kind K> auto callbackIfSet(ParserRecord* r) {
    return slotOf(r, K) ? CallbackOf<K>::fn : nullptr;
}

constexpr Kind next(Kind k) {
    return static_cast<Kind>(static_cast<int>(k) + 1);
}

template <Kind K, class Callback>
void registerWith(void(XMLCALL* expat)(XML_Parser, Callback), ParserRecord* r) {
    expat(r->parser, callbackIfSet<K>(r));
}

// A setter of two slots: Expat takes both callbacks in one call.
template <Kind K, class First, class Second>
void registerWith(void(XMLCALL* expat)(XML_Parser, First, Second), ParserRecord* r) {
    expat(r->parser, callbackIfSet<K>(r), callbackIfSet<next(K)>(r));
}

template <Kind K> void registerWith(void (*installer)(ParserRecord*), ParserRecord* r) {
    installer(r);
}

using Installer = void (*)(ParserRecord*);
#define QUILLMARK_INSTALLER_1(kind, install)                                                       \
    [](ParserRecord* r) { registerWith<Kind::kind>(install, r); },
#define QUILLMARK_INSTALLER_2(kind, install) nullptr,
#define QUILLMARK_INSTALLER(kind, setter, group, install, shape, result)                           \
    QUILLMARK_INSTALLER_##group(kind, install)
constexpr Installer kInstallers[kKinds] = {QUILLMARK_EVENTS(QUILLMARK_INSTALLER)};
#undef QUILLMARK_INSTALLER
#undef QUILLMARK_INSTALLER_1
#undef QUILLMARK_INSTALLER_2

} // namespace

void installCallbacks(ParserRecord* record, Kind first) {
    kInstallers[static_cast<int>(first)](record);
}

void registerInheritedCallbacks(ParserRecord* record) {
    installUnknownEncoding(record);
}

} // namespace quillmark
