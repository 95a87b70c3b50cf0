// rfclib gateway side: what a program needs to be the system end of the
// protocol (docs/rfc-protocol.md). It listens on a port, accepts connections
// on threads of its own, lets the program check each logon, hands logged-on
// connections to the program as ordinary RFC handles, and keeps the programs
// that registered with RfcAccept so that the program can call them.
//
// A logged-on connection is served with the ordinary operations:
// RfcWaitForRequest, RfcGetName, RfcGetData, RfcSendData, RfcRaise,
// RfcRaiseTables, RfcAbort, and, while serving, RfcCall + RfcReceive on the same
// handle to call back into the caller (nested to any depth).
#ifndef RFCLIB_RFC_GATEWAY_H
#define RFCLIB_RFC_GATEWAY_H

#include "rfclib/rfclib.h"

extern "C" {

// A running gateway. Opaque; null is "none".
typedef struct rfclib_gateway* RFC_GATEWAY;

#define RFC_GW_TEXT_LN 255

// Kind of an incoming connection.
typedef enum RFC_GW_KIND {
  RFC_GW_LOGON = 1,     // RfcOpenEx: a client logs on
  RFC_GW_REGISTER = 2   // RfcAccept: a server program registers under a program id
} RFC_GW_KIND;

// What an incoming connection presents: 0-terminated UTF-16 texts as the
// partner sent them (cut at RFC_GW_TEXT_LN characters).
typedef struct RFC_GW_LOGON_DATA {
  int kind;                                // RFC_GW_KIND
  SAP_UC client[RFC_GW_TEXT_LN + 1];
  SAP_UC user[RFC_GW_TEXT_LN + 1];
  SAP_UC password[RFC_GW_TEXT_LN + 1];     // never log it
  SAP_UC language[RFC_GW_TEXT_LN + 1];
  SAP_UC dest[RFC_GW_TEXT_LN + 1];
  SAP_UC partner_host[RFC_GW_TEXT_LN + 1]; // host name the partner reports
  SAP_UC program[RFC_GW_TEXT_LN + 1];      // program name the partner reports
  SAP_UC program_id[RFC_GW_TEXT_LN + 1];   // registrations: the program id
  SAP_UC partner_address[64];              // numeric address and port of the peer
} RFC_GW_LOGON_DATA;

// Checks a logon or registration; runs on the connection's thread.
// Return 0 to accept: fill in `attributes` what the partner shall see of this
// system (partner_host, systnr, sysid, partner_codepage, kernel_rel,
// partner_rel, partner_type; other fields are ignored, empty ones get
// defaults). Return non-zero to refuse: fill `refusal` (group, key, message);
// the partner's RfcOpenEx / RfcAccept then fails with that record.
typedef int (*RFC_GW_LOGON_CHECK)(void* context, const RFC_GW_LOGON_DATA* logon,
                                  RFC_ATTRIBUTES* attributes, RFC_ERROR_INFO_EX* refusal);

// Serves one logged-on connection; runs on the connection's own thread. The
// handle is an ordinary RFC handle of the system side. When the function
// returns, the gateway closes the handle unless it is closed already.
typedef void (*RFC_GW_SERVE)(void* context, RFC_HANDLE handle, const RFC_GW_LOGON_DATA* logon);

// Reports a connection the gateway ended before it was logged on or
// registered: the peer does not speak this protocol, sent a malformed or
// truncated handshake, another major version, nothing within 30 seconds, or
// closed it; the logon check refused it; the gateway was full; the WELCOME
// could not be sent. partner_address: numeric address and port of the peer
// (0-terminated UTF-16); reason: group, key and message (what the peer was
// told when it was told anything). Connections broken by RfcGwStop are not
// reported. Runs on the connection's thread (for a full gateway on the
// accepting thread), so several may run at once; all have returned when
// RfcGwStop returns.
typedef void (*RFC_GW_DROP_LOG)(void* context, const SAP_UC* partner_address,
                                const RFC_ERROR_INFO_EX* reason);

typedef struct RFC_GW_CONFIG {
  const char* bind_address;        // numeric address to listen on; null: all (0.0.0.0)
  unsigned short port;             // 0: any free port (RfcGwPort tells which)
  unsigned max_connections;        // connections served at once; 0: 256
  RFC_GW_LOGON_CHECK logon_check;  // required
  RFC_GW_SERVE serve;              // required
  void* context;                   // passed to every function of the configuration
  RFC_GW_DROP_LOG drop_log;        // optional (null: drops are not reported)
} RFC_GW_CONFIG;

// Starts listening and accepting. Returns the gateway, or null with `error`
// (may be null) and the thread's last error set.
RFC_GATEWAY RfcGwStart(const RFC_GW_CONFIG* config, RFC_ERROR_INFO_EX* error);

// Port the gateway listens on.
unsigned short RfcGwPort(RFC_GATEWAY gateway);

// Registrations under a program id: idle ones (ready) and ones with an open
// handle from RfcGwOpenRegistered (busy). Registrations whose program has
// gone are dropped before counting. A registration is ready from its WELCOME
// on: counted once the program's RfcAccept has returned, never earlier than
// its handshake is over. Returns ready + busy.
int RfcGwCountRegistered(RFC_GATEWAY gateway, const SAP_UC* program_id, int* ready, int* busy);

// Takes one idle registration of the program id and returns a handle to call
// the registered program (RfcCall / RfcReceive / RfcCallReceive; the program
// may call back); the handle takes RfcCall at once. The registration serves
// this one conversation: RfcClose ends it, and the program registers again.
// RFC_HANDLE_NULL with `error` (may be null) when none is idle (group
// RFC_ERROR_BUSY).
RFC_HANDLE RfcGwOpenRegistered(RFC_GATEWAY gateway, const SAP_UC* program_id,
                               RFC_ERROR_INFO_EX* error);

// Ends the call being served with a system failure: the caller's call returns
// 3 with this key and message; the connection ends and the handle is released.
void RfcGwSystemFailure(RFC_HANDLE handle, const SAP_UC* key, const SAP_UC* message);

// Stops accepting, breaks every connection of this gateway (blocked
// operations on them fail), waits for the serving threads and frees the
// gateway. Serve functions must return once their handle fails.
void RfcGwStop(RFC_GATEWAY gateway);

}  // extern "C"

#endif  // RFCLIB_RFC_GATEWAY_H
