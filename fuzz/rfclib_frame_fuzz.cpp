// Feeds arbitrary bytes to the library's frame and message decoders: the
// handshake payload decoders, then the item reader with a receiver that has
// parameters and tables of several kinds. Nothing may crash, leak or hang.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../rfclib/src/byte_source.h"
#include "../rfclib/src/handshake.h"
#include "../rfclib/src/itab.h"
#include "../rfclib/src/message_reader.h"
#include "rfclib/rfclib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  rfclib::Hello hello;
  rfclib::Welcome welcome;
  rfclib::CheckResult check;
  rfclib::Error error;
  rfclib::decode_hello(bytes, hello);
  rfclib::decode_welcome(bytes, welcome);
  rfclib::decode_refuse(bytes, error);
  rfclib::decode_check_result(bytes, check);
  rfclib::decode_abort(bytes, error);

  char16_t text[8];
  unsigned char raw[16];
  std::int32_t number = 0;
  RFC_PARAMETER parameters[] = {{u"TEXT", 0, RFCTYPE_CHAR, sizeof text, text},
                                {u"RAW", 0, RFCTYPE_BYTE, sizeof raw, raw},
                                {u"INT", 0, RFCTYPE_INT, sizeof number, &number},
                                {nullptr, 0, 0, 0, nullptr}};
  ITAB_H existing = ItCreate(u"EXISTING", 4, 0, 0);
  RFC_TABLE tables[] = {{u"LINES", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0},
                        {u"CHARS", 0, RFCTYPE_CHAR, 6, nullptr, 0, 0},
                        {u"EXISTING", 0, RFCTYPE_BYTE, 4, existing, 0, 0},
                        {nullptr, 0, 0, 0, nullptr, 0, 0}};

  rfclib::MemorySource source(data, size);
  rfclib::MessageReader reader(source);
  std::vector<rfclib::Itab*> received;
  // A message header first (as RfcReceive reads it), then its items.
  rfclib::wire::FrameHeader header;
  std::vector<std::uint8_t> payload;
  if (reader.read_header(header) &&
      (header.type == rfclib::wire::FrameType::param || reader.read_payload(header, payload))) {
    while (reader.read_items(parameters, tables, received)) {
    }
  }
  for (int k = 0; k < 2; ++k) {
    if (tables[k].ithandle != nullptr) ItDelete(tables[k].ithandle);
  }
  ItDelete(existing);
  return 0;
}
