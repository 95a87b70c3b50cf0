#ifndef VURUDE_V9SSELECT_REQUEST_H
#define VURUDE_V9SSELECT_REQUEST_H

#include "vurude_base_request.h"

// A sselect document: one select on one table or join. The partner asks for the
// statement during the dialog call and streams the rows it selects; the
// connection ends once they are delivered.
class Vurude_V9sselect_Request : public Vurude_Base_Request
{
public:
  using Vurude_Base_Request::Vurude_Base_Request;

  // Vurude_Base_Request
  int parse_attributes () override;
  // 13 after success too: a select is answered once.
  int call_req_function () override;

protected:
  ~Vurude_V9sselect_Request () override = default;
};

#endif
