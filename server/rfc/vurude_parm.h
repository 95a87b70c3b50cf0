#ifndef VURUDE_PARM_H
#define VURUDE_PARM_H

#include <rfclib/rfclib.h>

#include <string>

// One parameter of an RFC exchange: its name, where its value lives and how
// the library is to read or write it. The value is not owned unless the
// caller hands it over with release_data.
class Vurude_Parm
{
public:
  // A wide value: length -1 (any negative length) takes twice the string
  // length of the value, the bytes of its characters without terminator.
  Vurude_Parm (const char16_t *name, char16_t *value, int length, int type);
  // A narrow value, or any other bytes with their length given: length -1
  // takes the string length of the value.
  Vurude_Parm (const char16_t *name, char *value, int length, int type);
  Vurude_Parm (const Vurude_Parm &) = delete;
  Vurude_Parm &operator= (const Vurude_Parm &) = delete;

  // Fills one library entry from this parameter / writes zeros over one.
  void set (RFC_PARAMETER &entry) const;
  void reset (RFC_PARAMETER &entry) const;

  // Deletes a value the caller allocated with new char[] and forgets it.
  void release_data ();

  // Null when the parameter was made without a name; points into `name`.
  const char16_t *name_text;
  std::u16string name;
  void *data;
  unsigned length;
  // Library type: 0 character, 4 bytes, 8 integer (RFC_TYPE_CODE).
  int type;
};

#endif
