#include "vurude_getptab_cbf.h"

#include <cstring>

Vurude_GetPtab_Cbf::Vurude_GetPtab_Cbf (const char16_t *label)
  : Vurude_Base_Cbf (label),
    tabname_ (),
    dhandle_ (),
    table_index_ (-1)
{
  declare_get (u"Z_VOK_PARAMETER_TABNAME", tabname_, 2 * tabname_units);
  declare_get (u"DHANDLE", dhandle_, 2 * dhandle_units);
  table_index_ = declare_table (u"Z_VOK_PARAMETER_TABLE", RFCTYPE_CHAR, 0);
  prepare ();
}

int Vurude_GetPtab_Cbf::getdata (RFC_HANDLE handle)
{
  const int result = get_checked (handle);
  cut_at_blank (tabname_);
  cut_at_blank (dhandle_);
  return result;
}

int Vurude_GetPtab_Cbf::fill_table (ITAB_H source)
{
  if (table_index_ < 0 || static_cast<std::size_t> (table_index_) >= table_count ())
    return -1;
  const unsigned lines = ItFill (source);
  const unsigned source_bytes = ItLeng (source);
  RFC_TABLE &entry = table_array[static_cast<std::size_t> (table_index_)];
  if (!entry.ithandle)
    {
      if (lines == 0)
        return 0;
      // Owned like a table the library created: deleted with this object.
      entry.ithandle = ItCreate (entry.name, source_bytes, lines, 0);
      if (!entry.ithandle)
        return -1;
      entry.newitab = 1;
    }
  const unsigned target_bytes = ItLeng (entry.ithandle);
  for (unsigned k = 1; k <= lines; ++k)
    {
      void *line = ItAppLine (entry.ithandle);
      if (!line)
        return -1;
      if (source_bytes <= target_bytes)
        ItCpyLine (source, k, line);
      else
        std::memcpy (line, ItGetLine (source, k), target_bytes);
    }
  return 0;
}
