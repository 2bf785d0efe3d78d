// The handler-setting functions. One table row per setter says which slots its handler groups
// fill and how Expat is told; every setter runs the same algorithm over its row.
#include "callbacks.h"
#include "encoding.h"

#include "../package/package.h"
#include "../parser/record.h"

namespace {

template <class Callback> Callback* ifSet(const ParserRecord* r, HandlerKind kind, Callback* cb) {
    return r->slots[kind] ? cb : nullptr;
}

// Expat 2 has one entity-declaration handler for what used to be two; it is installed while
// either slot holds a record and dispatches by the declaration's kind.
void installEntityDecl(ParserRecord* r) {
    bool any = r->slots[InternalParsedEntityDecl] || r->slots[ExternalParsedEntityDecl];
    XML_SetEntityDeclHandler(r->parser, any ? _ExpatEntityDeclHandler : nullptr);
}

struct SetterRow {
    HandlerKind first;
    int second;                     // -1 for a one-slot setter
    void (*install)(ParserRecord*); // null: the setter makes no call to Expat
};

enum Setter {
    kElement,
    kCharacterData,
    kProcessingInstruction,
    kComment,
    kDoctypeDecl,
    kCdataSection,
    kDefault,
    kDefaultExpand,
    kInternalParsedEntityDecl,
    kExternalParsedEntityDecl,
    kExternalEntityRef,
    kUnknownEncoding,
    kUnknownEncodingConverter,
    kNamespaceDecl,
    kUnparsedEntityDecl,
    kNotationDecl,
    kNotStandalone,
    kSetterCount
};

constexpr SetterRow kSetters[kSetterCount] = {
    {StartElement, EndElement,
     [](ParserRecord* r) {
         XML_SetElementHandler(r->parser, ifSet(r, StartElement, _ExpatStartElementHandler),
                               ifSet(r, EndElement, _ExpatEndElementHandler));
     }},
    {CharacterData, -1,
     [](ParserRecord* r) {
         XML_SetCharacterDataHandler(r->parser,
                                     ifSet(r, CharacterData, _ExpatCharacterDataHandler));
     }},
    {ProcessingInstruction, -1,
     [](ParserRecord* r) {
         XML_SetProcessingInstructionHandler(
             r->parser, ifSet(r, ProcessingInstruction, _ExpatProcessingInstructionHandler));
     }},
    {Comment, -1,
     [](ParserRecord* r) {
         XML_SetCommentHandler(r->parser, ifSet(r, Comment, _ExpatCommentHandler));
     }},
    {StartDoctypeDecl, EndDoctypeDecl,
     [](ParserRecord* r) {
         XML_SetDoctypeDeclHandler(r->parser,
                                   ifSet(r, StartDoctypeDecl, _ExpatStartDoctypeDeclHandler),
                                   ifSet(r, EndDoctypeDecl, _ExpatEndDoctypeDeclHandler));
     }},
    {StartCdataSection, EndCdataSection,
     [](ParserRecord* r) {
         XML_SetCdataSectionHandler(r->parser,
                                    ifSet(r, StartCdataSection, _ExpatStartCdataSectionHandler),
                                    ifSet(r, EndCdataSection, _ExpatEndCdataSectionHandler));
     }},
    {Default, -1,
     [](ParserRecord* r) {
         XML_SetDefaultHandler(r->parser, ifSet(r, Default, _ExpatDefaultHandler));
     }},
    {DefaultExpand, -1,
     [](ParserRecord* r) {
         XML_SetDefaultHandlerExpand(r->parser,
                                     ifSet(r, DefaultExpand, _ExpatDefaultHandlerExpand));
     }},
    {InternalParsedEntityDecl, -1, installEntityDecl},
    {ExternalParsedEntityDecl, -1, installEntityDecl},
    {ExternalEntityRef, -1,
     [](ParserRecord* r) {
         XML_SetExternalEntityRefHandler(
             r->parser, ifSet(r, ExternalEntityRef, _ExpatExternalEntityRefHandler));
     }},
    {UnknownEncoding, -1, _ExpatRegisterUnknownEncoding},
    {UnknownEncodingConvert, UnknownEncodingRelease, nullptr},
    {StartNamespaceDecl, EndNamespaceDecl,
     [](ParserRecord* r) {
         XML_SetNamespaceDeclHandler(r->parser,
                                     ifSet(r, StartNamespaceDecl, _ExpatStartNamespaceDeclHandler),
                                     ifSet(r, EndNamespaceDecl, _ExpatEndNamespaceDeclHandler));
     }},
    {UnparsedEntityDecl, -1,
     [](ParserRecord* r) {
         XML_SetUnparsedEntityDeclHandler(
             r->parser, ifSet(r, UnparsedEntityDecl, _ExpatUnparsedEntityDeclHandler));
     }},
    {NotationDecl, -1,
     [](ParserRecord* r) {
         XML_SetNotationDeclHandler(r->parser, ifSet(r, NotationDecl, _ExpatNotationDeclHandler));
     }},
    {NotStandalone, -1,
     [](ParserRecord* r) {
         XML_SetNotStandaloneHandler(r->parser,
                                     ifSet(r, NotStandalone, _ExpatNotStandaloneHandler));
     }},
};

// Fills the slot from the handler group that starts at argument `first`, or empties it when the
// group names no procedure. Answers 3 or 0.
int applyGroup(HandlerSlot& slot, ULONG argc, const RXSTRING* argv, ULONG first) {
    RXSTRING procedure = _ExpatArg(argc, argv, first);
    if (!_ExpatNonEmpty(procedure)) return _ExpatFreeHandler(slot);
    RXSTRING environment = _ExpatArg(argc, argv, first + 1);
    RXSTRING type = _ExpatArg(argc, argv, first + 2);
    return _ExpatSetHandler(slot, procedure.strlength, procedure.strptr, environment.strlength,
                            environment.strptr, type.strlength, type.strptr);
}

APIRET runSetter(Setter which, ULONG argc, const RXSTRING* argv, PRXSTRING result) {
    if (argc == 0) return kInvalidCall;
    ParserRecord* record = _ExpatRecordFromArg(argv[0]);
    if (!record) return kInvalidCall;
    const SetterRow& row = kSetters[which];
    int kept = applyGroup(record->slots[row.first], argc, argv, 2);
    if (row.second >= 0) {
        // An emptied first slot ends the call: the second slot and Expat's registration stay.
        if (kept == 0) {
            _ExpatResultInteger(result, 0);
            return kValidCall;
        }
        kept = applyGroup(record->slots[row.second], argc, argv, 5);
    }
    if (row.install) row.install(record);
    _ExpatResultInteger(result, kept);
    return kValidCall;
}

} // namespace

