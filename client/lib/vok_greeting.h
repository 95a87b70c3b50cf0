#ifndef VOK_GREETING_H
#define VOK_GREETING_H

#include "vok_status.h"

#include <cstddef>
#include <string>
#include <string_view>

// How the server greets a new connection.
enum class Vok_Greeting_Form
{
  padded,       // main and batch-compatibility ports: the handle padded with blanks, 130 bytes in all
  handle_line   // dialog-compatibility port: "HANDLE <handle>\n"
};

// The first line of a connection, which names its client handle. The handle
// is an opaque token: the client only takes off the padding.
class Vok_Greeting
{
public:
  // Width of a padded greeting, its line feed included.
  static constexpr std::size_t padded_bytes = 130;
  static constexpr std::string_view handle_prefix = "HANDLE ";
  // Longest handle the server can send (the width of the padded form).
  static constexpr std::size_t max_handle_bytes = padded_bytes - 1;

  // The most bytes a greeting of `form` can take, its line feed included.
  static std::size_t max_bytes (Vok_Greeting_Form form);

  // Checks one complete greeting line, its line feed included, and yields
  // its handle.
  static Vok_Status parse (std::string_view line, Vok_Greeting_Form form, std::string &handle);
};

#endif
