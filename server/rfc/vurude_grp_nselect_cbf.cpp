#include "vurude_grp_nselect_cbf.h"

#include "vurude_itab.h"

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNodeList.hpp>

int Vurude_Grp_Nselect_Cbf::grp_senddata (RFC_HANDLE handle)
{
  if (reinitialise () != 0)
    return fail_no_memory ();
  Vurude_Itab jdata (jdata_table ());
  Vurude_Itab mdata (mdata_table ());
  request->encode_kind (jdata);
  xercesc::DOMNodeList *statements = request->get_root ()->getElementsByTagName (u"sselect");
  for (XMLSize_t i = 0; i < statements->getLength (); ++i)
    {
      request->clear_counters ();
      request->encode_select (static_cast<xercesc::DOMElement *> (statements->item (i)), jdata, mdata);
    }
  return send_checked (handle);
}
