#include "vurude_grp_function_cbf.h"

#include "vurude_base_handler.h"

#include <new>

namespace
{
int text_bytes (const std::u16string &text)
{
  return static_cast<int> (2 * text.size ());
}
}

Vurude_Grp_Function_Cbf::Vurude_Grp_Function_Cbf (const char16_t *label, Vurude_Base_Request *owner)
  : Vurude_Grp_Cbf (label, owner)
{
}

int Vurude_Grp_Function_Cbf::getdata (RFC_HANDLE handle)
{
  prepare_get ();
  return get_checked (handle);
}

int Vurude_Grp_Function_Cbf::senddata (RFC_HANDLE handle)
{
  const Vurude_Request_Ref current = current_request ();
  if (!current || build_answer (*current.get ()) != 0)
    return fail_no_memory ();
  return send_checked (handle);
}

int Vurude_Grp_Function_Cbf::build_answer (Vurude_Base_Request &current)
{
  if (compute_common (current) != 0)
    return -1;
  try
    {
      blocksize_ = u"00000000";
      func_name_ = current.attribute (u"name");
      const Vurude_Base_Handler *data_handler = current.get_data_handler ();
      dhandle_ = data_handler ? data_handler->handle_name () : std::u16string ();
    }
  catch (const std::bad_alloc &)
    {
      return -1;
    }
  clear_send ();
  declare_send (u"FUNC_FLAG", func_flag_, 2);
  declare_send (u"ABAPPROG", abapprog_.data (), text_bytes (abapprog_));
  declare_send (u"VARIANT", variant_.data (), text_bytes (variant_));
  declare_send (u"BLOCKSIZE", blocksize_.data (), text_bytes (blocksize_));
  declare_send (u"DEBUG", debug_, 2);
  if (current.get_batch_flag () == u'Y')
    declare_send (u"DEST", dest_.data (), text_bytes (dest_));
  declare_send (u"FUNC_NAME", func_name_.data (), text_bytes (func_name_));
  declare_send (u"DHANDLE", dhandle_.data (), text_bytes (dhandle_));
  return prepare_send ();
}
