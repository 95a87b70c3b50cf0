#ifndef VURUDE_BASE_CBF_H
#define VURUDE_BASE_CBF_H

#include "vurude_function.h"
#include "vurude_itab.h"
#include "vurude_parm.h"
#include "vurude_tabparm.h"

#include <rfclib/rfclib.h>

#include <cstddef>
#include <memory>
#include <vector>

// What every function the partner calls back shares: the parameters and
// tables it declares over buffers of its own, the reading of the call and
// the answer. The object owns what it declares, and the tables the library
// created for it on receipt: they live until the object goes, so each call
// of the function reuses them.
//
// One thread at a time, like the RFC handle the call arrives on.
class Vurude_Base_Cbf : public Vurude_Function
{
public:
  explicit Vurude_Base_Cbf (const char16_t *label);
  ~Vurude_Base_Cbf () override;

  // Reads what the partner passed / answers the call. Return the library's
  // code (0 on success).
  virtual int getdata (RFC_HANDLE handle);
  virtual int senddata (RFC_HANDLE handle);

  // FUNC_FLAG of the request-parameter answers: ' ' neither data nor
  // metadata, 'M' metadata only, 'D' data only, 'B' both.
  static char16_t func_flag (char16_t metadata_flag, char16_t data_flag);

protected:
  // Declare a parameter over a value of the object (not owned), or a table;
  // return the index of the new entry, or -1 without memory (the object
  // then refuses every exchange, see get_checked).
  int declare_get (const char16_t *name, char16_t *value, int length, int type = RFCTYPE_CHAR);
  int declare_send (const char16_t *name, char16_t *value, int length, int type = RFCTYPE_CHAR);
  int declare_table (const char16_t *name, int type, unsigned line_length);
  // Forgets every send parameter, for an answer built anew.
  void clear_send ();

  // get_data / send_data, refused with RFC_FAILURE and a resource error in
  // error_info when a declaration failed, so no exchange goes out without
  // its parameters.
  int get_checked (RFC_HANDLE handle);
  int send_checked (RFC_HANDLE handle);
  // Marks the object as unable to exchange (no memory for its values) /
  // whether it is.
  void set_incomplete ();
  bool incomplete () const { return incomplete_; }
  // Ends an exchange that could not be made for want of memory: rc and the
  // result are RFC_FAILURE, error_info a resource error.
  int fail_no_memory ();

  // Received table `index` wrapped (ownership none), or null without memory.
  std::unique_ptr<Vurude_Itab> wrap_table (int index) const;

  // Ends a zero-terminated text at its first blank / drops its trailing
  // blanks.
  static void cut_at_blank (char16_t *text);
  static void trim_trailing_blanks (char16_t *text);

private:
  bool refuse ();
  // Deletes the tables the library created for this object.
  void delete_created_tables ();

  std::vector<std::unique_ptr<Vurude_Parm>> owned_get_parms_;
  std::vector<std::unique_ptr<Vurude_Parm>> owned_send_parms_;
  std::vector<std::unique_ptr<Vurude_Tabparm>> owned_tables_;
  bool incomplete_;
};

#endif
