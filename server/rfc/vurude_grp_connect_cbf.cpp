#include "vurude_grp_connect_cbf.h"

#include "nt_vurude_service_options.h"

#include <new>

Vurude_Grp_Connect_Cbf::Vurude_Grp_Connect_Cbf (const char16_t *label, const std::u16string &read_report_name)
  : Vurude_Base_Cbf (label),
    func_flag_ {u'I', 0}
{
  try
    {
      abapprog_ = read_report_name;
      variant_ = OPTIONS::instance ()->variant ();
    }
  catch (const std::bad_alloc &)
    {
      set_incomplete ();
      return;
    }
  declare_send (u"FUNC_FLAG", func_flag_, 2);
  declare_send (u"ABAPPROG", abapprog_.data (), static_cast<int> (2 * abapprog_.size ()));
  declare_send (u"VARIANT", variant_.data (), static_cast<int> (2 * variant_.size ()));
  prepare ();
}
