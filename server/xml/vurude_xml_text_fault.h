#ifndef VURUDE_XML_TEXT_FAULT_H
#define VURUDE_XML_TEXT_FAULT_H

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <string>
#include <string_view>

// The first byte of a request text that no request document may hold: a
// zero byte, which the XML library takes for the end of its input (so a
// document cut short there would pass), or a byte that does not begin a
// valid UTF-8 sequence, which the library finds only while it decodes a
// batch ahead of where it reads, and cannot place.
struct Vurude_Xml_Text_Fault
{
  // Offset of the byte in the text; npos when the text has no fault.
  std::size_t offset = std::string_view::npos;
  // Its position as the XML library counts one (line 1, column 1 being the
  // text's first byte): CR, LF and CR LF end a line, a character beyond
  // U+FFFF takes two columns.
  XMLFileLoc line = 0;
  XMLFileLoc column = 0;
  // "invalid character 0x0" or "invalid UTF-8 sequence starting with byte 0xNN".
  std::u16string message;

  bool found () const { return offset != std::string_view::npos; }
};

// The first fault of `text`, or one that is not found().
Vurude_Xml_Text_Fault find_text_fault (std::string_view text);

#endif
