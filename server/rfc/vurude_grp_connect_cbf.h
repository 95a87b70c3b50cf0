#ifndef VURUDE_GRP_CONNECT_CBF_H
#define VURUDE_GRP_CONNECT_CBF_H

#include "vurude_base_cbf.h"

#include <string>

// Z_VOK_GET_REQUEST_PARAMETERS of a logon: FUNC_FLAG "I", the read report
// and the server's variant option.
class Vurude_Grp_Connect_Cbf : public Vurude_Base_Cbf
{
public:
  Vurude_Grp_Connect_Cbf (const char16_t *label, const std::u16string &read_report_name);

private:
  char16_t func_flag_[2];
  std::u16string abapprog_;
  std::u16string variant_;
};

#endif
