#ifndef VURUDE_TABPARM_H
#define VURUDE_TABPARM_H

#include <rfclib/rfclib.h>

#include <string>

// One table of an RFC exchange. Without a table handle the library creates
// the table when it arrives; its handle is then found in the function's
// table array (Vurude_Function::table_handle), not here.
class Vurude_Tabparm
{
public:
  Vurude_Tabparm (const char16_t *name, int type, unsigned line_length, ITAB_H itab, int itmode);
  Vurude_Tabparm (const Vurude_Tabparm &) = delete;
  Vurude_Tabparm &operator= (const Vurude_Tabparm &) = delete;

  // Fills one library entry from this table.
  void set (RFC_TABLE &entry) const;

  // Null when the table was made without a name; points into `name`.
  const char16_t *name_text;
  std::u16string name;
  // 0 character lines, 4 byte lines.
  int type;
  // Bytes; 0 when the library creates the table.
  unsigned line_length;
  ITAB_H itab;
  // 0: by reference.
  int itmode;
};

#endif
