#ifndef VURUDE_GWINFO_CBF_H
#define VURUDE_GWINFO_CBF_H

#include "vurude_base_cbf.h"

#include <cstddef>

// Z_VOK_JOB_NUMBER: the background job the partner scheduled (its count,
// "0" when the job is over) and the destination, program id and gateway
// under which the job will reach this server.
class Vurude_Gwinfo_Cbf : public Vurude_Base_Cbf
{
public:
  // Characters of the values; each buffer holds one more for the terminator.
  static constexpr std::size_t jobcount_units = 8;
  static constexpr std::size_t text_units = 256;

  // The five texts start as "0".
  explicit Vurude_Gwinfo_Cbf (const char16_t *label);

  // Reads the call; cuts JOBCOUNT, BATDEST, BATPRID, BATGWH and BATGWS at
  // their first blank.
  int getdata (RFC_HANDLE handle) override;

  // Zero-terminated.
  const char16_t *jobcount () const { return jobcount_; }
  const char16_t *batdest () const { return batdest_; }
  const char16_t *batprid () const { return batprid_; }
  const char16_t *batgwh () const { return batgwh_; }
  const char16_t *batgws () const { return batgws_; }
  char16_t batgwfl () const { return batgwfl_[0]; }

private:
  char16_t jobcount_[jobcount_units + 1];
  char16_t batdest_[text_units + 1];
  char16_t batprid_[text_units + 1];
  char16_t batgwh_[text_units + 1];
  char16_t batgws_[text_units + 1];
  char16_t batgwfl_[2];
};

#endif
