#ifndef VURUDE_GRP_GSELECT_CBF_H
#define VURUDE_GRP_GSELECT_CBF_H

#include "vurude_grp_base_select_cbf.h"

// The request parameters of a gselect request, with the statement written
// into JDATA and MDATA: a grouped statement whose parts come in any order: the kind line,
// every table with its join conditions, the clauses of the root, then the
// fields, whose default table is the last table.
class Vurude_Grp_Gselect_Cbf : public Vurude_Grp_Base_Select_Cbf
{
public:
  using Vurude_Grp_Base_Select_Cbf::Vurude_Grp_Base_Select_Cbf;

  // Vurude_Grp_Base_Select_Cbf
  int grp_senddata (RFC_HANDLE handle) override;
};

#endif
