#ifndef VOK_RECEIVE_BUFFER_H
#define VOK_RECEIVE_BUFFER_H

#include <cstddef>
#include <string>
#include <string_view>

// Bytes received and not yet handed to the caller. Lines and records are cut
// out of it whatever the sizes of the reads that brought them.
class Vok_Receive_Buffer
{
public:
  Vok_Receive_Buffer () = default;
  // A buffer moved from is left empty, not with offsets past its bytes.
  Vok_Receive_Buffer (Vok_Receive_Buffer &&other) noexcept;
  Vok_Receive_Buffer &operator= (Vok_Receive_Buffer &&other) noexcept;
  Vok_Receive_Buffer (const Vok_Receive_Buffer &) = delete;
  Vok_Receive_Buffer &operator= (const Vok_Receive_Buffer &) = delete;
  ~Vok_Receive_Buffer () = default;

  // Room for `count` more bytes at the end; `commit` then tells how many
  // were written there (0 when the read failed).
  char *prepare (std::size_t count);
  void commit (std::size_t count);

  std::size_t size () const { return committed_ - begin_; }
  std::string_view view () const { return std::string_view (data_).substr (begin_, size ()); }

  // Length of the first line, its line feed included, when that line feed
  // lies within the first `max_bytes` bytes; 0 otherwise.
  std::size_t line_length (std::size_t max_bytes) const;

  // Removes the first `count` bytes (at most size()) and returns them.
  std::string take (std::size_t count);

private:
  std::string data_;
  std::size_t begin_ = 0;      // first byte not yet taken
  std::size_t committed_ = 0;  // end of the received bytes within data_
};

#endif
