// Connect strings: parsing of name="value" pairs and finding the partner's
// host and port from them (docs/rfclib.md, "Connect strings").
#ifndef RFCLIB_CONNECT_STRING_H
#define RFCLIB_CONNECT_STRING_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "error.h"

namespace rfclib {

class ConnectString {
 public:
  // Keys are compared without regard to case; the last of repeated keys wins.
  bool parse(std::u16string_view text, Error& error);

  // The value of a key ("" when absent).
  std::u16string get(std::string_view key) const;
  bool has(std::string_view key) const;

  // Host and port to connect to.
  bool endpoint(std::string& host, std::uint16_t& port, Error& error) const;

 private:
  std::map<std::string, std::u16string> values_;
};

// Gateway service: "sapgwNN" (3300 + NN), a port number, or a name of the
// services database.
bool resolve_service(std::u16string_view service, std::uint16_t& port, Error& error);

// System number "NN" gives port 3300 + NN.
bool port_of_system_number(std::u16string_view sysnr, std::uint16_t& port, Error& error);

}  // namespace rfclib

#endif
