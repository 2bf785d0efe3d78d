// The Expat callbacks: each turns one event into one call of its slot's procedure, with the
// event's values as arguments; null values arrive as omitted arguments.
#include "callbacks.h"

#include "../package/package.h"
#include "../parser/record.h"

namespace {

ParserRecord* recordOf(void* userData) {
    return static_cast<ParserRecord*>(userData);
}

template <std::size_t N>
void runEvent(void* userData, HandlerKind kind, const char* const (&values)[N],
              bool passMarkup = false) {
    EventCall call{kind, values, N};
    call.passMarkup = passMarkup;
    _ExpatRunEvent(recordOf(userData), call);
}

void runNoValues(void* userData, HandlerKind kind) {
    _ExpatRunEvent(recordOf(userData), EventCall{kind, nullptr, 0});
}

// An event whose last value is a counted text (a pointer and a length).
template <std::size_t N>
void runCounted(void* userData, HandlerKind kind, const char* const (&values)[N],
                const XML_Char* text, int length, bool passMarkup) {
    CountedText counted{static_cast<int>(N), text, length};
    EventCall call{kind, values, N, &counted, 1};
    call.passMarkup = passMarkup;
    _ExpatRunEvent(recordOf(userData), call);
}

} // namespace

void XMLCALL _ExpatStartElementHandler(void* userData, const XML_Char* name,
                                       const XML_Char** attributes) {
    ParserRecord* record = recordOf(userData);
    if (!record->slots[StartElement]) return;
    std::uint32_t n = 0;
    while (attributes[n]) ++n;
    // The values are the element name followed by Expat's attribute array. A tag that fits in
    // one RexxStart call (nearly every tag) needs no block of its own for them.
    const char* local[32];
    const char** values = n + 1 <= 32 ? local : _ExpatAllocArray<const char*>(n + 1);
    values[0] = name;
    for (std::uint32_t i = 0; i < n; ++i) values[i + 1] = attributes[i];
    EventCall call{StartElement, values, n + 1};
    call.passMarkup = true;
    _ExpatRunEvent(record, call);
    if (values != local) _ExpatFree(values);
}

void XMLCALL _ExpatEndElementHandler(void* userData, const XML_Char* name) {
    runEvent(userData, EndElement, {name}, true);
}

void XMLCALL _ExpatCharacterDataHandler(void* userData, const XML_Char* text, int length) {
    runCounted(userData, CharacterData, {nullptr}, text, length, true);
}

void XMLCALL _ExpatProcessingInstructionHandler(void* userData, const XML_Char* target,
                                                const XML_Char* data) {
    runEvent(userData, ProcessingInstruction, {target, data}, true);
}

void XMLCALL _ExpatCommentHandler(void* userData, const XML_Char* text) {
    runEvent(userData, Comment, {text});
}

// Expat 2 also passes the system id, public id and whether there is an internal subset; the
// procedure gets the name alone.
void XMLCALL _ExpatStartDoctypeDeclHandler(void* userData, const XML_Char* name, const XML_Char*,
                                           const XML_Char*, int) {
    runEvent(userData, StartDoctypeDecl, {name});
}

void XMLCALL _ExpatEndDoctypeDeclHandler(void* userData) {
    runNoValues(userData, EndDoctypeDecl);
}

void XMLCALL _ExpatStartCdataSectionHandler(void* userData) {
    runNoValues(userData, StartCdataSection);
}

void XMLCALL _ExpatEndCdataSectionHandler(void* userData) {
    runNoValues(userData, EndCdataSection);
}

void XMLCALL _ExpatDefaultHandler(void* userData, const XML_Char* text, int length) {
    runCounted(userData, Default, {nullptr}, text, length, false);
}

void XMLCALL _ExpatDefaultHandlerExpand(void* userData, const XML_Char* text, int length) {
    runCounted(userData, DefaultExpand, {nullptr}, text, length, false);
}

int XMLCALL _ExpatExternalEntityRefHandler(XML_Parser parser, const XML_Char* context,
                                           const XML_Char* base, const XML_Char* systemId,
                                           const XML_Char* publicId) {
    const char* const values[] = {context, base, systemId, publicId};
    return _ExpatEventAnswer(
        _ExpatRunEvent(recordOf(XML_GetUserData(parser)), EventCall{ExternalEntityRef, values, 4}));
}

void XMLCALL _ExpatStartNamespaceDeclHandler(void* userData, const XML_Char* prefix,
                                             const XML_Char* uri) {
    runEvent(userData, StartNamespaceDecl, {prefix, uri});
}

void XMLCALL _ExpatEndNamespaceDeclHandler(void* userData, const XML_Char* prefix) {
    runEvent(userData, EndNamespaceDecl, {prefix});
}

void XMLCALL _ExpatUnparsedEntityDeclHandler(void* userData, const XML_Char* name,
                                             const XML_Char* base, const XML_Char* systemId,
                                             const XML_Char* publicId,
                                             const XML_Char* notationName) {
    runEvent(userData, UnparsedEntityDecl, {name, base, systemId, publicId, notationName});
}

void XMLCALL _ExpatInternalParsedEntityDeclHandler(void* userData, const XML_Char* name,
                                                   const XML_Char* value, int length) {
    runCounted(userData, InternalParsedEntityDecl, {name, nullptr}, value, length, false);
}

void XMLCALL _ExpatExternalParsedEntityDeclHandler(void* userData, const XML_Char* name,
                                                   const XML_Char* base, const XML_Char* systemId,
                                                   const XML_Char* publicId) {
    runEvent(userData, ExternalParsedEntityDecl, {name, base, systemId, publicId});
}

void XMLCALL _ExpatNotationDeclHandler(void* userData, const XML_Char* name, const XML_Char* base,
                                       const XML_Char* systemId, const XML_Char* publicId) {
    runEvent(userData, NotationDecl, {name, base, systemId, publicId});
}

int XMLCALL _ExpatNotStandaloneHandler(void* userData) {
    return _ExpatEventAnswer(
        _ExpatRunEvent(recordOf(userData), EventCall{NotStandalone, nullptr, 0}));
}

// Expat 2 reports every entity declaration to one handler. Internal entities (with a value)
// go to InternalParsedEntityDecl, external parsed ones to ExternalParsedEntityDecl, and
// unparsed ones (with a notation) to UnparsedEntityDecl, whose own handler Expat prefers when
// it is set. Parameter entities produce none of these events: the procedures get no way to tell
// them from general entities of the same name.
void XMLCALL _ExpatEntityDeclHandler(void* userData, const XML_Char* name, int isParameterEntity,
                                     const XML_Char* value, int valueLength, const XML_Char* base,
                                     const XML_Char* systemId, const XML_Char* publicId,
                                     const XML_Char* notationName) {
    if (isParameterEntity) return;
    if (notationName)
        _ExpatUnparsedEntityDeclHandler(userData, name, base, systemId, publicId, notationName);
    else if (value)
        _ExpatInternalParsedEntityDeclHandler(userData, name, value, valueLength);
    else
        _ExpatExternalParsedEntityDeclHandler(userData, name, base, systemId, publicId);
}
