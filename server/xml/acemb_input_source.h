#ifndef ACEMB_INPUT_SOURCE_H
#define ACEMB_INPUT_SOURCE_H

#include <xercesc/sax/InputSource.hpp>

class ACE_Message_Block;

// A parser input over a received message-block chain, optionally behind a
// prefix text. Neither is owned; both must outlive the parse. No system id,
// public id or encoding is set.
class ACEMBInputSource : public xercesc::InputSource
{
public:
  explicit ACEMBInputSource (ACE_Message_Block *chain, const char *prefix = nullptr);

  // InputSource
  // A new ACEMBInputStream over the chain and prefix; null when the
  // prefix cannot be copied.
  xercesc::BinInputStream *makeStream () const override;

private:
  ACE_Message_Block *chain_;
  const char *prefix_;
};

#endif
