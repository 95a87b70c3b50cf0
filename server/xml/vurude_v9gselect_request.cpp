#include "vurude_v9gselect_request.h"

int Vurude_V9gselect_Request::parse_attributes ()
{
  const int result = Vurude_Base_Request::parse_attributes ();
  if (result == 0)
    grp_handler = &Vurude_Base_Request::handle_grpgsel;
  return result;
}

int Vurude_V9gselect_Request::call_req_function ()
{
  const int result = Vurude_Base_Request::call_req_function ();
  return result == 0 ? 13 : result;
}