#define QM_SETTER(name, which)                                                                     \
    QM_EXPORT APIRET APIENTRY name(PCSZ, ULONG argc, PRXSTRING argv, PCSZ, PRXSTRING result) {     \
        return runSetter(which, argc, argv, result);                                               \
    }

QM_SETTER(ExpatSetElementHandler, kElement)
QM_SETTER(ExpatSetCharacterDataHandler, kCharacterData)
QM_SETTER(ExpatSetProcessingInstructionHandler, kProcessingInstruction)
QM_SETTER(ExpatSetCommentHandler, kComment)
QM_SETTER(ExpatSetDoctypeDeclHandler, kDoctypeDecl)
QM_SETTER(ExpatSetCdataSectionHandler, kCdataSection)
QM_SETTER(ExpatSetDefaultHandler, kDefault)
QM_SETTER(ExpatSetDefaultHandlerExpand, kDefaultExpand)
QM_SETTER(ExpatSetInternalParsedEntityDeclHandler, kInternalParsedEntityDecl)
QM_SETTER(ExpatSetExternalParsedEntityDeclHandler, kExternalParsedEntityDecl)
QM_SETTER(ExpatSetExternalEntityRefHandler, kExternalEntityRef)
QM_SETTER(ExpatSetUnknownEncodingHandler, kUnknownEncoding)
QM_SETTER(ExpatSetUnknownEncodingConverter, kUnknownEncodingConverter)
QM_SETTER(ExpatSetNamespaceDeclHandler, kNamespaceDecl)
QM_SETTER(ExpatSetUnparsedEntityDeclHandler, kUnparsedEntityDecl)
QM_SETTER(ExpatSetNotationDeclHandler, kNotationDecl)
QM_SETTER(ExpatSetNotStandaloneHandler, kNotStandalone)
