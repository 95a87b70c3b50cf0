#include "vok_receive_buffer.h"

#include <algorithm>
#include <utility>

Vok_Receive_Buffer::Vok_Receive_Buffer (Vok_Receive_Buffer &&other) noexcept
  : data_ (std::move (other.data_)),
    begin_ (std::exchange (other.begin_, 0)),
    committed_ (std::exchange (other.committed_, 0))
{
  other.data_.clear ();
}

Vok_Receive_Buffer &Vok_Receive_Buffer::operator= (Vok_Receive_Buffer &&other) noexcept
{
  if (this != &other)
    {
      data_ = std::move (other.data_);
      begin_ = std::exchange (other.begin_, 0);
      committed_ = std::exchange (other.committed_, 0);
      other.data_.clear ();
    }
  return *this;
}

char *Vok_Receive_Buffer::prepare (std::size_t count)
{
  // Taken bytes are dropped only when room is needed, so a long reply is not
  // moved once per line.
  if (begin_ > 0 && data_.capacity () - committed_ < count)
    {
      data_.erase (0, begin_);
      committed_ -= begin_;
      begin_ = 0;
    }
  data_.resize (committed_ + count);
  return data_.data () + committed_;
}

void Vok_Receive_Buffer::commit (std::size_t count)
{
  committed_ = std::min (committed_ + count, data_.size ());
  data_.resize (committed_);
}

std::size_t Vok_Receive_Buffer::line_length (std::size_t max_bytes) const
{
  const std::string_view bytes = view ().substr (0, max_bytes);
  const std::size_t end = bytes.find ('\n');
  return end == std::string_view::npos ? 0 : end + 1;
}

std::string Vok_Receive_Buffer::take (std::size_t count)
{
  count = std::min (count, size ());
  std::string bytes = data_.substr (begin_, count);
  begin_ += count;
  if (begin_ == committed_)
    {
      data_.clear ();
      begin_ = committed_ = 0;
    }
  return bytes;
}
