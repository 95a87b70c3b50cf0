#ifndef VURUDE_SSI_CBF_H
#define VURUDE_SSI_CBF_H

#include "vurude_base_cbf.h"

#include <cstddef>

// Z_VOK_SEND_SYSTEM_INFO: the partner's system information and what a
// background extraction needs of it: the destination, the program id and
// gateway under which the job reaches this server, the gateway flag and a
// message that says why batch is not possible. Kept with the logon as the
// connection's system information.
class Vurude_Ssi_Cbf : public Vurude_Base_Cbf
{
public:
  // Characters of the values; each buffer holds one more for the terminator.
  static constexpr std::size_t sysinfo_units = 200;
  static constexpr std::size_t text_units = 250;

  explicit Vurude_Ssi_Cbf (const char16_t *label);

  // Reads the call; cuts BATPRID, BATDEST, BATGWH and BATGWS at their first
  // blank and drops the trailing blanks of BATMESS and SYSINFO.
  int getdata (RFC_HANDLE handle) override;

  // Zero-terminated.
  const char16_t *sysinfo () const { return sysinfo_; }
  const char16_t *batdest () const { return batdest_; }
  const char16_t *batprid () const { return batprid_; }
  const char16_t *batgwh () const { return batgwh_; }
  const char16_t *batgws () const { return batgws_; }
  char16_t batgwfl () const { return batgwfl_[0]; }
  const char16_t *batmess () const { return batmess_; }

private:
  char16_t sysinfo_[sysinfo_units + 1];
  char16_t batdest_[text_units + 1];
  char16_t batprid_[text_units + 1];
  char16_t batgwh_[text_units + 1];
  char16_t batgws_[text_units + 1];
  char16_t batgwfl_[2];
  char16_t batmess_[text_units + 1];
};

#endif
