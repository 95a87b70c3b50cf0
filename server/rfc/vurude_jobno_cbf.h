#ifndef VURUDE_JOBNO_CBF_H
#define VURUDE_JOBNO_CBF_H

#include "vurude_base_cbf.h"

#include <cstddef>

// Z_VOK_GET_TOKEN: a background job names its job number and is answered
// with a token, the handle of the connection that serves it.
class Vurude_Jobno_Cbf : public Vurude_Base_Cbf
{
public:
  static constexpr std::size_t jobno_units = 8;
  // The token field: this many characters, terminator included.
  static constexpr std::size_t token_units = 100;

  explicit Vurude_Jobno_Cbf (const char16_t *label);

  // Reads the call; cuts the job number at its first blank.
  int getdata (RFC_HANDLE handle) override;

  // Zero-terminated.
  const char16_t *jobno () const { return jobno_; }

  // The answer: the text (at most 99 characters; null is empty) with its
  // terminator, zeros after it, as Z_VOK_TOKEN of 200 bytes. 0, or -1
  // without memory.
  int set_token (const char16_t *text);

private:
  char16_t jobno_[jobno_units + 1];
  char16_t token_[token_units];
};

#endif
