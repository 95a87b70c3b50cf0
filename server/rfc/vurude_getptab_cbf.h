#ifndef VURUDE_GETPTAB_CBF_H
#define VURUDE_GETPTAB_CBF_H

#include "vurude_base_cbf.h"

#include <cstddef>

// Z_VOK_GET_PARAMETER_TABLE: the partner asks for the lines of one of the
// request's tables, by name, and receives them in Z_VOK_PARAMETER_TABLE.
class Vurude_GetPtab_Cbf : public Vurude_Base_Cbf
{
public:
  static constexpr std::size_t tabname_units = 40;
  static constexpr std::size_t dhandle_units = 130;

  explicit Vurude_GetPtab_Cbf (const char16_t *label);

  // Reads the call; cuts the table name and the handle at their first blank.
  int getdata (RFC_HANDLE handle) override;

  // Zero-terminated.
  const char16_t *tabname () const { return tabname_; }
  const char16_t *dhandle () const { return dhandle_; }

  // Appends a copy of every line of `source` to the received
  // Z_VOK_PARAMETER_TABLE (made with the source's line length when the
  // partner sent none). A source line longer than the received table's lines
  // is cut to them. 0, or -1 when a line or the table cannot be made.
  int fill_table (ITAB_H source);

private:
  char16_t tabname_[tabname_units + 1];
  char16_t dhandle_[dhandle_units + 1];
  int table_index_;
};

#endif
