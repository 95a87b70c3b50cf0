// The request parse sequence on arbitrary bytes: the first byte chooses
// where the text is cut into message blocks, the rest is the request text.
#include "vurude_xml_reply_sink.h"
#include "vurude_xml_request_document.h"

#include <ace/Log_Msg.h>
#include <ace/Message_Block.h>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace
{
class Discarded_Replies : public Vurude_Xml_Reply_Sink
{
public:
  void error_reply (std::u16string_view message) override { check (message.size ()); }
  void error_reply (std::string_view message) override { check (message.size ()); }

  int count = 0;

private:
  void check (std::size_t units)
  {
    if (units > max_message_units)
      std::abort ();
    ++count;
  }
};
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, std::size_t size)
{
  static const bool initialised = [] {
    xercesc::XMLPlatformUtils::Initialize ();
    ACE_LOG_MSG->priority_mask (0, ACE_Log_Msg::PROCESS);
    return true;
  }();
  (void) initialised;
  if (size == 0)
    return 0;
  // Up to four blocks, cut at multiples of the low bits of the first byte.
  const std::size_t step = (data[0] & 0x3F) + 1;
  const char *text = reinterpret_cast<const char *> (data + 1);
  const std::size_t length = size - 1;
  ACE_Message_Block *head = nullptr;
  ACE_Message_Block *tail = nullptr;
  std::size_t from = 0;
  for (int block = 0; block < 4 && (from < length || !head); ++block)
    {
      const std::size_t end = block == 3 ? length : std::min (length, from + step);
      auto *piece = new ACE_Message_Block (end - from + 1);
      piece->copy (text + from, end - from);
      if (tail)
        tail->cont (piece);
      else
        head = piece;
      tail = piece;
      from = end;
    }
  if (from < length)
    {
      auto *rest = new ACE_Message_Block (length - from + 1);
      rest->copy (text + from, length - from);
      tail->cont (rest);
    }

  Discarded_Replies replies;
  Vurude_Xml_Request_Document document (replies);
  const int result = document.parse (head);
  // A parse either keeps a document or has answered.
  if ((result == 0) != (replies.count == 0) || (result == 0 && !document.take_parser ()->getDocument ()))
    std::abort ();
  head->release ();
  return 0;
}
