// The bridge for encodings Expat does not know: three Rexx procedures describe the encoding (a
// map text), convert multi-byte sequences and hear when Expat is done with it.
#pragma once

#include "handler.h"

#include <cstddef>
#include <cstdint>
#include <expat.h>

namespace quillmark {

// Tells Expat to ask this record's UnknownEncoding procedure (or nobody, when its slot is empty),
// with this record as the handler data.
void installUnknownEncoding(ParserRecord* record);

// The converter Expat is given with a description: runs the record's UnknownEncodingConvert
// procedure (data is the record) for the sequence that starts at bytes.
int XMLCALL convertSequence(void* data, const char* bytes);

// Reads a map text into 256 entries. Items, from entry 0: a number (a digit, or a minus sign
// directly followed by a digit, read as strtol reads with base 0, clamped to 32 bits) sets its
// entry and takes one separator character after it; any other character sets its entry to the
// identity. Entries not reached are the identity; items beyond 256 are ignored. text may be
// null and need not be NUL-terminated.
void readEncodingMap(const char* text, std::size_t length, std::int32_t map[256]);

} // namespace quillmark
