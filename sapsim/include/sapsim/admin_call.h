// The admin path: the running system calls a function of a registered server
// program through its gateway. The request travels as Z_SIM_ADMIN_CALL:
//   import PROGID (C 64), FUNCNAME (C 128)
//   table PARAMS, lines of 549 characters:
//     KIND (1): E a character value sent to the program, N a 4-byte integer
//               sent to it, I a character value received from it, T a table
//               received from it
//     NAME (30), LENG (6 digits: characters for E/I, line bytes for T, 0 = any)
//     VALUE (512): the value of an E line, the decimal number of an N line
//   table RESULT, lines of 543 characters: KIND (1: I value, T table row,
//     C row count of a table), NAME (30), VALUE (512)
//   export RC (I: the code of the call to the program, 0 1 2 3) and MESSAGE
//     (C 512: the exception for 2, the error text for 1 and 3)
//   exception NOT_REGISTERED: no idle registration of PROGID.
// `sapsim call` is the command-line side of it.
#pragma once

#include <cstddef>
#include <string>

namespace sapsim::admin_call {

constexpr size_t kind_chars = 1;
constexpr size_t name_chars = 30;
constexpr size_t leng_chars = 6;
constexpr size_t value_chars = 512;
constexpr size_t param_line_chars = kind_chars + name_chars + leng_chars + value_chars;  // 549
constexpr size_t result_line_chars = kind_chars + name_chars + value_chars;             // 543
constexpr size_t progid_chars = 64;
constexpr size_t funcname_chars = 128;
constexpr size_t message_chars = 512;

} // namespace sapsim::admin_call
