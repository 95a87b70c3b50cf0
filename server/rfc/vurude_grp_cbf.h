#ifndef VURUDE_GRP_CBF_H
#define VURUDE_GRP_CBF_H

#include "vurude_base_cbf.h"
#include "vurude_base_request.h"

#include <string>

// What the answers to Z_VOK_GET_REQUEST_PARAMETERS of the function and the
// select requests share: they are computed from the request that is current
// on the owning request's connection when the partner asks.
class Vurude_Grp_Cbf : public Vurude_Base_Cbf
{
protected:
  Vurude_Grp_Cbf (const char16_t *label, Vurude_Base_Request *request);

  // The current request of the owning request's handler, referenced while
  // the answer is built; the owning request when the handler has none.
  Vurude_Request_Ref current_request () const;

  // FUNC_FLAG, ABAPPROG, VARIANT, DEBUG and DEST (BATDEST of the logon's
  // system information in batch mode, else empty) of `current`.
  // 0, or -1 without memory.
  int compute_common (Vurude_Base_Request &current);

  // The owning request; not owned.
  Vurude_Base_Request *request;
  char16_t func_flag_[2];
  char16_t debug_[2];
  std::u16string abapprog_;
  std::u16string variant_;
  std::u16string dest_;
};

#endif
