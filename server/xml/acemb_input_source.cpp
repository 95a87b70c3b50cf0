#include "acemb_input_source.h"

#include "acemb_input_stream.h"


ACEMBInputSource::ACEMBInputSource (ACE_Message_Block *chain, const char *prefix)
  : chain_ (chain),
    prefix_ (prefix)
{
}

xercesc::BinInputStream *ACEMBInputSource::makeStream () const
{
  // Allocated through the parser's memory manager (XMemory), which deletes it.
  ACEMBInputStream *stream = new ACEMBInputStream (chain_, prefix_);
  if (!stream->valid ())
    {
      delete stream;
      return nullptr;
    }
  return stream;
}
