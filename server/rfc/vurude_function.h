#ifndef VURUDE_FUNCTION_H
#define VURUDE_FUNCTION_H

#include "vurude_parm.h"
#include "vurude_tabparm.h"

#include <rfclib/rfclib.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One RFC exchange: a call into the partner, or one function the partner
// calls back. The lists say what is received, sent and passed as tables;
// the prepare operations turn them into the arrays the library takes. The
// lists do not own their entries: whoever adds one deletes it, after this
// object is done with it.
//
// One thread at a time, like the RFC handle it is used on.
class Vurude_Function
{
public:
  explicit Vurude_Function (const char16_t *name);
  virtual ~Vurude_Function ();
  Vurude_Function (const Vurude_Function &) = delete;
  Vurude_Function &operator= (const Vurude_Function &) = delete;

  // Append to a list; return the index of the new entry, or -1 without
  // memory (the list is left as it was).
  int add_get_parm (Vurude_Parm *parm);
  int add_send_parm (Vurude_Parm *parm);
  int add_table (Vurude_Tabparm *tabparm);

  // Build the arrays from the lists, each ended by an all-zero entry:
  // prepare_get the received parameters and the tables, prepare_send the
  // sent parameters, prepare both. Call again after changing a list.
  // Return 0, or -1 without memory: the library calls then fail (rc 1,
  // error_info group RFC_ERROR_RESOURCE) until a prepare succeeds.
  int prepare_get ();
  int prepare_send ();
  int prepare ();

  // One library call each; return the library's code, also kept in `rc`.
  // `exception` is cleared before each; `error_info` and `last_error_rc`
  // are filled from RfcLastErrorEx when rc is 1 (and 3 for the two that
  // receive).
  int rfccall (RFC_HANDLE handle);
  int rfccallreceive (RFC_HANDLE handle);
  int receive (RFC_HANDLE handle);
  int get_data (RFC_HANDLE handle);
  int send_data (RFC_HANDLE handle);
  int raise (RFC_HANDLE handle, const char16_t *exception_name);

  // Index of the first prepared table with exactly this name; 0 also when
  // no table has it.
  int get_table_index (std::u16string_view table_name) const;

  // Points prepared send entry `index` at a value; a negative length takes
  // twice the string length of the UTF-16 text at `address`. Returns 0, or
  // -1 when there is no such entry.
  int set_export_data_ptr (int index, const void *address, int length);

  // Prepared entries; null or 0 for an index out of range. The table handle
  // of a table the library created is there after a receive or get.
  ITAB_H table_handle (int index) const;
  const char16_t *table_name (int index) const;
  unsigned table_name_length (int index) const;
  const char16_t *get_parm_name (int index) const;
  unsigned get_parm_name_length (int index) const;
  const char16_t *send_parm_name (int index) const;
  unsigned send_parm_name_length (int index) const;
  unsigned send_length (int index) const;
  void *send_address (int index) const;
  // Entries of the prepared arrays, ending entries not counted.
  std::size_t get_count () const { return get_count_; }
  std::size_t send_count () const { return send_count_; }
  std::size_t table_count () const { return table_count_; }

  int rc;
  RFC_ERROR_INFO_EX error_info;
  int last_error_rc;
  // Exception name of the last call or receive; points into the library.
  SAP_UC *exception;
  std::u16string name;
  std::vector<Vurude_Parm *> get_parms;
  std::vector<Vurude_Parm *> send_parms;
  std::vector<Vurude_Tabparm *> tables;
  std::unique_ptr<RFC_PARAMETER[]> get_array;
  std::unique_ptr<RFC_PARAMETER[]> send_array;
  std::unique_ptr<RFC_TABLE[]> table_array;

private:
  // Stores the library's code and, when `with_details`, its error record.
  int finish (RFC_RC result, bool with_details);
  // A failed prepare: the call is refused with a resource error instead of
  // going out without its parameters.
  bool refuse_unprepared ();

  std::size_t get_count_;
  std::size_t send_count_;
  std::size_t table_count_;
  bool get_failed_;
  bool send_failed_;
};

#endif
