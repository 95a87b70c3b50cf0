#ifndef VURUDE_GRP_NSELECT_CBF_H
#define VURUDE_GRP_NSELECT_CBF_H

#include "vurude_grp_base_select_cbf.h"

// The request parameters of a nselect request, with the statement written
// into JDATA and MDATA: a sequence of statements: the kind line, then each inner sselect with
// its clause counts started afresh.
class Vurude_Grp_Nselect_Cbf : public Vurude_Grp_Base_Select_Cbf
{
public:
  using Vurude_Grp_Base_Select_Cbf::Vurude_Grp_Base_Select_Cbf;

  // Vurude_Grp_Base_Select_Cbf
  int grp_senddata (RFC_HANDLE handle) override;
};

#endif
