// The callbacks the package gives Expat, one per kind of event.
#pragma once

#include "handler.h"

#include <expat.h>

void XMLCALL _ExpatStartElementHandler(void* userData, const XML_Char* name,
                                       const XML_Char** attributes);
void XMLCALL _ExpatEndElementHandler(void* userData, const XML_Char* name);
void XMLCALL _ExpatCharacterDataHandler(void* userData, const XML_Char* text, int length);
void XMLCALL _ExpatProcessingInstructionHandler(void* userData, const XML_Char* target,
                                                const XML_Char* data);
void XMLCALL _ExpatCommentHandler(void* userData, const XML_Char* text);
void XMLCALL _ExpatStartDoctypeDeclHandler(void* userData, const XML_Char* name,
                                           const XML_Char* systemId, const XML_Char* publicId,
                                           int hasInternalSubset);
void XMLCALL _ExpatEndDoctypeDeclHandler(void* userData);
void XMLCALL _ExpatStartCdataSectionHandler(void* userData);
void XMLCALL _ExpatEndCdataSectionHandler(void* userData);
void XMLCALL _ExpatDefaultHandler(void* userData, const XML_Char* text, int length);
void XMLCALL _ExpatDefaultHandlerExpand(void* userData, const XML_Char* text, int length);
int XMLCALL _ExpatExternalEntityRefHandler(XML_Parser parser, const XML_Char* context,
                                           const XML_Char* base, const XML_Char* systemId,
                                           const XML_Char* publicId);
void XMLCALL _ExpatStartNamespaceDeclHandler(void* userData, const XML_Char* prefix,
                                             const XML_Char* uri);
void XMLCALL _ExpatEndNamespaceDeclHandler(void* userData, const XML_Char* prefix);
void XMLCALL _ExpatUnparsedEntityDeclHandler(void* userData, const XML_Char* name,
                                             const XML_Char* base, const XML_Char* systemId,
                                             const XML_Char* publicId,
                                             const XML_Char* notationName);
void XMLCALL _ExpatInternalParsedEntityDeclHandler(void* userData, const XML_Char* name,
                                                   const XML_Char* value, int length);
void XMLCALL _ExpatExternalParsedEntityDeclHandler(void* userData, const XML_Char* name,
                                                   const XML_Char* base, const XML_Char* systemId,
                                                   const XML_Char* publicId);
void XMLCALL _ExpatNotationDeclHandler(void* userData, const XML_Char* name, const XML_Char* base,
                                       const XML_Char* systemId, const XML_Char* publicId);
int XMLCALL _ExpatNotStandaloneHandler(void* userData);
void XMLCALL _ExpatEntityDeclHandler(void* userData, const XML_Char* name, int isParameterEntity,
                                     const XML_Char* value, int valueLength, const XML_Char* base,
                                     const XML_Char* systemId, const XML_Char* publicId,
                                     const XML_Char* notationName);
