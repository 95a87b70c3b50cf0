#include "vurude_tabparm.h"

Vurude_Tabparm::Vurude_Tabparm (const char16_t *table_name, int line_type, unsigned length,
                                ITAB_H table, int mode)
  : name_text (nullptr),
    name (table_name ? std::u16string (table_name) : std::u16string ()),
    type (line_type),
    line_length (length),
    itab (table),
    itmode (mode)
{
  if (table_name)
    name_text = name.c_str ();
}

void Vurude_Tabparm::set (RFC_TABLE &entry) const
{
  entry.name = name_text;
  if (name_text)
    entry.nlen = static_cast<unsigned> (name.size ());
  entry.type = static_cast<RFC_TYPEHANDLE> (type);
  entry.leng = line_length;
  entry.ithandle = itab;
  entry.itmode = itmode;
  entry.newitab = 0;
}
