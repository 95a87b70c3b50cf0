// Small helpers shared by the function modules.
#pragma once

#include "sapsim/call_context.h"

#include "rfclib/rfclib.h"

#include <cstddef>

namespace sapsim {

struct FieldDef;

// RfcGetData with a log line on failure (the connection is then gone).
bool get_call_data(const CallContext& context, const char* module, RFC_PARAMETER* importing, RFC_TABLE* tables);
// RfcSendData with a log line on failure.
bool send_answer(const CallContext& context, const char* module, RFC_PARAMETER* exporting, RFC_TABLE* tables);
// Deletes the tables the library created on receipt (newitab set).
void delete_received_tables(RFC_TABLE* tables);

// Characters a field's value takes as text in the rows of the read-table
// modules: C, N, D, T their length, P 2 x LENG + 1 (digits, sign and point),
// X 2 x LENG (hexadecimal), I 11, s 6, b 3, F 24.
size_t text_width(const FieldDef& field);

constexpr RFC_PARAMETER end_of_parameters{nullptr, 0, 0, 0, nullptr};
constexpr RFC_TABLE end_of_tables{nullptr, 0, 0, 0, nullptr, 0, 0};

// A character parameter of `chars` UTF-16 characters.
inline RFC_PARAMETER char_parameter(const SAP_UC* name, char16_t* field, size_t chars)
{
    return RFC_PARAMETER{name, 0, RFCTYPE_CHAR, static_cast<unsigned>(chars * sizeof(char16_t)), field};
}

inline RFC_TABLE table_parameter(const SAP_UC* name, unsigned line_bytes = 0, ITAB_H table = nullptr)
{
    return RFC_TABLE{name, 0, RFCTYPE_CHAR, line_bytes, table, RFC_ITMODE_BYREFERENCE, 0};
}

} // namespace sapsim
