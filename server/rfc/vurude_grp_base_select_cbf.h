#ifndef VURUDE_GRP_BASE_SELECT_CBF_H
#define VURUDE_GRP_BASE_SELECT_CBF_H

#include "vurude_grp_cbf.h"

#include <rfclib/rfclib.h>

#include <string>

// Z_VOK_GET_REQUEST_PARAMETERS of a select request: the statement tables
// MDATA and JDATA, which the partner passes and receives back, and FUNC_FLAG,
// ABAPPROG, VARIANT, BLOCKSIZE, DEBUG, DEST, DHANDLE and DIALOG_FLAG. The
// parameters are declared once; every answer recomputes their values. The
// select classes write their statement into the tables between
// reinitialise and send_data.
class Vurude_Grp_Base_Select_Cbf : public Vurude_Grp_Cbf
{
public:
  // Lines of MDATA and JDATA: 72 characters.
  static constexpr unsigned statement_line_bytes = 144;
  // BLOCKSIZE is eight digits: larger sizes are sent as the largest.
  static constexpr int max_blocksize = 99999999;

  // DIALOG_FLAG is the unlimited_dialog option as it is now.
  Vurude_Grp_Base_Select_Cbf (const char16_t *label, Vurude_Base_Request *request);

  // Declares the tables and the send parameters and prepares, once.
  // 0, or -1 when that found no memory (then every exchange is refused).
  int initialise ();
  // Computes every value of the answer from the current request (DIALOG_FLAG
  // keeps its value); initialises first when that was not done.
  // 0, or -1 without memory.
  int reinitialise ();

  // initialise when not done, then get_data: MDATA and JDATA arrive.
  virtual int grp_getdata (RFC_HANDLE handle);
  // reinitialise, then send_data.
  virtual int grp_senddata (RFC_HANDLE handle);

  int getdata (RFC_HANDLE handle) override { return grp_getdata (handle); }
  int senddata (RFC_HANDLE handle) override { return grp_senddata (handle); }

  // The received tables; null before they arrived.
  ITAB_H mdata_table () const { return table_handle (mdata_index_); }
  ITAB_H jdata_table () const { return table_handle (jdata_index_); }

  char16_t dialog_flag () const { return dialog_flag_[0]; }

protected:
  bool initialised_;
  int initialise_result_;
  int mdata_index_;
  int jdata_index_;
  int abapprog_index_;
  int variant_index_;
  int blocksize_index_;
  int dest_index_;
  int dhandle_index_;
  char16_t dialog_flag_[2];
  std::u16string blocksize_;
  std::u16string dhandle_;
};

#endif
