#include "vurude_grp_gselect_cbf.h"

#include "vurude_itab.h"

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNodeList.hpp>

int Vurude_Grp_Gselect_Cbf::grp_senddata (RFC_HANDLE handle)
{
  if (reinitialise () != 0)
    return fail_no_memory ();
  Vurude_Itab jdata (jdata_table ());
  Vurude_Itab mdata (mdata_table ());
  request->encode_kind (jdata);
  xercesc::DOMElement *root = request->get_root ();
  std::u16string default_table;
  xercesc::DOMNodeList *table_elements = root->getElementsByTagName (u"table");
  for (XMLSize_t i = 0; i < table_elements->getLength (); ++i)
    {
      xercesc::DOMElement *table = static_cast<xercesc::DOMElement *> (table_elements->item (i));
      request->encode_table (table, jdata, default_table);
      request->encode_clause (table, u"on", "O,%d", request->clause_counter (Vurude_Base_Request::CLAUSE_ON), jdata);
    }
  request->encode_clauses (root, jdata);
  request->encode_fields (root, mdata, default_table);
  return send_checked (handle);
}
