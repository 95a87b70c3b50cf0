#include "vurude_parm.h"

#include <ace/Log_Msg.h>

#include <cstring>

namespace
{
std::u16string copy_name (const char16_t *name)
{
  return name ? std::u16string (name) : std::u16string ();
}

unsigned value_length (int length, std::size_t units, std::size_t unit_size)
{
  return length < 0 ? static_cast<unsigned> (units * unit_size) : static_cast<unsigned> (length);
}
}

Vurude_Parm::Vurude_Parm (const char16_t *parm_name, char16_t *value, int value_length_bytes, int parm_type)
  : name_text (nullptr),
    name (copy_name (parm_name)),
    data (value),
    length (value_length (value_length_bytes,
                          value ? std::char_traits<char16_t>::length (value) : 0, sizeof (char16_t))),
    type (parm_type)
{
  if (parm_name)
    name_text = name.c_str ();
}

Vurude_Parm::Vurude_Parm (const char16_t *parm_name, char *value, int value_length_bytes, int parm_type)
  : name_text (nullptr),
    name (copy_name (parm_name)),
    data (value),
    length (value_length (value_length_bytes, value ? std::strlen (value) : 0, 1)),
    type (parm_type)
{
  if (parm_name)
    name_text = name.c_str ();
}

void Vurude_Parm::set (RFC_PARAMETER &entry) const
{
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Entering Vurude_Parm::set\n"));
  entry.name = name_text;
  if (name_text)
    entry.nlen = static_cast<unsigned> (name.size ());
  entry.type = static_cast<RFC_TYPEHANDLE> (type);
  entry.leng = length;
  entry.addr = data;
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Leaving Vurude_Parm::set\n"));
}

void Vurude_Parm::reset (RFC_PARAMETER &entry) const
{
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Entering Vurude_Parm::reset\n"));
  entry = RFC_PARAMETER ();
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Leaving Vurude_Parm::reset\n"));
}

void Vurude_Parm::release_data ()
{
  delete[] static_cast<char *> (data);
  data = nullptr;
}
