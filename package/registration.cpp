// Registration of the package's functions with the interpreter.
#include "package.h"

namespace {

constexpr const char* kLibraryName = "quillmark";

// The functions a Rexx program calls, each registered under its own name, which is also the
// name of its entry point. ExpatLoadFuncs registers them and is not in the table.
constexpr const char* QuillmarkFuncTable[] = {
    "ExpatDropFuncs",
    "ExpatSetVariablePool",
    "ExpatGetVariablePool",
    "ExpatFreeVariablePool",
    "ExpatParserCreate",
    "ExpatParserCreateNS",
    "ExpatExternalEntityParserCreate",
    "ExpatParserFree",
    "ExpatParse",
    "ExpatSetElementHandler",
    "ExpatSetCharacterDataHandler",
    "ExpatSetProcessingInstructionHandler",
    "ExpatSetCommentHandler",
    "ExpatSetDoctypeDeclHandler",
    "ExpatSetCdataSectionHandler",
    "ExpatSetDefaultHandler",
    "ExpatSetDefaultHandlerExpand",
    "ExpatSetInternalParsedEntityDeclHandler",
    "ExpatSetExternalParsedEntityDeclHandler",
    "ExpatSetExternalEntityRefHandler",
    "ExpatSetUnknownEncodingHandler",
    "ExpatSetUnknownEncodingConverter",
    "ExpatSetNamespaceDeclHandler",
    "ExpatSetUnparsedEntityDeclHandler",
    "ExpatSetNotationDeclHandler",
    "ExpatSetNotStandaloneHandler",
    "ExpatGetErrorCode",
    "ExpatErrorString",
    "ExpatGetCurrentByteIndex",
    "ExpatGetCurrentLineNumber",
    "ExpatGetCurrentColumnNumber",
    "ExpatSetBase",
    "ExpatGetBase",
    "ExpatGetSpecifiedAttributeCount",
    "ExpatGetIdAttributeIndex",
    "ExpatGetCurrentByteCount",
    "ExpatSetEncoding",
    "ExpatSetParamEntityParsing",
};

} // namespace

// Registers every function of the table. A name that is registered already (code 10, as when a
// handler procedure runs the usual load lines again) counts as registered. When the library
// name is not found because the program loaded the package by a path, the path the package
// was loaded from is used instead. Any other refusal stops the loop and is the return code.
QM_EXPORT APIRET APIENTRY ExpatLoadFuncs(PCSZ, ULONG, PRXSTRING, PCSZ, PRXSTRING result) {
    char path[4096];
    bool havePath = false;
    for (const char* name : QuillmarkFuncTable) {
        APIRET rc = RexxRegisterFunctionDll(name, kLibraryName, name);
        if (rc == RXFUNC_MODNOTFND) {
            if (!havePath) havePath = _ExpatOwnLibraryPath(path, sizeof path);
            if (havePath) rc = RexxRegisterFunctionDll(name, path, name);
        }
        if (rc != RXFUNC_OK && rc != RXFUNC_DEFINED) return rc;
    }
    // Left untouched, the caller's RESULT would be the interpreter's 256-byte buffer.
    _ExpatResultEmpty(result);
    return 0;
}

QM_EXPORT APIRET APIENTRY ExpatDropFuncs(PCSZ, ULONG, PRXSTRING, PCSZ, PRXSTRING result) {
    for (const char* name : QuillmarkFuncTable) RexxDeregisterFunction(name);
    _ExpatResultEmpty(result);
    return 0;
}
