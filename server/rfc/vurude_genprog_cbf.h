#ifndef VURUDE_GENPROG_CBF_H
#define VURUDE_GENPROG_CBF_H

#include "vurude_base_cbf.h"
#include "vurude_itab.h"

#include <cstddef>
#include <memory>

// Z_VOK_GENPROG: lines of a program the partner generated (LTAB), for the
// client to see, with a return code and a data handle that are read but not
// used.
class Vurude_Genprog_Cbf : public Vurude_Base_Cbf
{
public:
  static constexpr std::size_t rc_units = 8;
  static constexpr std::size_t dhandle_units = 130;
  static constexpr unsigned ltab_line_bytes = 510;

  explicit Vurude_Genprog_Cbf (const char16_t *label);

  // Reads the call and wraps LTAB; no wrapper after a failed read.
  int getdata (RFC_HANDLE handle) override;

  // LTAB, not owned by the wrapper; null before a read and after a failed one.
  Vurude_Itab *ltab () { return ltab_.get (); }

private:
  char16_t rc_[rc_units + 1];
  char16_t dhandle_[dhandle_units + 1];
  int ltab_index_;
  std::unique_ptr<Vurude_Itab> ltab_;
};

#endif
