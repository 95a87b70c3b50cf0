#ifndef VURUDE_HANDLE_TOKEN_H
#define VURUDE_HANDLE_TOKEN_H

#include <cstdint>

// The unguessable part of a client handle: 64 bits from the system's random
// source, drawn anew for every connection. A handle names a logon to any
// client that quotes it, so it must not be derivable from another handle
// (as an address or a counter would be). False when the source fails; the
// connection must then not be given a handle.
bool draw_handle_token (std::uint64_t &token);

#endif
