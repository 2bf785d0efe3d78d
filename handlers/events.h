// The kinds of event a procedure can handle, one row each. Everything else about a kind is made
// from its row: its slot (the row's position), the setter that fills it (ExpatSet<Setter>) and the
// handler group there (1 or 2), how Expat is told to call it, the arguments its procedure gets
// (the callback that gathers them) and what the procedure's result does:
//   Markup  a non-empty result hands the event's markup to the default handler
//   Answer  the result answers Expat: a non-zero whole number lets the parse go on
//   Ignored the result is not used (the unknown-encoding bridge reads its own)
// Rows that share a setter stand next to each other, group 1 first. Registration names an Expat
// function, or one of the package's own installers for the two special cases: Expat 2 reports
// every entity declaration to one handler (installEntityDecl), and the unknown-encoding handler
// takes data of its own (installUnknownEncoding); the converter's procedures reach Expat through
// the encoding description, not through a registration (noInstall).
#pragma once

// clang-format off
#define QUILLMARK_EVENTS(X)                                                                                  \
    X(StartElement,             ElementHandler,                  1, XML_SetElementHandler,               startTag,   Markup)  \
    X(EndElement,               ElementHandler,                  2, XML_SetElementHandler,               text1,      Markup)  \
    X(CharacterData,            CharacterDataHandler,            1, XML_SetCharacterDataHandler,         counted,    Markup)  \
    X(ProcessingInstruction,    ProcessingInstructionHandler,    1, XML_SetProcessingInstructionHandler, text2,      Markup)  \
    X(Comment,                  CommentHandler,                  1, XML_SetCommentHandler,               text1,      Ignored) \
    X(StartDoctypeDecl,         DoctypeDeclHandler,              1, XML_SetDoctypeDeclHandler,           doctype,    Ignored) \
    X(EndDoctypeDecl,           DoctypeDeclHandler,              2, XML_SetDoctypeDeclHandler,           bare,       Ignored) \
    X(StartCdataSection,        CdataSectionHandler,             1, XML_SetCdataSectionHandler,          bare,       Ignored) \
    X(EndCdataSection,          CdataSectionHandler,             2, XML_SetCdataSectionHandler,          bare,       Ignored) \
    X(Default,                  DefaultHandler,                  1, XML_SetDefaultHandler,               counted,    Ignored) \
    X(DefaultExpand,            DefaultHandlerExpand,            1, XML_SetDefaultHandlerExpand,         counted,    Ignored) \
    X(ExternalEntityRef,        ExternalEntityRefHandler,        1, XML_SetExternalEntityRefHandler,     entityRef,  Answer)  \
    X(UnknownEncoding,          UnknownEncodingHandler,          1, installUnknownEncoding,              none,       Ignored) \
    X(UnknownEncodingConvert,   UnknownEncodingConverter,        1, noInstall,                           none,       Ignored) \
    X(UnknownEncodingRelease,   UnknownEncodingConverter,        2, noInstall,                           none,       Ignored) \
    X(StartNamespaceDecl,       NamespaceDeclHandler,            1, XML_SetNamespaceDeclHandler,         text2,      Ignored) \
    X(EndNamespaceDecl,         NamespaceDeclHandler,            2, XML_SetNamespaceDeclHandler,         text1,      Ignored) \
    X(UnparsedEntityDecl,       UnparsedEntityDeclHandler,       1, XML_SetUnparsedEntityDeclHandler,    text5,      Ignored) \
    X(InternalParsedEntityDecl, InternalParsedEntityDeclHandler, 1, installEntityDecl,                   none,       Ignored) \
    X(ExternalParsedEntityDecl, ExternalParsedEntityDeclHandler, 1, installEntityDecl,                   none,       Ignored) \
    X(NotationDecl,             NotationDeclHandler,             1, XML_SetNotationDeclHandler,          text4,      Ignored) \
    X(NotStandalone,            NotStandaloneHandler,            1, XML_SetNotStandaloneHandler,         bareAnswer, Answer)
// clang-format on

namespace quillmark {

#define QUILLMARK_KIND(kind, setter, group, install, shape, result) kind,
enum class Kind : int { QUILLMARK_EVENTS(QUILLMARK_KIND) };
#undef QUILLMARK_KIND

#define QUILLMARK_COUNT(kind, setter, group, install, shape, result) +1
inline constexpr int kKinds = 0 QUILLMARK_EVENTS(QUILLMARK_COUNT);
#undef QUILLMARK_COUNT

enum class ResultUse { Markup, Answer, Ignored };

struct EventInfo {
    const char* name; // for diagnostics
    ResultUse result;
};

#define QUILLMARK_INFO(kind, setter, group, install, shape, result) {#kind, ResultUse::result},
inline constexpr EventInfo kEvents[kKinds] = {QUILLMARK_EVENTS(QUILLMARK_INFO)};
#undef QUILLMARK_INFO

inline constexpr const EventInfo& eventInfo(Kind kind) {
    return kEvents[static_cast<int>(kind)];
}

} // namespace quillmark
