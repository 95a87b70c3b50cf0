#include "vurude_request_assembler.h"

#include <ace/Message_Block.h>

Vurude_Request_Assembler::Vurude_Request_Assembler (std::size_t max_bytes)
  : max_bytes_ (max_bytes),
    head_ (nullptr),
    tail_ (nullptr),
    bytes_ (0),
    complete_ (false)
{
}

Vurude_Request_Assembler::~Vurude_Request_Assembler ()
{
  drop ();
}

void Vurude_Request_Assembler::drop ()
{
  if (head_)
    head_->release ();
  head_ = tail_ = nullptr;
  bytes_ = 0;
  complete_ = false;
}

Vurude_Request_Assembler::Step Vurude_Request_Assembler::add (ACE_Message_Block *block)
{
  if (complete_)
    drop ();
  if (block->length () == 0)
    {
      block->release ();
      return more;
    }
  if (tail_)
    tail_->cont (block);
  else
    head_ = block;
  tail_ = block;
  bytes_ += block->length ();
  if (bytes_ > max_bytes_)
    {
      drop ();
      return too_large;
    }
  const char *end = block->wr_ptr ();
  if (end[-1] != '\n')
    return more;
  // Only a backslash in this same read makes a continuation: a line feed
  // arriving alone ends the request, backslash and all.
  if (block->length () >= 2 && end[-2] == '\\')
    {
      block->wr_ptr (block->wr_ptr () - 2);
      return continued;
    }
  block->wr_ptr (block->wr_ptr () - 1);
  complete_ = true;
  return complete;
}

ACE_Message_Block *Vurude_Request_Assembler::take ()
{
  if (!complete_)
    return nullptr;
  ACE_Message_Block *request = head_;
  head_ = tail_ = nullptr;
  bytes_ = 0;
  complete_ = false;
  return request;
}
