// rfclib: the RFC library of this project.
//
// The RFC operation set (connections, calls in both directions,
// registered servers, internal tables) over the TCP protocol described in
// docs/rfc-protocol.md. Text is UTF-16 (SAP_UC); every length is in bytes
// unless a comment says characters. docs/rfclib.md describes each operation.
//
// Threads: any number of handles may be used on any number of threads at once;
// one handle is used by one thread at a time (the library serialises
// concurrent use of one handle, it does not interleave it). An internal table
// belongs to one thread at a time. The last error is kept per thread. While a
// connection serves a call of its partner, a thread of the library sends
// heartbeats on it (docs/rfclib.md, "Partner time-out"); it never calls the
// program.
#ifndef RFCLIB_RFCLIB_H
#define RFCLIB_RFCLIB_H

#include <cstddef>
#include <cstdint>

extern "C" {

// ---------------------------------------------------------------- basic types

typedef char16_t SAP_UC;          // one UTF-16 code unit
typedef unsigned char SAP_RAW;    // one byte of a raw value
typedef std::int32_t RFC_INT;     // 4-byte integer (type RFCTYPE_INT)
typedef std::int16_t RFC_INT2;    // 2-byte integer (type RFCTYPE_INT2)
typedef std::uint8_t RFC_INT1;    // 1-byte integer (type RFCTYPE_INT1)
typedef double RFC_FLOAT;         // 8-byte float (type RFCTYPE_FLOAT)

// Connection handle. Opaque number; 0 (RFC_HANDLE_NULL) is "no connection".
// A closed handle is never handed out again, so closing twice is harmless.
typedef std::uint32_t RFC_HANDLE;
#define RFC_HANDLE_NULL 0u

// Internal table handle. Opaque; null is "no table".
typedef struct rfclib_itab* ITAB_H;
#define ITAB_NULL nullptr

// Type of a parameter, a table line or a structure element: one of
// RFC_TYPE_CODE, or a handle returned by RfcInstallUnicodeStructure.
typedef unsigned RFC_TYPEHANDLE;

// ----------------------------------------------------------------- constants

// Return codes of the Rfc* operations.
typedef enum RFC_RC {
  RFC_OK = 0,             // success
  RFC_FAILURE = 1,        // failure; details by RfcLastErrorEx
  RFC_EXCEPTION = 2,      // the called function raised an exception (name in *exception)
  RFC_SYS_EXCEPTION = 3,  // system failure or abort of the partner; connection ended
  RFC_CALL = 4,           // the partner calls back before answering
  RFC_RETRY = 7           // nothing arrived within the wait
} RFC_RC;

// Elementary type codes of parameters, table lines and structure elements.
typedef enum RFC_TYPE_CODE {
  RFCTYPE_CHAR = 0,    // character text, UTF-16, padded with blanks
  RFCTYPE_DATE = 1,    // date YYYYMMDD, 8 UTF-16 characters
  RFCTYPE_BCD = 2,     // packed number, 1..16 bytes
  RFCTYPE_TIME = 3,    // time HHMMSS, 6 UTF-16 characters
  RFCTYPE_BYTE = 4,    // raw bytes, padded with zeros
  RFCTYPE_NUM = 6,     // numeric text, UTF-16
  RFCTYPE_FLOAT = 7,   // 8-byte IEEE float
  RFCTYPE_INT = 8,     // 4-byte integer
  RFCTYPE_INT2 = 9,    // 2-byte integer
  RFCTYPE_INT1 = 10    // 1-byte integer
} RFC_TYPE_CODE;

// Handles of installed structures start here (RfcInstallUnicodeStructure).
#define RFCTYPE_STRUCTURE_FIRST 1000u

// Error groups of RFC_ERROR_INFO_EX::group; the key text is the group's name.
// docs/rfc-errors.md lists every group, key and message.
typedef enum RFC_ERROR_GROUP {
  RFC_ERROR_NONE = 0,
  RFC_ERROR_PROGRAM = 1,         // wrong use or arguments, malformed connect string
  RFC_ERROR_COMMUNICATION = 2,   // partner not reached, connection broken or closed
  RFC_ERROR_LOGON_FAILURE = 3,   // logon refused by the partner
  RFC_ERROR_SYSTEM_FAILURE = 4,  // partner ended the call with a system failure or abort
  RFC_ERROR_APPLICATION = 5,     // reserved for the partner's application errors
  RFC_ERROR_RESOURCE = 6,        // out of memory or another resource
  RFC_ERROR_PROTOCOL = 7,        // malformed, oversized or unexpected frame
  RFC_ERROR_INTERNAL = 8,        // a fault of this library
  RFC_ERROR_CANCELLED = 9,       // the handle was closed while the operation ran
  RFC_ERROR_BUSY = 10            // no idle registration / handle used by another thread
} RFC_ERROR_GROUP;

// Table modes of RFC_TABLE::itmode. Tables always travel by reference: the
// callee's changes come back to the caller's table.
#define RFC_ITMODE_BYREFERENCE 0

// Sizes in characters.
#define RFC_FUNCNAME_LN 30        // RfcGetName: names up to this many characters
#define RFC_LONG_FUNCNAME_LN 128  // longest function name on the wire
#define RFC_ERROR_KEY_LN 32
#define RFC_ERROR_MESSAGE_LN 512
#define RFC_CODEPAGE_LN 4

// ------------------------------------------------------------------- records

// One parameter. An array of them ends with an entry whose name is null.
// name: UTF-16 name; nlen: its length in characters (0: name is 0-terminated).
// type: RFC_TYPE_CODE or installed structure handle; leng: value size in bytes;
// addr: the value. Received values shorter than leng are padded (blanks for
// character types, zeros otherwise), longer ones cut.
typedef struct RFC_PARAMETER {
  const SAP_UC* name;
  unsigned nlen;
  RFC_TYPEHANDLE type;
  unsigned leng;
  void* addr;
} RFC_PARAMETER;

// One table. An array of them ends with an entry whose name is null.
// leng: line length in bytes (used when the library creates the table; 0:
// take the sender's line length). ithandle: the table, or null to have the
// library create it on receipt, then newitab is set to 1 and the caller owns
// the table (ItDelete). itmode: RFC_ITMODE_BYREFERENCE.
typedef struct RFC_TABLE {
  const SAP_UC* name;
  unsigned nlen;
  RFC_TYPEHANDLE type;
  unsigned leng;
  ITAB_H ithandle;
  int itmode;
  int newitab;
} RFC_TABLE;

// Error record: group (RFC_ERROR_GROUP), key (its name, or a partner's key)
// and a message, both 0-terminated UTF-16.
typedef struct RFC_ERROR_INFO_EX {
  int group;
  SAP_UC key[RFC_ERROR_KEY_LN + 1];
  SAP_UC message[RFC_ERROR_MESSAGE_LN + 1];
} RFC_ERROR_INFO_EX;

// Attributes of a connection: fixed 0-terminated UTF-16 texts. The own code
// page starts 302 characters into the record, the partner code page 345
// characters into it (both "4103", UTF-16 little endian).
typedef struct RFC_ATTRIBUTES {
  SAP_UC dest[65];              // destination named in the connect string
  SAP_UC own_host[101];         // host name of this side
  SAP_UC partner_host[101];     // application server the connection is attached to
  SAP_UC systnr[3];             // system number of the partner ("00".."99")
  SAP_UC sysid[9];              // system id of the partner
  SAP_UC client[4];             // logon client
  SAP_UC user[13];              // logon user
  SAP_UC language[3];           // logon language ("E" or "EN")
  SAP_UC trace[1];              // 'X' when trace was requested, else blank
  SAP_UC rfc_role[1];           // 'C' client side of the logon, 'S' server side
  SAP_UC own_type[1];           // 'E' external program, '3' SAP system
  SAP_UC own_codepage[5];       // 302: code page of this side
  SAP_UC own_rel[5];            // release of this library ("4200")
  SAP_UC partner_rel[5];        // release of the partner
  SAP_UC kernel_rel[5];         // kernel release of the partner
  SAP_UC partner_type[1];       // 'E' external program, '3' SAP system
  SAP_UC conversation_id[9];    // decimal id of the connection in this process
  SAP_UC reserved1[13];
  SAP_UC partner_codepage[5];   // 345: code page of the partner
  SAP_UC progname[41];          // program name of this side
  SAP_UC partner_address[47];   // numeric address of the partner
  SAP_UC reserved2[97];
} RFC_ATTRIBUTES;

static_assert(offsetof(RFC_ATTRIBUTES, own_codepage) == 302 * sizeof(SAP_UC),
              "own code page must start 302 characters into RFC_ATTRIBUTES");
static_assert(offsetof(RFC_ATTRIBUTES, partner_codepage) == 345 * sizeof(SAP_UC),
              "partner code page must start 345 characters into RFC_ATTRIBUTES");

// One element of a structure (RfcInstallUnicodeStructure). Only the 2-byte
// (UTF-16) layout is used: c2_length and c2_offset in bytes. The 1- and 4-byte
// layouts are carried for callers that fill them and are not checked.
typedef struct RFC_UNICODE_TYPE_ELEMENT {
  const SAP_UC* name;     // 0-terminated element name
  RFC_TYPEHANDLE type;    // elementary type code or an installed structure
  unsigned decimals;      // decimals of BCD and float elements
  unsigned c1_length;
  unsigned c1_offset;
  unsigned c2_length;
  unsigned c2_offset;
  unsigned c4_length;
  unsigned c4_offset;
} RFC_UNICODE_TYPE_ELEMENT;

// ---------------------------------------------------------------- operations

// Library set-up; idempotent, may be called from any thread. Reads the
// partner time-out from RFCLIB_PARTNER_TIMEOUT (whole seconds, 5..86400;
// otherwise 60) for the connections opened or accepted afterwards.
void RfcInit(void);

// Opens a connection to a partner named by a connect string
// (docs/rfclib.md, "Connect strings") and logs on. Returns the handle, or
// RFC_HANDLE_NULL with error_info (may be null) and the thread's last error set.
RFC_HANDLE RfcOpenEx(const SAP_UC* connect_string, RFC_ERROR_INFO_EX* error_info);

// Ends the connection (an orderly close when no call is open) and releases the
// handle. Unknown or already released handles are ignored.
void RfcClose(RFC_HANDLE handle);

// Calls a function of the partner: sends exporting parameters and tables.
// Answer with RfcReceive.
RFC_RC RfcCall(RFC_HANDLE handle, const SAP_UC* function, RFC_PARAMETER* exporting,
               RFC_TABLE* tables);

// Waits for the answer of the open call. 0: importing and tables filled;
// 2: exception, *exception names it; 3: system failure (*exception is
// "SYSTEM_FAILURE", details by RfcLastErrorEx); 4: the partner calls back
// (serve it, then call RfcReceive again); 1: failure, also when a partner of
// protocol 1.1 sent nothing at all (not even a heartbeat) for the partner
// time-out. *exception points into the handle and stays valid until the next
// operation on it.
RFC_RC RfcReceive(RFC_HANDLE handle, RFC_PARAMETER* importing, RFC_TABLE* tables,
                  SAP_UC** exception);

// RfcCall followed by RfcReceive, with the same results: on 4 serve the
// callback, then continue with RfcReceive.
RFC_RC RfcCallReceive(RFC_HANDLE handle, const SAP_UC* function, RFC_PARAMETER* exporting,
                      RFC_PARAMETER* importing, RFC_TABLE* tables, SAP_UC** exception);

// Registers a server program at a gateway. argv: a null-terminated vector
// holding "-a <program id>", "-g <gateway host>", "-x <gateway service>"
// (option and value as separate entries or in one entry). Returns the handle
// or RFC_HANDLE_NULL (details by RfcLastErrorEx). One registration serves one
// conversation: when RfcWaitForRequest reports its end, close the handle and
// register again.
RFC_HANDLE RfcAccept(SAP_UC** argv);

// Asks a gateway how many programs are registered under a program id.
// 0: *total = registrations (ready + busy), *init = 0.
RFC_RC RfcCheckRegisterServer(const SAP_UC* program_id, const SAP_UC* gwhost,
                              const SAP_UC* gwserv, RFC_INT* total, RFC_INT* init,
                              RFC_INT* ready, RFC_INT* busy, RFC_ERROR_INFO_EX* error_info);

// Waits up to `seconds` for a call of the partner. 0: a call waits (RfcGetName,
// RfcGetData, then answer); 7: none within the wait; 1: the connection ended
// or failed. An idle connection never times out here.
RFC_RC RfcWaitForRequest(RFC_HANDLE handle, int seconds);

// Name of the call being served. RfcGetName writes at most
// RFC_FUNCNAME_LN + 1 characters (longer names fail with 1);
// RfcGetLongNameEx writes at most `size` characters including the 0.
RFC_RC RfcGetName(RFC_HANDLE handle, SAP_UC* name);
RFC_RC RfcGetLongNameEx(RFC_HANDLE handle, SAP_UC* name, unsigned size);

// Reads the parameters and tables of the call being served.
RFC_RC RfcGetData(RFC_HANDLE handle, RFC_PARAMETER* importing, RFC_TABLE* tables);

// Answers the call being served.
RFC_RC RfcSendData(RFC_HANDLE handle, RFC_PARAMETER* exporting, RFC_TABLE* tables);

// Ends the call being served with an exception (with tables).
RFC_RC RfcRaise(RFC_HANDLE handle, const SAP_UC* exception);
RFC_RC RfcRaiseTables(RFC_HANDLE handle, const SAP_UC* exception, RFC_TABLE* tables);

// Ends the conversation: the partner's open call fails with a system failure
// carrying `text`. The connection is closed and the handle released.
void RfcAbort(RFC_HANDLE handle, const SAP_UC* text);

// Attributes of the connection.
RFC_RC RfcGetAttributes(RFC_HANDLE handle, RFC_ATTRIBUTES* attributes);

// Copies the calling thread's last error. 0 when a record was copied,
// 1 when this thread has no error yet.
int RfcLastErrorEx(RFC_ERROR_INFO_EX* error_info);

// Installs a structure and gives its type handle for parameters and tables.
// Checks: docs/rfclib.md. entries_c/entries_c4 fillers are not supported (0).
RFC_RC RfcInstallUnicodeStructure(const SAP_UC* name, const RFC_UNICODE_TYPE_ELEMENT* elements,
                                  unsigned entries, unsigned fillers_c1, unsigned fillers_c4,
                                  RFC_TYPEHANDLE* type);

// Library and protocol versions as lines of text (at most `size` characters
// including the 0). Returns the number of characters written.
unsigned RfcGetAllLibVersions(SAP_UC* text, unsigned size);

// Code pages of a connection (own, partner), each RFC_CODEPAGE_LN + 1 characters.
// With RFC_HANDLE_NULL both are this library's code page.
RFC_RC RfcGetCodePagesInfo(RFC_HANDLE handle, SAP_UC* own_codepage, SAP_UC* partner_codepage);

// Version of this library: major, minor and patch number (1, 0, 0).
RFC_RC RfcGetPatchLevel(int* major, int* minor, int* patch);

// ----------------------------------------------------------- internal tables

// Creates a table of lines of `leng` bytes (1 .. 8 MiB); occu: expected lines
// (a hint); memo: 0. Null on bad arguments or without memory.
ITAB_H ItCreate(const SAP_UC* name, unsigned leng, unsigned occu, unsigned memo);

// Appends a zero-filled line and returns it (null without memory).
void* ItAppLine(ITAB_H itab);

// Line `line` (1-based) for reading / for changing; null when out of range.
// Pointers stay valid until the table is emptied, deleted or received into.
// Change lines through ItGupLine or ItAppLine: changes made through ItGetLine
// are not seen by a reply that returns an unchanged received table.
void* ItGetLine(ITAB_H itab, unsigned line);
void* ItGupLine(ITAB_H itab, unsigned line);

// Copies line `line` (1-based) into dest (ItLeng bytes). 0 ok, 1 no such line.
int ItCpyLine(ITAB_H itab, unsigned line, void* dest);

// Number of lines; line length in bytes (0 for a null table).
unsigned ItFill(ITAB_H itab);
unsigned ItLeng(ITAB_H itab);

// Empties the table (keeps its memory for reuse) / destroys it. 0 ok.
int ItFree(ITAB_H itab);
int ItDelete(ITAB_H itab);

}  // extern "C"

#endif  // RFCLIB_RFCLIB_H
