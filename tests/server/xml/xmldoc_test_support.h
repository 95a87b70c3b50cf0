#ifndef VURUDE_XMLDOC_TEST_SUPPORT_H
#define VURUDE_XMLDOC_TEST_SUPPORT_H

#include "vurude_xml_reply_sink.h"
#include "vurude_xml_request_document.h"

#include <ace/Message_Block.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The replies a parse sent, UTF-8, in order.
class Captured_Replies : public Vurude_Xml_Reply_Sink
{
public:
  void error_reply (std::u16string_view message) override;
  void error_reply (std::string_view message) override;

  std::vector<std::string> lines;
  // Whether each reply was single-byte text.
  std::vector<bool> narrow;
};

// A message-block chain holding `text`, cut before each offset in `cuts`
// (ascending; a repeated offset makes an empty block).
class Chain
{
public:
  explicit Chain (std::string_view text, const std::vector<std::size_t> &cuts = {});
  ~Chain ();
  Chain (const Chain &) = delete;
  Chain &operator= (const Chain &) = delete;

  ACE_Message_Block *head () const { return head_; }

private:
  ACE_Message_Block *head_;
};

// What parsing one request text gave.
struct Parse_Outcome
{
  int result = -1;
  std::vector<std::string> replies;
  std::u16string root;
  std::unique_ptr<xercesc::XercesDOMParser> parser;
};

// Runs `work` on a thread with a connection worker's stack and waits for it.
void on_worker_stack (const std::function<void ()> &work);

// The request parse sequence over `text` cut at `cuts`, on a worker's stack.
Parse_Outcome parse_request (std::string_view text, const std::vector<std::size_t> &cuts = {});

// Initialises the XML library once per process (never terminated: the
// options' transcoder lives until exit).
void initialise_xml ();

#endif
