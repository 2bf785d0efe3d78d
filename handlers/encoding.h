// The bridge for encodings Expat does not know: three Rexx procedures describe the encoding
// (a map text), convert multi-byte sequences and hear when Expat is done with it.
#pragma once

#include "handler.h"

#include <cstddef>
#include <cstdint>
#include <expat.h>

// Each bridge's data is a ParserRecord, used only while it is live and the bridge's slot is
// filled; otherwise the handler answers 0, the converter -1 and the release does nothing.

// Runs the UnknownEncoding procedure with the handle and the encoding name and describes the
// encoding by its map text: answers 1 for a non-empty text and 0 for an empty one (Expat then
// reports the encoding unknown, and tells the release procedure at once). A procedure that
// fails to run describes nothing: the answer is 0, Expat's XML_Encoding and the record's map
// stay as they were, and no release procedure is told.
int XMLCALL _ExpatUnknownEncodingHandler(void* data, const XML_Char* name, XML_Encoding* info);
// Runs the UnknownEncodingConvert procedure with exactly the n bytes of the sequence (n from
// the record's map). The scalar is read from the returned string when that is a whole number
// in any form Rexx writes ("40000", " +40000 ", "40000.0", "4E4"): RexxStart's return code is
// only 16 bits wide and is used only when the string holds no whole number. A whole number
// beyond 32 bits, or a procedure that fails to run, answers -1 (malformed). Expat itself
// refuses scalars above U+FFFF from a converter, as an invalid token.
int XMLCALL _ExpatUnknownEncodingConvert(void* data, const char* bytes);
// Runs the UnknownEncodingRelease procedure, also while ExpatParserFree is freeing the Expat
// parser; calls on the handle answer 40 then.
void XMLCALL _ExpatUnknownEncodingRelease(void* data);

// Tells Expat to ask this record's UnknownEncoding procedure (or nobody, when its slot is
// empty), with this record as the handler data. External-entity parsers register their own:
// Expat copies the parent's handler data to the child, whose descriptions would otherwise run
// the parent's procedures and overwrite the parent's map.
void _ExpatRegisterUnknownEncoding(ParserRecord* record);

// Reads a map text into 256 entries. Items, from entry 0: a number (a digit, or a minus sign
// directly followed by a digit, then as strtol reads with base 0, clamped to 32 bits) sets its
// entry and takes one separator character after it; any other character sets its entry to the
// identity. Entries not reached are the identity; items beyond 256 are ignored. text may be
// null (an empty map) and need not be NUL-terminated.
void _ExpatReadEncodingMap(const char* text, std::size_t length, std::int32_t map[256]);
