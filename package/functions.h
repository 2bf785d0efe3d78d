// The package's exported functions, listed once. ExpatLoadFuncs registers every name after it
// under its own name; the linker's export list (exports.map, exports.def), the tests and the
// fuzz drivers are made from this list too.
#pragma once

#include "platform.h"

// clang-format off
#define QUILLMARK_FUNCTIONS(X)                                                                     \
    X(ExpatLoadFuncs)                                                                              \
    X(ExpatDropFuncs)                                                                              \
    X(ExpatSetVariablePool)                                                                        \
    X(ExpatGetVariablePool)                                                                        \
    X(ExpatFreeVariablePool)                                                                       \
    X(ExpatParserCreate)                                                                           \
    X(ExpatParserCreateNS)                                                                         \
    X(ExpatExternalEntityParserCreate)                                                             \
    X(ExpatParserFree)                                                                             \
    X(ExpatParse)                                                                                  \
    X(ExpatSetElementHandler)                                                                      \
    X(ExpatSetCharacterDataHandler)                                                                \
    X(ExpatSetProcessingInstructionHandler)                                                        \
    X(ExpatSetCommentHandler)                                                                      \
    X(ExpatSetDoctypeDeclHandler)                                                                  \
    X(ExpatSetCdataSectionHandler)                                                                 \
    X(ExpatSetDefaultHandler)                                                                      \
    X(ExpatSetDefaultHandlerExpand)                                                                \
    X(ExpatSetInternalParsedEntityDeclHandler)                                                     \
    X(ExpatSetExternalParsedEntityDeclHandler)                                                     \
    X(ExpatSetExternalEntityRefHandler)                                                            \
    X(ExpatSetUnknownEncodingHandler)                                                              \
    X(ExpatSetUnknownEncodingConverter)                                                            \
    X(ExpatSetNamespaceDeclHandler)                                                                \
    X(ExpatSetUnparsedEntityDeclHandler)                                                           \
    X(ExpatSetNotationDeclHandler)                                                                 \
    X(ExpatSetNotStandaloneHandler)                                                                \
    X(ExpatGetErrorCode)                                                                           \
    X(ExpatErrorString)                                                                            \
    X(ExpatGetCurrentByteIndex)                                                                    \
    X(ExpatGetCurrentLineNumber)                                                                   \
    X(ExpatGetCurrentColumnNumber)                                                                 \
    X(ExpatSetBase)                                                                                \
    X(ExpatGetBase)                                                                                \
    X(ExpatGetSpecifiedAttributeCount)                                                             \
    X(ExpatGetIdAttributeIndex)                                                                    \
    X(ExpatGetCurrentByteCount)                                                                    \
    X(ExpatSetEncoding)                                                                            \
    X(ExpatSetParamEntityParsing)
// clang-format on

// Every entry point has the interpreter's external-function form.
#define QUILLMARK_ENTRY(name)                                                                      \
    QM_EXPORT APIRET APIENTRY name([[maybe_unused]] PCSZ called, [[maybe_unused]] ULONG argc,      \
                                   [[maybe_unused]] PRXSTRING argv, [[maybe_unused]] PCSZ queue,   \
                                   [[maybe_unused]] PRXSTRING result)

#define QUILLMARK_DECLARE(name) QUILLMARK_ENTRY(name);
QUILLMARK_FUNCTIONS(QUILLMARK_DECLARE)
#undef QUILLMARK_DECLARE
