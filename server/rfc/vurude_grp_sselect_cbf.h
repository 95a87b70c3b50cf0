#ifndef VURUDE_GRP_SSELECT_CBF_H
#define VURUDE_GRP_SSELECT_CBF_H

#include "vurude_grp_base_select_cbf.h"

// The request parameters of a sselect request, with the statement written
// into JDATA and MDATA: one select statement: the kind line, then the statement of the root.
class Vurude_Grp_Sselect_Cbf : public Vurude_Grp_Base_Select_Cbf
{
public:
  using Vurude_Grp_Base_Select_Cbf::Vurude_Grp_Base_Select_Cbf;

  // Vurude_Grp_Base_Select_Cbf
  int grp_senddata (RFC_HANDLE handle) override;
};

#endif
