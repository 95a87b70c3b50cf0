#ifndef VURUDE_MDATA_CBF_H
#define VURUDE_MDATA_CBF_H

#include "vurude_base_cbf.h"
#include "vurude_itab.h"

#include <memory>

// Z_VOK_MDATA: metadata lines (MTAB) for the client.
class Vurude_Mdata_Cbf : public Vurude_Base_Cbf
{
public:
  static constexpr unsigned mtab_line_bytes = 1024;

  explicit Vurude_Mdata_Cbf (const char16_t *label);

  // Reads the call and wraps MTAB; a failed read returns at once, without
  // a wrapper.
  int getdata (RFC_HANDLE handle) override;

  // MTAB, not owned by the wrapper; null before a read and after a failed one.
  Vurude_Itab *mtab () { return mtab_.get (); }

private:
  int mtab_index_;
  std::unique_ptr<Vurude_Itab> mtab_;
};

#endif
