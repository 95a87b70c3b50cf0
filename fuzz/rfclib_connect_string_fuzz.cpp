// Feeds arbitrary bytes, read as UTF-16, to the library's connect-string
// parser and to the service and system-number readers over the values it
// finds. Nothing may crash, leak, hang or read out of bounds. No host name is
// resolved: that would reach for the network.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "../rfclib/src/connect_string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);

  rfclib::ConnectString cs;
  rfclib::Error error;
  if (!cs.parse(text, error)) return 0;
  std::uint16_t port = 0;
  for (const char* key : {"sysnr", "gwserv"}) {
    const std::u16string value = cs.get(key);
    if (!value.empty()) rfclib::port_of_system_number(value, port, error);
  }
  const std::u16string service = cs.get("gwserv");
  if (!service.empty()) rfclib::resolve_service(service, port, error);
  cs.has("passwd");
  return 0;
}
