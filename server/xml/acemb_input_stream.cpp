#include "acemb_input_stream.h"

#include <ace/Message_Block.h>

#include <algorithm>
#include <cstring>
#include <new>

ACEMBInputStream::ACEMBInputStream (ACE_Message_Block *chain, const char *prefix)
  : current_ (chain),
    prefix_ (nullptr),
    valid_ (true)
{
  if (!prefix)
    return;
  const std::size_t length = std::strlen (prefix);
  prefix_ = new (std::nothrow) ACE_Message_Block (length);
  if (!prefix_ || prefix_->size () < length)
    {
      valid_ = false;
      return;
    }
  prefix_->copy (prefix, length);
}

ACEMBInputStream::~ACEMBInputStream ()
{
  if (prefix_)
    prefix_->release ();
}

bool ACEMBInputStream::valid () const
{
  return valid_;
}

XMLFilePos ACEMBInputStream::curPos () const
{
  return 0;
}

XMLSize_t ACEMBInputStream::readBytes (XMLByte *const to_fill, const XMLSize_t max_to_read)
{
  ACE_Message_Block *block = prefix_ && prefix_->length () > 0 ? prefix_ : nullptr;
  if (!block)
    {
      while (current_ && current_->length () == 0)
        current_ = current_->cont ();
      if (!current_)
        return 0;
      block = current_;
    }
  const std::size_t count = std::min<std::size_t> (block->length (), max_to_read);
  std::memcpy (to_fill, block->rd_ptr (), count);
  block->rd_ptr (count);
  if (block == current_ && current_->length () == 0)
    current_ = current_->cont ();
  return count;
}

const XMLCh *ACEMBInputStream::getContentType () const
{
  return nullptr;
}
