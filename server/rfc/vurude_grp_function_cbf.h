#ifndef VURUDE_GRP_FUNCTION_CBF_H
#define VURUDE_GRP_FUNCTION_CBF_H

#include "vurude_grp_cbf.h"

#include <string>

// Z_VOK_GET_REQUEST_PARAMETERS of a function request. Every answer is built
// anew from the current request: FUNC_FLAG, ABAPPROG, VARIANT, BLOCKSIZE
// "00000000", DEBUG, DEST (batch only), FUNC_NAME and DHANDLE.
class Vurude_Grp_Function_Cbf : public Vurude_Grp_Cbf
{
public:
  Vurude_Grp_Function_Cbf (const char16_t *label, Vurude_Base_Request *request);

  // prepare_get, then get_data.
  int getdata (RFC_HANDLE handle) override;
  // Replaces the send parameters by the answer, then send_data.
  int senddata (RFC_HANDLE handle) override;

private:
  int build_answer (Vurude_Base_Request &current);

  std::u16string blocksize_;
  std::u16string func_name_;
  std::u16string dhandle_;
};

#endif
