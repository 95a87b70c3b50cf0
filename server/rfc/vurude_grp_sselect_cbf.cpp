#include "vurude_grp_sselect_cbf.h"

#include "vurude_itab.h"

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNodeList.hpp>

int Vurude_Grp_Sselect_Cbf::grp_senddata (RFC_HANDLE handle)
{
  if (reinitialise () != 0)
    return fail_no_memory ();
  Vurude_Itab jdata (jdata_table ());
  Vurude_Itab mdata (mdata_table ());
  request->encode_kind (jdata);
  request->encode_select (request->get_root (), jdata, mdata);
  return send_checked (handle);
}
