#include "vurude_grp_base_select_cbf.h"

#include "nt_vurude_service_options.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <cstdio>
#include <new>

namespace
{
int text_bytes (const std::u16string &text)
{
  return static_cast<int> (2 * text.size ());
}
}

Vurude_Grp_Base_Select_Cbf::Vurude_Grp_Base_Select_Cbf (const char16_t *label, Vurude_Base_Request *owner)
  : Vurude_Grp_Cbf (label, owner),
    initialised_ (false),
    initialise_result_ (0),
    mdata_index_ (-1),
    jdata_index_ (-1),
    abapprog_index_ (-1),
    variant_index_ (-1),
    blocksize_index_ (-1),
    dest_index_ (-1),
    dhandle_index_ (-1),
    dialog_flag_ {OPTIONS::instance ()->unlimited_dialog (), 0}
{
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Entering Vurude_Grp_Base_Select_Cbf constructor\n"));
}

int Vurude_Grp_Base_Select_Cbf::initialise ()
{
  if (initialised_)
    return initialise_result_;
  initialised_ = true;
  mdata_index_ = declare_table (u"MDATA", RFCTYPE_CHAR, statement_line_bytes);
  jdata_index_ = declare_table (u"JDATA", RFCTYPE_CHAR, statement_line_bytes);
  declare_send (u"FUNC_FLAG", func_flag_, 2);
  abapprog_index_ = declare_send (u"ABAPPROG", abapprog_.data (), 0);
  variant_index_ = declare_send (u"VARIANT", variant_.data (), 0);
  blocksize_index_ = declare_send (u"BLOCKSIZE", blocksize_.data (), 0);
  declare_send (u"DEBUG", debug_, 2);
  dest_index_ = declare_send (u"DEST", dest_.data (), 0);
  dhandle_index_ = declare_send (u"DHANDLE", dhandle_.data (), 0);
  declare_send (u"DIALOG_FLAG", dialog_flag_, 2);
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) In Vurude_Grp_Base_Select_Cbf::initialise - about to call prepare()\n"));
  const int prepared = prepare ();
  initialise_result_ = prepared == 0 && !incomplete () ? 0 : -1;
  return initialise_result_;
}

int Vurude_Grp_Base_Select_Cbf::reinitialise ()
{
  if (initialise () != 0)
    return -1;
  const Vurude_Request_Ref current = current_request ();
  if (!current || compute_common (*current.get ()) != 0)
    return -1;
  const int size = std::clamp (std::max (current->get_bufmax (), OPTIONS::instance ()->min_bufsize ()),
                               0, max_blocksize);
  char digits[16];
  std::snprintf (digits, sizeof digits, "%.8d", size);
  try
    {
      blocksize_.assign (digits, digits + std::char_traits<char>::length (digits));
      dhandle_ = current->get_grp_dh ();
    }
  catch (const std::bad_alloc &)
    {
      return -1;
    }
  set_export_data_ptr (abapprog_index_, abapprog_.data (), text_bytes (abapprog_));
  set_export_data_ptr (variant_index_, variant_.data (), text_bytes (variant_));
  set_export_data_ptr (blocksize_index_, blocksize_.data (), text_bytes (blocksize_));
  set_export_data_ptr (dest_index_, dest_.data (), text_bytes (dest_));
  set_export_data_ptr (dhandle_index_, dhandle_.data (), text_bytes (dhandle_));
  return 0;
}

int Vurude_Grp_Base_Select_Cbf::grp_getdata (RFC_HANDLE handle)
{
  initialise ();
  return get_checked (handle);
}

int Vurude_Grp_Base_Select_Cbf::grp_senddata (RFC_HANDLE handle)
{
  if (reinitialise () != 0)
    return fail_no_memory ();
  return send_checked (handle);
}
