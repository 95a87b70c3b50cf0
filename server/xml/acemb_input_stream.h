#ifndef ACEMB_INPUT_STREAM_H
#define ACEMB_INPUT_STREAM_H

#include <xercesc/util/BinInputStream.hpp>

class ACE_Message_Block;

// Reads a prefix text and then the blocks of a message-block chain in
// place, without joining them. One read never mixes prefix and chain bytes
// and never spans two blocks. Reading consumes the chain: the blocks' read
// positions advance; their owner releases them afterwards.
class ACEMBInputStream : public xercesc::BinInputStream
{
public:
  // `chain` is not owned; `prefix` (may be null) is copied into a block of
  // the stream's own.
  ACEMBInputStream (ACE_Message_Block *chain, const char *prefix);
  ~ACEMBInputStream () override;

  ACEMBInputStream (const ACEMBInputStream &) = delete;
  ACEMBInputStream &operator= (const ACEMBInputStream &) = delete;

  // Whether the prefix could be copied.
  bool valid () const;

  // BinInputStream
  // Always 0: the parser only reports it.
  XMLFilePos curPos () const override;
  // Up to `max_to_read` bytes of the prefix, else of the current block;
  // 0 at the end of the chain.
  XMLSize_t readBytes (XMLByte *const to_fill, const XMLSize_t max_to_read) override;
  const XMLCh *getContentType () const override;

private:
  ACE_Message_Block *current_;
  ACE_Message_Block *prefix_;
  bool valid_;
};

#endif
