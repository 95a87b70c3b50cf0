#ifndef VURUDE_XML_PROLOGS_H
#define VURUDE_XML_PROLOGS_H

#include <string_view>

// The prologs the server parses in front of a client's request text: an XML
// declaration and a document type declaration with an internal subset, one
// declaration a line, so the client's first line is reported as line 21
// (connect), 35 (function), 25 (sselect, gselect) or 32 (nselect).
extern const char connect_dtd[];
extern const char function_dtd[];
extern const char sselect_dtd[];
extern const char nselect_dtd[];
extern const char gselect_dtd[];
// A complete document of its own: whatever follows it is a fatal error.
extern const char dummy_dtd[];

// The prolog for a root element name (exact, case-sensitive), dummy_dtd for
// any name that is not one of the five request types.
const char *prolog_for_root (std::u16string_view root);

#endif
