#include "vurude_grp_cbf.h"

#include "nt_vurude_service_options.h"
#include "vurude_base_handler.h"
#include "vurude_ssi_cbf.h"

#include <new>

Vurude_Grp_Cbf::Vurude_Grp_Cbf (const char16_t *label, Vurude_Base_Request *owner)
  : Vurude_Base_Cbf (label),
    request (owner),
    func_flag_ {u' ', 0},
    debug_ {u' ', 0}
{
}

Vurude_Request_Ref Vurude_Grp_Cbf::current_request () const
{
  Vurude_Base_Handler *handler = request ? request->get_handler () : nullptr;
  Vurude_Request_Ref current = handler ? handler->current_request () : Vurude_Request_Ref ();
  return current ? current : Vurude_Request_Ref (request);
}

int Vurude_Grp_Cbf::compute_common (Vurude_Base_Request &current)
{
  func_flag_[0] = func_flag (current.get_metadata_flag (), current.get_data_flag ());
  debug_[0] = current.get_debug_flag ();
  try
    {
      abapprog_ = current.read_report_name ();
      variant_ = OPTIONS::instance ()->variant ();
      dest_.clear ();
      if (current.get_batch_flag () == u'Y')
        {
          const Vurude_Base_Request *logon = current.connect_request ();
          const Vurude_Ssi_Cbf *ssi = logon ? logon->get_ssi_cbf () : nullptr;
          if (ssi)
            dest_ = ssi->batdest ();
        }
    }
  catch (const std::bad_alloc &)
    {
      return -1;
    }
  return 0;
}
